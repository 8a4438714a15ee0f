// A full disk on a real file system: a small tmpfs mounted for the test
// (Linux, as root; skipped elsewhere). Every writer meets it while writing
// blocks, at the final flush of Close, while saving bookmarks at Close and
// while the indexing thread writes an index. Each case checks the code and
// text, that the object stays usable (after space is freed the failed call
// succeeds when repeated), and that nothing written before is lost: the log
// read back holds every block once, whole and in order.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
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

constexpr char kTag2[] = "LOGFILE";

#ifndef _WIN32
// A tmpfs of a few hundred KiB at a fresh directory, unmounted at the end.
// Ballast fills it to the last byte and is removed to free the space again.
class SmallDisk {
 public:
  explicit SmallDisk(size_t kib) : dir_(scratch_.File("disk")) {
    if (geteuid() != 0) {
      why_ = "needs root to mount a small tmpfs";
      return;
    }
    if (mkdir(dir_.c_str(), 0700) != 0) {
      why_ = "cannot create the mount point";
      return;
    }
    const std::string options = "size=" + std::to_string(kib) + "k";
    if (mount("tmpfs", dir_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      why_ = std::string("mounting a tmpfs is not permitted here (") + strerror(errno) + ")";
      return;
    }
    mounted_ = true;
  }
  ~SmallDisk() {
    if (mounted_) umount2(dir_.c_str(), MNT_DETACH);
  }

  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }

  // Fills the disk: ballast grows until not one more byte fits, then gives
  // back `leave` bytes.
  void Fill(size_t leave = 0) {
    const std::string path = File("ballast" + std::to_string(ballast_count_++));
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    ASSERT_GE(fd, 0);
    static const char chunk[4096] = {};
    for (size_t piece : {size_t{4096}, size_t{512}, size_t{1}}) {
      for (int i = 0; i < 1000000; ++i) {
        if (write(fd, chunk, piece) != static_cast<ssize_t>(piece)) break;
      }
    }
    if (leave > 0) {
      const off_t size = lseek(fd, 0, SEEK_END);
      ASSERT_EQ(ftruncate(fd, size > static_cast<off_t>(leave) ? size - static_cast<off_t>(leave) : 0), 0);
    }
    close(fd);
  }
  // Removes all ballast.
  void Free() {
    for (int i = 0; i < ballast_count_; ++i) unlink(File("ballast" + std::to_string(i)).c_str());
    ballast_count_ = 0;
  }
  // Ballast of `bytes` that Free removes later.
  void Reserve(size_t bytes) {
    const std::string path = File("ballast" + std::to_string(ballast_count_++));
    WriteFileBytes(path, Bytes(bytes, 0x55));
  }

 private:
  TempDir scratch_;
  std::string dir_;
  bool mounted_ = false;
  std::string why_;
  int ballast_count_ = 0;
};

#define REQUIRE_SMALL_DISK(disk)                         \
  if (!(disk).mounted()) GTEST_SKIP() << (disk).why()

// Writes numbered blocks from `first` on until one fails; returns the
// number of the block that failed (the loop is bounded).
template <class Log>
uint32_t WriteUntilFailure(Log* log, uint32_t first, HRESULT* failure, std::string* text) {
  for (uint32_t i = first; i < first + 200000; ++i) {
    HRESULT hr = WriteNumbered(log, i);
    if (FAILED(hr)) {
      *failure = hr;
      *text = TakeError().description;
      return i;
    }
  }
  *failure = S_OK;
  return first + 200000;
}

// ---- LogFile2 ----

struct Generation {
  const char* name;
  EnumFileVersion version;
  ULONG disk_buffer;
};
const Generation kGenerations[] = {
    {"plain, unbuffered", FileVersionCVR_V0102, 0},
    {"plain, 1000-byte buffer", FileVersionCVR_V0102, 1000},
    {"big-endian, 3000-byte buffer", FileVersionCVR_Vu102, 3000},
    {"enciphered, smallest buffer", FileVersionCVR_Ve102, 0},
    {"enciphered, 4 KiB buffer", FileVersionCVR_Ve102, 4096},
    {"e1.01 through LogFile2, 512-byte buffer", FileVersionCVR_Ve101, 512},
};

