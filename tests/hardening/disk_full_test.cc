// A full disk on a real file system: a small tmpfs mounted for the test
// (Linux, as root; skipped elsewhere). Every writer meets it while writing
// blocks, at the final flush of Close, while saving bookmarks and while the
// indexing thread writes an index. Each case checks the code and text, that
// the failed call succeeds when repeated after space is freed, and that the
// log read back holds every block once, whole and in order.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <type_traits>
#include <vector>

#include "hardening/hardening_util.h"
#include "support/com_test_util.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <errno.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>
#endif

namespace corvane::test {
namespace {

#ifndef _WIN32
// A tmpfs of a few hundred KiB, unmounted at the end. Ballast fills it to
// the last byte and is removed to free the space again.
class SmallDisk {
 public:
  explicit SmallDisk(size_t kib) : dir_(scratch_.File("disk")) {
    if (geteuid() != 0) {
      why_ = "needs root to mount a small tmpfs";
    } else if (mkdir(dir_.c_str(), 0700) != 0) {
      why_ = "cannot create the mount point";
    } else if (mount("tmpfs", dir_.c_str(), "tmpfs", 0, ("size=" + std::to_string(kib) + "k").c_str()) != 0) {
      why_ = std::string("mounting a tmpfs is not permitted here (") + strerror(errno) + ")";
    } else {
      mounted_ = true;
    }
  }
  ~SmallDisk() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }

