// A full disk on a real file system: a small tmpfs mounted for the test
// (Linux, as root; skipped elsewhere). Each case checks the code or box a
// client sees and that the failed call succeeds once space is freed.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "logfile2/log_file2_test_util.h"

namespace corvane::test {
namespace {

// A tmpfs of `kib` KiB, unmounted at the end; Fill adds a ballast file that
// leaves `leave` bytes free, Free removes the ballast.
struct SmallDisk {
  TempDir scratch;
  std::string dir, why;
  int ballast = 0;
  explicit SmallDisk(size_t kib) : dir(scratch.File("disk")) {
    if (geteuid() != 0) why = "needs root to mount a small tmpfs";
    else if (mkdir(dir.c_str(), 0700) || mount("tmpfs", dir.c_str(), "tmpfs", 0, ("size=" + std::to_string(kib) + "k").c_str()))
      why = std::string("cannot mount a tmpfs here (") + strerror(errno) + ")";
  }
  ~SmallDisk() { if (why.empty()) umount2(dir.c_str(), MNT_DETACH); }
  std::string File(const std::string& name) const { return dir + "/" + name; }
  void Fill(size_t leave = 0) {
    const int fd = open(File("ballast" + std::to_string(ballast++)).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    static const char chunk[4096] = {};
    for (size_t piece : {size_t{4096}, size_t{512}, size_t{1}})
      for (int i = 0; i < 1000000 && write(fd, chunk, piece) == static_cast<ssize_t>(piece); ++i) continue;
    EXPECT_EQ(ftruncate(fd, std::max<off_t>(lseek(fd, 0, SEEK_END) - static_cast<off_t>(leave), 0)), 0);
    close(fd);
  }
  void Free() { for (; ballast > 0; --ballast) unlink(File("ballast" + std::to_string(ballast - 1)).c_str()); }
};

// Bookmarks that cannot be saved at Close, first by the recorder, then after
// a viewer's edit: the file saved before stays as it was, no staging file is
// left, and Close saves them once there is space.
TEST(DiskFullTest, BookmarksThatCannotBeSavedLeaveTheOldFileAndAreSavedLater) {
  SmallDisk disk(256);
  if (!disk.why.empty()) GTEST_SKIP() << disk.why;
  const std::string path = disk.File("marks.cvr"), bmk = Companion(path, "bmk");
  auto log = New<ILogFile2>();
  log->SetDiskBufferSize(0);  // every block is on disk at once, only the bookmarks are left
  ASSERT_EQ(OpenLog(log.get(), path, true), S_OK);
  std::vector<std::string> comments;
  for (uint32_t i = 0; i < 40; ++i) {
    ASSERT_EQ(WriteNumbered(log.get(), i), S_OK);
    if (i % 10 != 9) continue;
    const std::string& comment = comments.emplace_back("mark " + std::to_string(i) + std::string(900, 'x'));  // needs pages
    ASSERT_EQ(Write(log.get(), MakeHeader(CVR_ID_BOOKMARK, 0, 0, 0, 0), Bytes(comment.begin(), comment.end())), S_OK);
  }
  for (int edit = 0; edit < 2; ++edit) {
    SCOPED_TRACE(edit ? "edited by a viewer" : "recorded");
    if (edit) {
      ASSERT_EQ(OpenLog(log.get(), path, false), S_OK);
      ASSERT_EQ(log->BookmarkJump(3), S_OK);
      ASSERT_EQ(log->BookmarkEdit(Bstr("edited").get()), S_OK);
      comments.back() = "edited";
    }
    const Bytes saved = ReadFileBytes(bmk);
    disk.Fill();
    EXPECT_CVR_ERROR(log->Close(), E_CVR_DISK_FULL, "Out of disk space", "LOGFILE");
    EXPECT_EQ(FileExists(bmk), edit == 1);
    EXPECT_EQ(ReadFileBytes(bmk), saved);
    EXPECT_FALSE(FileExists(disk.File("~marks.bmk"))) << "no staging file left";
    disk.Free();
    ASSERT_EQ(log->Close(), S_OK);
    std::vector<std::string> read;
    EXPECT_TRUE(ReadLog<ILogFile2>(path, &read).whole(40));
    EXPECT_EQ(read, comments);
  }
}

// The indexing thread on a full disk: Retry on a disk still full asks again
// (the pass never spins), Retry after freeing space completes the pass;
// Cancel ends it leaving no index and a usable object, and a new pass
// completes once there is space.
struct Boxes { SmallDisk* disk; bool retry; std::atomic<int> count{0}; };

int STDMETHODCALLTYPE AnswerBox(const char* caption, const char* text, unsigned type, void* context) {
  auto* b = static_cast<Boxes*>(context);
  EXPECT_EQ(std::string(caption) + ": " + text, "Error: Insufficient disk space.");
  EXPECT_EQ(type, 0x45u) << "error icon, Retry and Cancel";
  const int n = ++b->count;
  if (!b->retry || n > 2) return 2;  // Cancel
  if (n == 2) b->disk->Free();
  return 4;  // Retry
}

TEST(IndexDiskFullTest, RetryCompletesThePassAndCancelEndsItLeavingNoIndex) {
  for (bool retry : {true, false}) {
    SCOPED_TRACE(retry ? "Retry" : "Cancel");
    SmallDisk disk(512);
    if (!disk.why.empty()) GTEST_SKIP() << disk.why;
    const uint32_t blocks = 3000;
    const std::string path = disk.File("indexed.cvr"), idx = Companion(path, "idx");
    ASSERT_TRUE(WriteLog(path, blocks, FileVersionCVR_V0102, 4096));
    Boxes boxes{&disk, retry};  // outlives the object, whose thread may show a box until released
    CorvaneSetMessageBoxHandler(&AnswerBox, &boxes);
    auto log = New<ILogFile2>();
    ASSERT_EQ(OpenLog(log.get(), path, false), S_OK);
    disk.Fill(retry ? 0 : 6000);  // full when the file is made, or while records are written

    ASSERT_EQ(log->CreateIndex(1), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return boxes.count.load() >= 1; }));
    if (!retry) {
      ASSERT_TRUE(WaitUntil([&] { return !FileExists(idx); }));
      EXPECT_TRUE(ReadNumbered(log.get()).whole(blocks));
      disk.Free();
      ASSERT_EQ(log->CreateIndex(1), S_OK);
    }
    EXPECT_TRUE(WaitUntil([&] {
      LONGLONG count = 0;
      return log->GetIndexedRecCount(&count) == S_OK && count == blocks && FileSize(idx) == IndexSize(blocks, 1);
    }));
    EXPECT_EQ(boxes.count.load(), retry ? 2 : 1);
    for (uint32_t i : {0u, 1499u, blocks - 1}) EXPECT_TRUE(log->Jump(i) == S_OK && NextIsNumbered(log.get(), i)) << i;
    EXPECT_EQ(log->Close(), S_OK);
    log.Reset();
    CorvaneSetMessageBoxHandler(nullptr, nullptr);
  }
}

}  // namespace
}  // namespace corvane::test

#endif  // a full disk is made with a small tmpfs, which needs Linux and root
