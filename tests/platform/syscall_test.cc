// The POSIX layer through its call table: a bookmark file reaches the disk
// before it is renamed into place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logfile2/bookmark_store.h"
#include "platform/file.h"
#include "platform/posix/syscalls.h"
#include "stream/read_ahead_file.h"
#include "support/temp_dir.h"

namespace corvane::platform {
namespace {

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

std::vector<size_t> g_reads;  // what each pread of the read-ahead returned

// A walk in chunks that steps back over each chunk's last few bytes (an item
// that did not fit, as the indexing pass does) reads every byte once, in
// reads that grow to the window; reads after jumps backwards are small.
TEST(SyscallOrderTest, ReadAheadReadsOnceWhileWalkingAndLittleAfterJumps) {
  static const SyscallTable table = [] {
    SyscallTable t = SystemCalls();
    t.pread = [](int fd, void* buf, size_t n, off_t at) {
      const ssize_t r = ::pread(fd, buf, n, at);
      return g_reads.push_back(r > 0 ? static_cast<size_t>(r) : 0), r;
    };
    return t;
  }();
  test::TempDir dir;
  const size_t size = size_t{4} << 20;
  test::WriteFileBytes(dir.File("walk"), std::vector<uint8_t>(size, 7));
  std::unique_ptr<File> file;
  ASSERT_TRUE(OpenFile(dir.File("walk"), {kAccessRead, kShareRead, Disposition::kOpenExisting}, &file).ok());
  stream::ReadAheadFile ahead;
  ahead.Attach(std::move(file));
  SetSyscalls(&table);
  const uint8_t* data = nullptr;
  uint32_t got = 0;
  while (ahead.View(2048, &data, &got).ok() && got == 2048 && ahead.Seek(-7, SeekOrigin::kCurrent, nullptr).ok()) {
  }
  const std::vector<size_t> walk = std::exchange(g_reads, {});
  for (int64_t at : {3000000, 2000000, 1000000}) {
    uint8_t byte = 0;
    ASSERT_TRUE(ahead.Seek(at, SeekOrigin::kBegin, nullptr).ok() && ahead.Read(&byte, 1, &got).ok() && byte == 7);
  }
  SetSyscalls(nullptr);
  size_t bytes = 0;
  for (size_t n : walk) bytes += n;
  EXPECT_LE(bytes, size + stream::ReadAheadFile::kDefaultWindow);
  EXPECT_LE(walk.size(), size / stream::ReadAheadFile::kDefaultWindow + 8);
  EXPECT_EQ(g_reads, std::vector<size_t>(3, 8192));
}

}  // namespace
}  // namespace corvane::platform