  // Ballast grows until not one more byte fits, then gives back `leave` bytes.
  void Fill(size_t leave = 0) {
    const int fd = open(NextBallast().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(fd, 0);
    static const char chunk[4096] = {};
    for (size_t piece : {size_t{4096}, size_t{512}, size_t{1}}) {
      for (int i = 0; i < 1000000 && write(fd, chunk, piece) == static_cast<ssize_t>(piece); ++i) {
      }
    }
    const off_t size = lseek(fd, 0, SEEK_END), cut = static_cast<off_t>(leave);
    if (leave > 0) {
      ASSERT_EQ(ftruncate(fd, size > cut ? size - cut : 0), 0);
    }
    close(fd);
  }
  // Ballast of `bytes` that Free removes later.
  void Reserve(size_t bytes) { WriteFileBytes(NextBallast(), Bytes(bytes, 0x55)); }
  void Free() {
    for (; ballast_ > 0; --ballast_) unlink(File("ballast" + std::to_string(ballast_ - 1)).c_str());
  }

 private:
  std::string NextBallast() { return File("ballast" + std::to_string(ballast_++)); }

  TempDir scratch_;
  std::string dir_;
  bool mounted_ = false;
  std::string why_;
  int ballast_ = 0;
};

#define REQUIRE_SMALL_DISK(disk) \
  if (!(disk).mounted()) GTEST_SKIP() << (disk).why()

struct Failure {
  HRESULT code;
  const char* text;
  const char* tag;
};
bool operator==(const Failure& f, const std::pair<HRESULT, std::string>& got) {
  return f.code == got.first && Description(f.text, f.tag, f.code) == got.second;
}

const Failure kFull2 = {E_CVR_DISK_FULL, "Insufficient disk space", "LOGFILE"};
const Failure kFullHeader1 = {E_CVR_DISK_FULL, "Block header write failed, disk full", "LOGFILE"};
const Failure kFullData1 = {E_CVR_DISK_FULL, "Block data write failed, disk full", "LOGFILE"};
const Failure kCorvaneHeader = {E_CVR_BLOCK_HEADER_WRITE_FAILED, "Block header write failed", "CORVANE"};
const Failure kCorvaneData = {E_CVR_BLOCK_DATA_WRITE_FAILED, "Block data write failed", "CORVANE"};

TEST(DiskFullTest, WriteBlockFailsWholeAndARetryAfterFreeingSpaceLosesNothing) {
  const struct {
    const char* name;
    Kind kind;
    EnumFileVersion version;
    ULONG buffer;
    size_t reserve;  // freed later: must hold what the buffer held when the disk got full
    std::vector<Failure> failures;  // what the failed write may report
  } cases[] = {
      {"1.02 unbuffered", Kind::kLogFile2, FileVersionCVR_V0102, 0, 48 << 10, {kFull2}},
      {"1.02, 1000-byte buffer", Kind::kLogFile2, FileVersionCVR_V0102, 1000, 48 << 10, {kFull2}},
      {"u1.02, 3000-byte buffer", Kind::kLogFile2, FileVersionCVR_Vu102, 3000, 48 << 10, {kFull2}},
      {"e1.02, smallest buffer", Kind::kLogFile2, FileVersionCVR_Ve102, 0, 48 << 10, {kFull2}},
      {"e1.02, 4 KiB buffer", Kind::kLogFile2, FileVersionCVR_Ve102, 4096, 48 << 10, {kFull2}},
      {"e1.01 by LogFile2, 512-byte buffer", Kind::kLogFile2, FileVersionCVR_Ve101, 512, 48 << 10, {kFull2}},
      {"LogFile, 128-byte buffer", Kind::kLogFile, {}, 128, 48 << 10, {kFullHeader1, kFullData1}},
      {"LogFile, 1 KiB buffer", Kind::kLogFile, {}, 1024, 48 << 10, {kFullHeader1, kFullData1}},
      {"LogFile, 64 KiB buffer", Kind::kLogFile, {}, 65536, 96 << 10, {kFullHeader1, kFullData1}},
      {"Corvane", Kind::kCorvane, {}, 0, 48 << 10, {kCorvaneHeader, kCorvaneData}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SmallDisk disk(256);
    REQUIRE_SMALL_DISK(disk);
    disk.Reserve(c.reserve);
    const std::string path = disk.File("rec.cvr");
    WithNew(c.kind, [&](auto log) {
      using Log = std::remove_reference_t<decltype(*log.get())>;
      SetBuffer(log.get(), c.buffer);
      ASSERT_EQ(OpenLog(log.get(), path, true, c.version), S_OK);
      uint32_t failed = 0;
      HRESULT hr = S_OK;
      for (; failed < 200000 && SUCCEEDED(hr = WriteNumbered(log.get(), failed));) ++failed;
      EXPECT_GT(failed, 100u);
      // Still full, the same block fails again the same way (LogFile may take
      // it into the buffer space that the failed flush freed, so it is not asked).
      for (int attempt = 0; attempt < (c.kind == Kind::kLogFile ? 1 : 2); ++attempt) {
        if (attempt > 0) hr = WriteNumbered(log.get(), failed);
        const std::pair<HRESULT, std::string> got{hr, TakeError().description};
        EXPECT_NE(std::find(c.failures.begin(), c.failures.end(), got), c.failures.end())
            << std::hex << got.first << " " << got.second;
      }
      disk.Free();
      for (uint32_t i = failed; i < failed + 20; ++i) ASSERT_EQ(WriteNumbered(log.get(), i), S_OK) << i;
      ASSERT_EQ(log->Close(), S_OK);
      const ReadBack r = ReadLog<Log>(path);
      EXPECT_TRUE(r.whole(failed + 20)) << r.blocks << r.where << r.description;
    });
  }
}

// Blocks left in a big buffer meet a full disk at Close: the failed Close
// keeps them and the log open, and a Close with space again writes them.
TEST(DiskFullTest, CloseKeepsTheBufferWhenTheFinalFlushFailsAndWritesItLater) {
  const char* kFlush2 = "Insufficient disk space, final buffer flush failed";
  const struct {
    const char* name;
    Kind kind;
    EnumFileVersion version;
    const char* text;
  } cases[] = {
      {"1.02", Kind::kLogFile2, FileVersionCVR_V0102, kFlush2},
      {"u1.02", Kind::kLogFile2, FileVersionCVR_Vu102, kFlush2},
      {"e1.02", Kind::kLogFile2, FileVersionCVR_Ve102, kFlush2},
      {"e1.01 by LogFile2", Kind::kLogFile2, FileVersionCVR_Ve101, kFlush2},
      {"LogFile", Kind::kLogFile, {}, "Out of disk space"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SmallDisk disk(256);
    REQUIRE_SMALL_DISK(disk);
    const std::string path = disk.File("close.cvr");
    WithNew(c.kind, [&](auto log) {
      using Log = std::remove_reference_t<decltype(*log.get())>;
      SetBuffer(log.get(), 64 * 1024);
      ASSERT_EQ(OpenLog(log.get(), path, true, c.version), S_OK);
      const uint32_t blocks = 300;  // about 20 KiB: all of it stays in the buffer
      for (uint32_t i = 0; i < blocks; ++i) ASSERT_EQ(WriteNumbered(log.get(), i), S_OK);
      disk.Fill();
      for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_CVR_ERROR(log->Close(), E_CVR_DISK_FULL, c.text, "LOGFILE");
      }
      disk.Free();
      ASSERT_EQ(log->Close(), S_OK);
      EXPECT_TRUE(ReadLog<Log>(path).whole(blocks));
    });
  }
}

TEST(DiskFullTest, BookmarksThatCannotBeSavedAtCloseLeaveNoPartialFileAndAreSavedLater) {
  for (EnumFileVersion version : {FileVersionCVR_V0102, FileVersionCVR_Vu102}) {
    SCOPED_TRACE(version);
    SmallDisk disk(256);
    REQUIRE_SMALL_DISK(disk);
    const std::string path = disk.File("marks.cvr");
    // Unbuffered: every block is on disk at once, only the bookmarks are left.
    auto log = New<ILogFile2>();
    log->SetDiskBufferSize(0);
    ASSERT_EQ(OpenLog(log.get(), path, true, version), S_OK);
    std::vector<std::string> comments;
    for (uint32_t i = 0; i < 40; ++i) {
      ASSERT_EQ(WriteNumbered(log.get(), i), S_OK);
      if (i % 10 != 9) continue;
      // Long comments, so that the bookmark file needs pages.
      std::string comment = "mark " + std::to_string(i) + std::string(900, 'x');
      LogBlockHeader h{};
      h.wBlockID = CVR_ID_BOOKMARK;
      h.dwDataLength = static_cast<ULONG>(comment.size());
      ASSERT_EQ(log->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, reinterpret_cast<BYTE*>(comment.data()),
                                h.dwDataLength, 0), S_OK);
      comments.push_back(comment);
    }
    disk.Fill();
    EXPECT_CVR_ERROR(log->Close(), E_CVR_DISK_FULL, "Out of disk space", "LOGFILE");
    EXPECT_FALSE(FileExists(Companion(path, "bmk"))) << "no partial bookmark file stays";
    disk.Free();
    ASSERT_EQ(log->Close(), S_OK);

    ASSERT_EQ(OpenLog(log.get(), path, false), S_OK);
    LONGLONG count = 0;
    EXPECT_EQ(log->GetBookmarkCount(&count), S_OK);
    EXPECT_EQ(count, 4);
    std::vector<std::string> read;
    EXPECT_TRUE(ReadNumbered(log.get(), 1000000, &read).whole(40));
    EXPECT_EQ(read, comments);
  }
}

// ---- The indexing thread ----

struct Boxes {
  std::atomic<int> count{0};
  std::string first_caption, first_text;
  unsigned first_type = 0;
  SmallDisk* disk = nullptr;
  bool retry = false;  // the disk-full box is answered Retry once, after freeing space
};

int STDMETHODCALLTYPE AnswerBox(const char* caption, const char* text, unsigned type, void* context) {
  auto* b = static_cast<Boxes*>(context);
  if (b->count.load() == 0) b->first_caption = caption, b->first_text = text, b->first_type = type;
  b->count.fetch_add(1);
  if (std::string(text) != "Insufficient disk space.") return (type & 0xF) == 0 ? 1 : 2;  // OK or Cancel
  if (!b->retry) return 2;
  b->retry = false;
  b->disk->Free();
  return 4;  // Retry
}

class IndexDiskFullTest : public ::testing::Test {
 protected:
  void TearDown() override { CorvaneSetMessageBoxHandler(nullptr, nullptr); }
};

// Space runs out when the index file is made (nothing left) or while its
// records are written (a few KiB left). Retry after freeing space completes
// the pass; Cancel ends it leaving no index and a usable object, and a new
// pass completes once there is space again.
TEST_F(IndexDiskFullTest, RetryCompletesThePassAndCancelEndsItLeavingNoIndex) {
  for (bool retry : {true, false}) {
    for (size_t leave : {size_t{0}, size_t{6000}}) {
      SCOPED_TRACE(std::string(retry ? "Retry" : "Cancel") + ", " + std::to_string(leave) + " bytes left");
      SmallDisk disk(512);
      REQUIRE_SMALL_DISK(disk);
      const uint32_t blocks = 3000;
      const std::string path = disk.File("indexed.cvr");
      WriteLog(path, blocks, FileVersionCVR_V0102, 4096);
      auto log = New<ILogFile2>();
      ASSERT_EQ(OpenLog(log.get(), path, false), S_OK);
      Boxes boxes;
      boxes.disk = &disk;
      boxes.retry = retry;
      CorvaneSetMessageBoxHandler(&AnswerBox, &boxes);
      disk.Fill(leave);

      ASSERT_EQ(log->CreateIndex(1), S_OK);
      ASSERT_TRUE(WaitUntil([&] { return boxes.count.load() >= 1; }));
      if (!retry) {
        ASSERT_TRUE(WaitUntil([&] { return !FileExists(Companion(path, "idx")); }));
        EXPECT_TRUE(ReadNumbered(log.get()).whole(blocks));
        disk.Free();
        ASSERT_EQ(log->CreateIndex(1), S_OK);
      }
      ASSERT_TRUE(WaitUntil([&] {
        LONGLONG count = 0;
        return log->GetIndexedRecCount(&count) == S_OK && count == blocks &&
               FileSize(Companion(path, "idx")) == IndexSize(blocks, 1);
      })) << "boxes: " << boxes.count.load();
      EXPECT_EQ(boxes.count.load(), 1);
      EXPECT_EQ(boxes.first_caption, "Error");
      EXPECT_EQ(boxes.first_text, "Insufficient disk space.");
      EXPECT_EQ(boxes.first_type & 0xF, 5u) << "Retry and Cancel";
      for (uint32_t i : {0u, 1u, 1499u, blocks - 1}) {
        ASSERT_EQ(log->Jump(i), S_OK) << i;
        EXPECT_TRUE(NextIsNumbered(log.get(), i)) << i;
      }
      EXPECT_EQ(log->Close(), S_OK);
    }
  }
}

#else

TEST(DiskFullTest, NeedsASmallFileSystemOfItsOwn) {
  GTEST_SKIP() << "a full disk is made with a small tmpfs, which needs Linux and root";
}

#endif

}  // namespace
}  // namespace corvane::test
