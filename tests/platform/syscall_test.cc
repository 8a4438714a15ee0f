// The POSIX layer through its call table: an unlock that fails never leaves
// a file's open gate held (later opens of the file would wait forever), a
// failing fcntl fails the open instead of corrupting the descriptor's flags,
// and a bookmark file reaches the disk before it is renamed into place.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/file.h"
#include "logfile2/bookmark_store.h"
#include "platform/posix/syscalls.h"
#include "support/temp_dir.h"

namespace corvane::platform {
namespace {

int g_unlock_failures = 0, g_getfl_failures = 0, g_error = 0;
bool g_would_wait = false;

const SyscallTable* FaultyCalls() {
  static SyscallTable table = [] {
    SyscallTable t = SystemCalls();
    t.flock = [](int fd, int operation) {
      if (operation == LOCK_UN && g_unlock_failures > 0 && g_unlock_failures--) return errno = g_error, -1;
      // An exclusive lock that would wait is a gate left held: report it
      // instead of hanging the test.
      if (operation == LOCK_EX && ::flock(fd, LOCK_EX | LOCK_NB) != 0) return g_would_wait = true, errno = EIO, -1;
      return ::flock(fd, operation);
    };
    t.fcntl_flags = [](int fd, int command, int flags) {
      if (command == F_GETFL && g_getfl_failures > 0 && g_getfl_failures--) return errno = g_error, -1;
      return SystemCalls().fcntl_flags(fd, command, flags);
    };
    return t;
  }();
  return &table;
}

TEST(SyscallFaultTest, FailedUnlocksAndFlagReadsNeverHoldTheGateOrCorruptTheHandle) {
  const struct { int unlock_failures, getfl_failures, error; bool first_opens; } cases[] = {
      {1, 0, EINTR, true}, {5, 0, EIO, false}, {0, 1, EIO, false}, {0, 1, EBADF, false}};
  test::TempDir dir;
  const std::string path = dir.File("gate.log");
  const OpenOptions options{kAccessRead | kAccessWrite, kShareRead | kShareWrite, Disposition::kOpenAlways, false};
  SetSyscalls(FaultyCalls());
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.unlock_failures << " " << c.getfl_failures << " " << c.error);
    g_unlock_failures = c.unlock_failures, g_getfl_failures = c.getfl_failures, g_error = c.error;
    g_would_wait = false;
    std::unique_ptr<File> first, second;
    EXPECT_EQ(OpenFile(path, options, &first).ok(), c.first_opens);
    g_unlock_failures = g_getfl_failures = 0;
    ASSERT_TRUE(OpenFile(path, options, &second).ok());
    EXPECT_FALSE(g_would_wait);
    uint32_t written = 0, got = 0;
    char byte = 0;
    // Blocking I/O on a descriptor whose flags were read back correctly.
    EXPECT_TRUE(second->Write("x", 1, &written).ok() && second->Seek(0, SeekOrigin::kBegin, nullptr).ok() &&
                second->Read(&byte, 1, &got).ok() && got == 1);
  }
  SetSyscalls(nullptr);
}

std::vector<std::string> g_calls;

TEST(SyscallOrderTest, ABookmarkFileReachesTheDiskBeforeItsRename) {
  static const SyscallTable table = [] {
    SyscallTable t = SystemCalls();
    t.fsync = [](int fd) { return g_calls.push_back("fsync"), ::fsync(fd); };
    t.rename = [](const char* from, const char* to) { return g_calls.push_back(std::string("rename ") + to), ::rename(from, to); };
    return t;
  }();
  test::TempDir dir;
  logfile2::BookmarkStore store;
  store.Append(0, 2, "hi");
  SetSyscalls(&table);
  const bool saved = store.Save(dir.File("marks.cvr"), FileVersionCVR_V0102).ok();
  SetSyscalls(nullptr);
  ASSERT_TRUE(saved);
  EXPECT_EQ(g_calls, std::vector<std::string>({"fsync", "rename " + dir.File("marks.bmk")}));
}

}  // namespace
}  // namespace corvane::platform