TEST(DiskFullTest, LogFile2WriteBlockFailsWholeAndARetryAfterFreeingSpaceLosesNothing) {
  for (const Generation& g : kGenerations) {
    SCOPED_TRACE(g.name);
    SmallDisk disk(256);
    REQUIRE_SMALL_DISK(disk);
    disk.Reserve(48 * 1024);
    const std::string path = disk.File("rec.cvr");
    auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    log->SetDiskBufferSize(g.disk_buffer);
    ASSERT_EQ(OpenLogFile2(log.get(), path, FileAccessModeWriteCreateAlways, g.version), S_OK);

    HRESULT failure = S_OK;
    std::string text;
    const uint32_t failed = WriteUntilFailure(log.get(), 0, &failure, &text);
    ASSERT_EQ(static_cast<uint32_t>(failure), static_cast<uint32_t>(E_CVR_DISK_FULL));
    EXPECT_EQ(text, Description("Insufficient disk space", kTag2, E_CVR_DISK_FULL));
    EXPECT_GT(failed, 100u);
    // Still full: the same block fails again the same way, the object stays open.
    EXPECT_CVR_ERROR(WriteNumbered(log.get(), failed), E_CVR_DISK_FULL, "Insufficient disk space", kTag2);
    LONGLONG size = 0;
    EXPECT_EQ(log->GetFileSize(&size), S_OK);

    disk.Free();
    for (uint32_t i = failed; i < failed + 20; ++i) ASSERT_EQ(WriteNumbered(log.get(), i), S_OK) << i;
    ASSERT_EQ(log->Close(), S_OK);

    auto reader = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    ASSERT_EQ(OpenLogFile2(reader.get(), path, FileAccessModeReadOnly), S_OK);
    ReadBack r = ReadNumbered(reader.get());
    EXPECT_FALSE(r.mismatch) << r.where;
    EXPECT_TRUE(r.clean_end) << r.description;
    EXPECT_EQ(r.blocks, failed + 20);
    reader->Close();
  }
}

TEST(DiskFullTest, LogFile2CloseKeepsTheBufferWhenTheFinalFlushFailsAndWritesItLater) {
  for (const Generation& g : kGenerations) {
    if (g.disk_buffer < 1000) continue;  // the final flush needs blocks left in the buffer
    SCOPED_TRACE(g.name);
    SmallDisk disk(256);
    REQUIRE_SMALL_DISK(disk);
    const std::string path = disk.File("close.cvr");
    auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    log->SetDiskBufferSize(64 * 1024);
    ASSERT_EQ(OpenLogFile2(log.get(), path, FileAccessModeWriteCreateAlways, g.version), S_OK);
    const uint32_t blocks = 300;  // about 20 KiB: all of it stays in the buffer
    for (uint32_t i = 0; i < blocks; ++i) ASSERT_EQ(WriteNumbered(log.get(), i), S_OK);
    disk.Fill();

    for (int attempt = 0; attempt < 2; ++attempt) {
      EXPECT_CVR_ERROR(log->Close(), E_CVR_DISK_FULL,
                       "Insufficient disk space, final buffer flush failed", kTag2);
    }
    LONGLONG size = 0;
    EXPECT_EQ(log->GetFileSize(&size), S_OK) << "a failed Close leaves the log open";

    disk.Free();
    ASSERT_EQ(log->Close(), S_OK);
    auto reader = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    ASSERT_EQ(OpenLogFile2(reader.get(), path, FileAccessModeReadOnly), S_OK);
    ReadBack r = ReadNumbered(reader.get());
    EXPECT_FALSE(r.mismatch) << r.where;
    EXPECT_TRUE(r.clean_end) << r.description;
    EXPECT_EQ(r.blocks, blocks);
    reader->Close();
  }
}

