// The POSIX layer through its call table: a bookmark file reaches the disk
// before it is renamed into place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logfile2/bookmark_store.h"
#include "platform/posix/syscalls.h"
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

}  // namespace
}  // namespace corvane::platform
