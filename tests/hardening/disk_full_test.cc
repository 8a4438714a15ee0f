// A full disk on a real file system: a small tmpfs mounted for the test
// (Linux, as root; skipped elsewhere). Each case checks the code and text a
// client sees, that the failed call succeeds once space is freed, and that
// the log read back holds every block once, whole and in order.
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

// A tmpfs of `kib` KiB, unmounted at the end; ballast files fill it and are
// removed by Free.
class SmallDisk {
 public:
  explicit SmallDisk(size_t kib) : dir_(scratch_.File("disk")) {
    if (geteuid() != 0) why_ = "needs root to mount a small tmpfs";
    else if (mkdir(dir_.c_str(), 0700) || mount("tmpfs", dir_.c_str(), "tmpfs", 0, ("size=" + std::to_string(kib) + "k").c_str()))
      why_ = std::string("cannot mount a tmpfs here (") + strerror(errno) + ")";
  }
  ~SmallDisk() { if (why_.empty()) umount2(dir_.c_str(), MNT_DETACH); }
  const std::string& why() const { return why_; }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }
  // Fills the disk to the last byte, then gives back `leave` bytes.
  void Fill(size_t leave = 0) {
    const int fd = open(File("ballast" + std::to_string(ballast_++)).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    static const char chunk[4096] = {};
    for (size_t piece : {size_t{4096}, size_t{512}, size_t{1}})
      for (int i = 0; i < 1000000 && write(fd, chunk, piece) == static_cast<ssize_t>(piece); ++i) continue;
    EXPECT_EQ(ftruncate(fd, std::max<off_t>(lseek(fd, 0, SEEK_END) - static_cast<off_t>(leave), 0)), 0);
    close(fd);
  }
  void Reserve(size_t bytes) { WriteFileBytes(File("ballast" + std::to_string(ballast_++)), Bytes(bytes, 0x55)); }
  void Free() { for (; ballast_ > 0; --ballast_) unlink(File("ballast" + std::to_string(ballast_ - 1)).c_str()); }

 private:
  TempDir scratch_;
  std::string dir_, why_;
  int ballast_ = 0;
};

// One row per writer and path: plain, enciphered and e1.01 streams of
// LogFile2, LogFile's buffer, Corvane's direct writes. Rows with `close_text`
// fill the disk again with many KiB in the buffer: Close fails, keeping them
// and the log open, and writes them once there is space.
TEST(DiskFullTest, AFailedWriteOrCloseLosesNothingAndSucceedsOnceSpaceIsFreed) {
  using Failure = std::pair<HRESULT, std::string>;
  auto failure = [](HRESULT code, const char* text, const char* tag) { return Failure{code, Description(text, tag, code)}; };
  const Failure kFull = failure(E_CVR_DISK_FULL, "Insufficient disk space", "LOGFILE");
  const char* kFinal = "Insufficient disk space, final buffer flush failed";
  // failures: what the failed write may report
  const struct { const char* name; Kind kind; EnumFileVersion version; ULONG buffer; std::vector<Failure> failures;
                 const char* close_text; } cases[] = {
      {"1.02 unbuffered", Kind::kLogFile2, FileVersionCVR_V0102, 0, {kFull}, nullptr},
      {"u1.02, 3000-byte buffer", Kind::kLogFile2, FileVersionCVR_Vu102, 3000, {kFull}, nullptr},
      {"e1.02, smallest buffer", Kind::kLogFile2, FileVersionCVR_Ve102, 0, {kFull}, nullptr},
      {"1.02, 64 KiB buffer", Kind::kLogFile2, FileVersionCVR_V0102, 65536, {kFull}, kFinal},
      {"e1.02, 64 KiB buffer", Kind::kLogFile2, FileVersionCVR_Ve102, 65536, {kFull}, kFinal},
      {"e1.01 by LogFile2, 512-byte buffer", Kind::kLogFile2, FileVersionCVR_Ve101, 512, {kFull}, nullptr},
      {"LogFile, 1 KiB buffer", Kind::kLogFile, {}, 1024, {failure(E_CVR_DISK_FULL, "Block header write failed, disk full", "LOGFILE"),
       failure(E_CVR_DISK_FULL, "Block data write failed, disk full", "LOGFILE")}, nullptr},
      {"Corvane", Kind::kCorvane, {}, 0, {failure(E_CVR_BLOCK_HEADER_WRITE_FAILED, "Block header write failed", "CORVANE"),
       failure(E_CVR_BLOCK_DATA_WRITE_FAILED, "Block data write failed", "CORVANE")}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SmallDisk disk(256);
    if (!disk.why().empty()) GTEST_SKIP() << disk.why();
    disk.Reserve(96 << 10);  // freed later: holds what a buffer held when the disk got full
    const std::string path = disk.File("rec.cvr");
    WithNew(c.kind, [&](auto log) {
      SetBuffer(log.get(), c.buffer);
      ASSERT_EQ(OpenLog(log.get(), path, true, c.version), S_OK);
      uint32_t failed = 0;
      HRESULT hr = S_OK;
      for (; failed < 200000 && SUCCEEDED(hr = WriteNumbered(log.get(), failed));) ++failed;
      EXPECT_GT(failed, 100u);
      // Still full, the same block fails again the same way (LogFile may take
      // it into the buffer space the failed flush freed, so it is not asked).
      for (int attempt = 0; attempt < (c.kind == Kind::kLogFile ? 1 : 2); ++attempt) {
        if (attempt > 0) hr = WriteNumbered(log.get(), failed);
        const Failure got{hr, TakeError().description};
        EXPECT_NE(std::find(c.failures.begin(), c.failures.end(), got), c.failures.end()) << std::hex << hr << " " << got.second;
      }
      disk.Free();
      for (uint32_t i = failed; i < failed + 250; ++i) ASSERT_EQ(WriteNumbered(log.get(), i), S_OK) << i;
      if (c.close_text) {
        disk.Fill();
        EXPECT_CVR_ERROR(log->Close(), E_CVR_DISK_FULL, c.close_text, "LOGFILE");
        disk.Free();
      }
      ASSERT_EQ(log->Close(), S_OK);
      const ReadBack r = ReadLog<std::remove_reference_t<decltype(*log.get())>>(path);
      EXPECT_TRUE(r.whole(failed + 250)) << r.blocks << r.where << r.description;
    });
  }
}

// Bookmarks that cannot be saved at Close, first by the recorder, then after
// a viewer's edit: the file saved before stays as it was, no staging file is
// left, and Close saves them once there is space.
TEST(DiskFullTest, BookmarksThatCannotBeSavedLeaveTheOldFileAndAreSavedLater) {
  SmallDisk disk(256);
  if (!disk.why().empty()) GTEST_SKIP() << disk.why();
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
    if (!disk.why().empty()) GTEST_SKIP() << disk.why();
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