TEST(DiskFullTest, BookmarksThatCannotBeSavedAtCloseLeaveNoPartialFileAndAreSavedLater) {
  for (EnumFileVersion version : {FileVersionCVR_V0102, FileVersionCVR_Vu102}) {
    SCOPED_TRACE(version);
    SmallDisk disk(256);
    REQUIRE_SMALL_DISK(disk);
    const std::string path = disk.File("marks.cvr");
    auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    log->SetDiskBufferSize(0);  // every block on disk at once: only the bookmarks are left
    ASSERT_EQ(OpenLogFile2(log.get(), path, FileAccessModeWriteCreateAlways, version), S_OK);
    std::vector<std::string> comments;
    for (uint32_t i = 0; i < 40; ++i) {
      ASSERT_EQ(WriteNumbered(log.get(), i), S_OK);
      if (i % 10 == 9) {
        // A bookmark block carrying a long comment, so the file needs pages.
        std::string comment = "mark " + std::to_string(i) + std::string(900, 'x');
        LogBlockHeader h{};
        h.wBlockID = CVR_ID_BOOKMARK;
        h.dwDataLength = static_cast<ULONG>(comment.size());
        ASSERT_EQ(log->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h,
                                  reinterpret_cast<BYTE*>(comment.data()), h.dwDataLength, 0), S_OK);
        comments.push_back(comment);
      }
    }
    disk.Fill();
    EXPECT_CVR_ERROR(log->Close(), E_CVR_DISK_FULL, "Out of disk space", kTag2);
    EXPECT_FALSE(FileExists(Companion(path, "bmk"))) << "no partial bookmark file stays";

    disk.Free();
    ASSERT_EQ(log->Close(), S_OK);
    auto reader = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    ASSERT_EQ(OpenLogFile2(reader.get(), path, FileAccessModeReadOnly), S_OK);
    LONGLONG count = 0;
    EXPECT_EQ(reader->GetBookmarkCount(&count), S_OK);
    EXPECT_EQ(count, 4);
    std::vector<std::string> read;
    ReadBack r = ReadNumbered(reader.get(), 1000000, &read);
    EXPECT_FALSE(r.mismatch) << r.where;
    EXPECT_TRUE(r.clean_end) << r.description;
    EXPECT_EQ(r.blocks, 40u);
    EXPECT_EQ(read, comments);
    reader->Close();
  }
}

// ---- LogFile (e1.01) ----

TEST(DiskFullTest, LogFileWriteBlockAndCloseReportAFullDiskAndLoseNothing) {
  for (ULONG buffer : {128u, 1024u, 65536u}) {
    SCOPED_TRACE(buffer);
    SmallDisk disk(256);
    REQUIRE_SMALL_DISK(disk);
    // What is freed must hold what the buffer held when the disk got full.
    disk.Reserve(buffer > 4096 ? 96 * 1024 : 48 * 1024);
    // The LogFile object takes its buffer size from the settings.
    Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2)->SetDiskBufferSize(buffer);
    const std::string path = disk.File("e101.cvr");
    auto log = Create<ILogFile>(CLSID_LogFile, IID_ILogFile);
    ASSERT_EQ(OpenLogFile(log.get(), path, FileAccessModeWriteCreateAlways), S_OK);

    HRESULT failure = S_OK;
    std::string text;
    const uint32_t failed = WriteUntilFailure(log.get(), 0, &failure, &text);
    ASSERT_EQ(static_cast<uint32_t>(failure), static_cast<uint32_t>(E_CVR_DISK_FULL));
    EXPECT_TRUE(text == Description("Block header write failed, disk full", "LOGFILE", E_CVR_DISK_FULL) ||
                text == Description("Block data write failed, disk full", "LOGFILE", E_CVR_DISK_FULL))
        << text;

    disk.Free();
    for (uint32_t i = failed; i < failed + 10; ++i) ASSERT_EQ(WriteNumbered(log.get(), i), S_OK) << i;
    if (buffer > 4096) {
      // More buffered than the last page of the file has room for: the final
      // flush meets a full disk too, and can be repeated.
      for (uint32_t i = failed + 10; i < failed + 110; ++i) ASSERT_EQ(WriteNumbered(log.get(), i), S_OK);
      disk.Fill();
      EXPECT_CVR_ERROR(log->Close(), E_CVR_DISK_FULL, "Out of disk space", "LOGFILE");
      disk.Free();
    }
    ASSERT_EQ(log->Close(), S_OK);
    const uint32_t total = buffer > 4096 ? failed + 110 : failed + 10;

    auto reader = Create<ILogFile>(CLSID_LogFile, IID_ILogFile);
    ASSERT_EQ(OpenLogFile(reader.get(), path, FileAccessModeReadOnly), S_OK);
    ReadBack r = ReadNumbered(reader.get());
    EXPECT_FALSE(r.mismatch) << r.where;
    EXPECT_TRUE(r.clean_end) << r.description;
    EXPECT_EQ(r.blocks, total);
    reader->Close();
  }
}

// ---- Corvane (unbuffered V 01.00) ----

TEST(DiskFullTest, CorvaneWriteBlockFailsWithoutLeavingPartOfTheBlock) {
  SmallDisk disk(256);
  REQUIRE_SMALL_DISK(disk);
  disk.Reserve(48 * 1024);
  const std::string path = disk.File("v0100.cvr");
  auto log = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
  ASSERT_EQ(OpenCorvane(log.get(), path, CVRFileAccessModeWrite, CVRFileCreateModeAlways), S_OK);

  HRESULT failure = S_OK;
  std::string text;
  const uint32_t failed = WriteUntilFailure(log.get(), 0, &failure, &text);
  EXPECT_TRUE((failure == E_CVR_BLOCK_HEADER_WRITE_FAILED &&
               text == Description("Block header write failed", "CORVANE", E_CVR_BLOCK_HEADER_WRITE_FAILED)) ||
              (failure == E_CVR_BLOCK_DATA_WRITE_FAILED &&
               text == Description("Block data write failed", "CORVANE", E_CVR_BLOCK_DATA_WRITE_FAILED)))
      << std::hex << failure << " " << text;

  disk.Free();
  for (uint32_t i = failed; i < failed + 10; ++i) ASSERT_EQ(WriteNumbered(log.get(), i), S_OK) << i;
  ASSERT_EQ(log->Close(), S_OK);

  ASSERT_EQ(OpenCorvane(log.get(), path, CVRFileAccessModeRead, CVRFileCreateModeExisting), S_OK);
  ReadBack r = ReadNumbered(log.get());
  EXPECT_FALSE(r.mismatch) << r.where;
  EXPECT_TRUE(r.clean_end) << r.description;
  EXPECT_EQ(r.blocks, failed + 10);
  log->Close();
}

// ---- The indexing thread ----

struct Boxes {
  std::atomic<int> count{0};
  std::atomic<int> disk_full{0};
  std::string first_caption, first_text;
  unsigned first_type = 0;
  SmallDisk* disk = nullptr;
  int retries = 0;  // disk-full boxes answered Retry (space freed first)
};

int STDMETHODCALLTYPE AnswerBox(const char* caption, const char* text, unsigned type, void* context) {
  auto* b = static_cast<Boxes*>(context);
  const int n = b->count.load();
  if (n == 0) {
    b->first_caption = caption;
    b->first_text = text;
    b->first_type = type;
  }
  b->count.store(n + 1);
  if (std::string(text) != "Insufficient disk space.") return (type & 0xF) == 0 ? 1 : 2;
  const int full = b->disk_full.load();
  b->disk_full.store(full + 1);
  if (full < b->retries) {
    b->disk->Free();
    return 4;  // Retry
  }
  return 2;  // Cancel
}

class IndexDiskFullTest : public ::testing::Test {
 protected:
  void TearDown() override { CorvaneSetMessageBoxHandler(nullptr, nullptr); }

  // A log of `blocks` numbered blocks on the small disk, open for reading.
  void MakeLog(SmallDisk& disk, uint32_t blocks) {
    path_ = disk.File("indexed.cvr");
    auto writer = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    writer->SetDiskBufferSize(4096);
    ASSERT_EQ(OpenLogFile2(writer.get(), path_, FileAccessModeWriteCreateAlways), S_OK);
    for (uint32_t i = 0; i < blocks; ++i) ASSERT_EQ(WriteNumbered(writer.get(), i), S_OK);
    ASSERT_EQ(writer->Close(), S_OK);
    log_ = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    ASSERT_EQ(OpenLogFile2(log_.get(), path_, FileAccessModeReadOnly), S_OK);
  }

  std::string path_;
  ComPtr<ILogFile2> log_;
};

TEST_F(IndexDiskFullTest, RetryAfterFreeingSpaceCompletesTheIndex) {
  // Space runs out when the index file is made (nothing left) or while its
  // records are written (a few KiB left).
  for (size_t leave : {size_t{0}, size_t{6000}}) {
    SCOPED_TRACE(leave);
    SmallDisk disk(512);
    REQUIRE_SMALL_DISK(disk);
    const uint32_t blocks = 3000;
    MakeLog(disk, blocks);
    Boxes boxes;
    boxes.disk = &disk;
    boxes.retries = 1;
    CorvaneSetMessageBoxHandler(&AnswerBox, &boxes);
    disk.Fill(leave);

    ASSERT_EQ(log_->CreateIndex(1), S_OK);
    ASSERT_TRUE(WaitUntil([&] {
      LONGLONG count = 0;
      return log_->GetIndexedRecCount(&count) == S_OK && count == blocks && FileExists(Companion(path_, "idx")) &&
             FileSize(Companion(path_, "idx")) == 144 + 24 * (blocks - 1);
    })) << "boxes: " << boxes.count.load();
    EXPECT_EQ(boxes.count.load(), 1);
    EXPECT_EQ(boxes.first_caption, "Error");
    EXPECT_EQ(boxes.first_text, "Insufficient disk space.");
    EXPECT_EQ(boxes.first_type & 0xF, 5u) << "Retry and Cancel";
    // The index reaches every block.
    for (uint32_t i : {0u, 1u, 1499u, blocks - 1}) {
      ASSERT_EQ(log_->Jump(i), S_OK) << i;
      EXPECT_TRUE(NextIsNumbered(log_.get(), i)) << i;
    }
    EXPECT_EQ(log_->Close(), S_OK);
  }
}

TEST_F(IndexDiskFullTest, CancelEndsThePassLeavingNoIndexAndAUsableObject) {
  for (size_t leave : {size_t{0}, size_t{6000}}) {
    SCOPED_TRACE(leave);
    SmallDisk disk(512);
    REQUIRE_SMALL_DISK(disk);
    const uint32_t blocks = 3000;
    MakeLog(disk, blocks);
    Boxes boxes;
    boxes.disk = &disk;
    CorvaneSetMessageBoxHandler(&AnswerBox, &boxes);
    disk.Fill(leave);

    ASSERT_EQ(log_->CreateIndex(1), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return boxes.count.load() >= 1; }));
    // The cancelled pass removes its file.
    ASSERT_TRUE(WaitUntil([&] { return !FileExists(Companion(path_, "idx")); }));
    EXPECT_EQ(boxes.first_text, "Insufficient disk space.");

    ReadBack r = ReadNumbered(log_.get());
    EXPECT_FALSE(r.mismatch) << r.where;
    EXPECT_TRUE(r.clean_end) << r.description;
    EXPECT_EQ(r.blocks, blocks);

    // With space again the index can be built by a new pass.
    disk.Free();
    ASSERT_EQ(log_->CreateIndex(100), S_OK);
    ASSERT_TRUE(WaitUntil([&] {
      LONGLONG count = 0;
      return log_->GetIndexedRecCount(&count) == S_OK && count == blocks &&
             FileSize(Companion(path_, "idx")) == 144 + 24 * 29;
    }));
    EXPECT_EQ(boxes.count.load(), 1);
    ASSERT_EQ(log_->Jump(2999), S_OK);
    EXPECT_TRUE(NextIsNumbered(log_.get(), 2999));
    EXPECT_EQ(log_->Close(), S_OK);
  }
}

#else

TEST(DiskFullTest, NeedsASmallFileSystemOfItsOwn) {
  GTEST_SKIP() << "a full disk is made with a small tmpfs, which needs Linux and root";
}

#endif

}  // namespace
}  // namespace corvane::test
