// Files with Windows semantics: share modes within and across processes,
// dispositions, error codes, and the file pointer.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

#include "platform/file.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace corvane::platform {
namespace {

using test::ReadFileBytes;
using test::WriteFileBytes;

constexpr uint32_t R = kAccessRead;
constexpr uint32_t W = kAccessWrite;
constexpr uint32_t RW = kAccessRead | kAccessWrite;
constexpr uint32_t kShareRW = kShareRead | kShareWrite;
constexpr uint32_t kShareAll = kShareRead | kShareWrite | kShareDelete;

OpenOptions Options(uint32_t access, uint32_t share, Disposition d = Disposition::kOpenExisting) {
  return {access, share, d, false};
}

// Opens `path` from platform_child and closes it again: the Windows error
// code, 0 for success.
int ChildOpen(const std::string& path, uint32_t access, uint32_t share,
              Disposition d = Disposition::kOpenExisting) {
  return test::RunProgram("platform_child", {"open", path, std::to_string(access), std::to_string(share),
                                             std::to_string(static_cast<uint32_t>(d))});
}

class FileTest : public ::testing::Test {
 protected:
  FileTest() : path_(dir_.File("data.bin")) { WriteFileBytes(path_, {1, 2, 3, 4, 5, 6, 7, 8}); }

  std::unique_ptr<File> MustOpen(const OpenOptions& o) {
    std::unique_ptr<File> f;
    Status s = OpenFile(path_, o, &f);
    EXPECT_TRUE(s.ok()) << "open failed with " << s.code();
    return f;
  }
  uint32_t OpenCode(const std::string& path, const OpenOptions& o) {
    std::unique_ptr<File> f;
    Status s = OpenFile(path, o, &f);
    EXPECT_EQ(s.ok(), f != nullptr);
    return s.code();
  }

  test::TempDir dir_;
  std::string path_;
};

struct ShareCase {
  uint32_t first_access, first_share, second_access, second_share;
  uint32_t expected;  // 0 or kErrSharingViolation
};

// One row per rule; every row is checked in this process and in another one.
constexpr ShareCase kShareCases[] = {
    {R, kShareRead, R, kShareRead, 0},
    {R, kShareRead, R, kShareNone, kErrSharingViolation},   // second denies the first's read
    {R, kShareNone, R, kShareRW, kErrSharingViolation},     // first denies read
    {R, kShareRead, W, kShareRW, kErrSharingViolation},     // first denies write
    {R, kShareRW, W, kShareRW, 0},
    {W, kShareRead, R, kShareRW, 0},
    {W, kShareRead, R, kShareRead, kErrSharingViolation},   // second denies the first's write
    {RW, kShareRW, RW, kShareRW, 0},
    {RW, kShareRead, RW, kShareRW, kErrSharingViolation},
    {0, kShareNone, RW, kShareNone, 0},                     // no access: takes no part
    {RW, kShareNone, 0, kShareNone, 0},
};

TEST_F(FileTest, ShareModesDecideSecondOpenInProcessAndAcrossProcesses) {
  for (const ShareCase& c : kShareCases) {
    SCOPED_TRACE(::testing::Message() << "row " << &c - kShareCases);
    auto first = MustOpen(Options(c.first_access, c.first_share));
    EXPECT_EQ(OpenCode(path_, Options(c.second_access, c.second_share)), c.expected);
    EXPECT_EQ(ChildOpen(path_, c.second_access, c.second_share), static_cast<int>(c.expected));
  }
  // Every handle above is closed again: nothing is left in the way.
  EXPECT_EQ(ChildOpen(path_, RW, kShareNone), 0);
}

TEST_F(FileTest, RefusedTruncatingOpenLeavesFileIntact) {
  auto holder = MustOpen(Options(R, kShareRead));
  for (Disposition d : {Disposition::kCreateAlways, Disposition::kTruncateExisting}) {
    EXPECT_EQ(OpenCode(path_, Options(W, kShareRW, d)), kErrSharingViolation);
    EXPECT_EQ(ChildOpen(path_, W, kShareRW, d), static_cast<int>(kErrSharingViolation));
    EXPECT_EQ(ReadFileBytes(path_).size(), 8u);
  }
}

TEST_F(FileTest, RemoveAndRenameNeedDeleteSharingAndRenameReplacesOnlyWhenAsked) {
  struct {
    uint32_t share;
    uint32_t expected;
  } cases[] = {{kShareRW, kErrSharingViolation}, {kShareAll, 0}};
  for (const auto& c : cases) {
    WriteFileBytes(path_, {1});
    auto holder = MustOpen(Options(R, c.share));
    EXPECT_EQ(RenameFile(path_, dir_.File("renamed"), false).code(), c.expected);
    const std::string current = c.expected ? path_ : dir_.File("renamed");
    if (c.expected) {
      EXPECT_EQ(RemoveFile(current).code(), c.expected);
    }
    EXPECT_EQ(test::RunProgram("platform_child", {"remove", current}), static_cast<int>(c.expected));
    holder.reset();
    EXPECT_EQ(test::FileExists(current), c.expected != 0);
  }
  const std::string target = dir_.File("target.bin");
  WriteFileBytes(path_, {1, 2});
  WriteFileBytes(target, {9});
  EXPECT_EQ(RenameFile(path_, target, false).code(), kErrAlreadyExists);
  EXPECT_EQ(ReadFileBytes(target).size(), 1u);
  EXPECT_TRUE(RenameFile(path_, target, true).ok());
  EXPECT_EQ(ReadFileBytes(target).size(), 2u);
}

TEST_F(FileTest, OpenFailuresCarryWindowsCodes) {
  const std::string missing = dir_.File("missing.bin");
  const std::string in_missing_dir = dir_.File("no-dir") + "/x.bin";
  const struct {
    const char* what;
    std::string path;
    OpenOptions options;
    uint32_t expected;
  } cases[] = {
      {"open missing file", missing, Options(R, kShareRead), kErrFileNotFound},
      {"open in missing directory", in_missing_dir, Options(R, kShareRead), kErrPathNotFound},
      {"create in missing directory", in_missing_dir,
       Options(W, kShareRead, Disposition::kCreateAlways), kErrPathNotFound},
      {"create new over existing", path_, Options(W, kShareRead, Disposition::kCreateNew),
       kErrFileExists},
      {"open a directory", dir_.path(), Options(R, kShareAll), kErrAccessDenied},
      {"create over a directory", dir_.path(), Options(W, kShareAll, Disposition::kCreateAlways),
       kErrAccessDenied},
  };
  for (const auto& c : cases) {
    std::unique_ptr<File> f;
    Status s = OpenFile(c.path, c.options, &f);
    EXPECT_EQ(s.code(), c.expected) << c.what;
    EXPECT_FALSE(f) << c.what;
  }
  EXPECT_EQ(RemoveFile(missing).code(), kErrFileNotFound);
  EXPECT_EQ(RemoveFile(dir_.path()).code(), kErrAccessDenied);
  EXPECT_EQ(RenameFile(missing, dir_.File("x"), false).code(), kErrFileNotFound);
}

TEST_F(FileTest, DispositionsReportExistingFileAndTruncate) {
  const struct {
    Disposition disposition;
    bool exists;
    uint32_t last_error;
    int64_t size_after;
  } cases[] = {
      {Disposition::kCreateAlways, true, kErrAlreadyExists, 0},
      {Disposition::kCreateAlways, false, 0, 0},
      {Disposition::kOpenAlways, true, kErrAlreadyExists, 8},
      {Disposition::kOpenAlways, false, 0, 0},
      {Disposition::kTruncateExisting, true, 0, 0},
      {Disposition::kCreateNew, false, 0, 0},
      {Disposition::kOpenExisting, true, 0, 8},
  };
  for (const auto& c : cases) {
    if (c.exists) {
      WriteFileBytes(path_, {1, 2, 3, 4, 5, 6, 7, 8});
    } else {
      (void)RemoveFile(path_);
    }
    std::unique_ptr<File> f;
    uint32_t last_error = 12345;
    ASSERT_TRUE(OpenFile(path_, Options(RW, kShareRead, c.disposition), &f, &last_error).ok());
    EXPECT_EQ(last_error, c.last_error) << static_cast<int>(c.disposition);
    int64_t size = -1;
    EXPECT_TRUE(f->GetSize(&size).ok());
    EXPECT_EQ(size, c.size_after) << static_cast<int>(c.disposition);
  }
}

TEST_F(FileTest, OperationsNeedTheMatchingAccess) {
  uint8_t buf[4] = {};
  uint32_t n = 99;
  auto reader = MustOpen(Options(R, kShareAll));
  EXPECT_EQ(reader->Write(buf, 4, &n).code(), kErrAccessDenied);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(reader->Flush().code(), kErrAccessDenied);
  EXPECT_EQ(reader->SetEndOfFile().code(), kErrAccessDenied);
  auto writer = MustOpen(Options(W, kShareAll));
  EXPECT_EQ(writer->Read(buf, 4, &n).code(), kErrAccessDenied);
  EXPECT_TRUE(writer->Flush().ok());
}

TEST_F(FileTest, FilePointerSeeksReadsAndSetsTheEnd) {
  auto f = MustOpen(Options(RW, kShareRead));
  int64_t pos = -1;
  ASSERT_TRUE(f->Seek(5, SeekOrigin::kBegin, &pos).ok());
  EXPECT_EQ(pos, 5);
  EXPECT_EQ(f->Seek(-6, SeekOrigin::kCurrent, &pos).code(), kErrNegativeSeek);
  EXPECT_EQ(f->Seek(-9, SeekOrigin::kEnd, nullptr).code(), kErrNegativeSeek);
  uint8_t buf[16] = {};
  uint32_t got = 0;
  ASSERT_TRUE(f->Read(buf, sizeof buf, &got).ok());  // the pointer stayed at 5
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(buf[0], 6);
  ASSERT_TRUE(f->Read(buf, sizeof buf, &got).ok());
  EXPECT_EQ(got, 0u);
  // The end is set where the pointer stands, cutting or extending with zeros.
  for (int64_t end : {3, 10}) {
    int64_t size = 0;
    ASSERT_TRUE(f->Seek(end, SeekOrigin::kBegin, nullptr).ok());
    ASSERT_TRUE(f->SetEndOfFile().ok());
    ASSERT_TRUE(f->GetSize(&size).ok());
    EXPECT_EQ(size, end);
  }
  ASSERT_TRUE(f->Write("\x2a", 1, &got).ok());
  f.reset();
  EXPECT_EQ(ReadFileBytes(path_), (std::vector<uint8_t>{1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0x2a}));
}

TEST_F(FileTest, BytesPerSectorIsAPowerOfTwoForFilesAndNewNames) {
  for (const std::string& p : {path_, dir_.File("not-yet-there.bin")}) {
    uint32_t bytes = 0;
    ASSERT_TRUE(FileSystem::Current()->BytesPerSector(p, &bytes).ok()) << p;
    EXPECT_GE(bytes, 512u) << p;
    EXPECT_EQ(bytes & (bytes - 1), 0u) << p;
  }
}

#ifndef _WIN32
// A file size limit stands in for a full disk: the write stops part-way.
TEST_F(FileTest, WriteCutShortReportsBytesWrittenAndDiskFull) {
  auto f = MustOpen(Options(W, kShareNone, Disposition::kCreateAlways));
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::vector<uint8_t> data(300, 0x55);
  uint32_t written = 0;
  Status s = f->Write(data.data(), 300, &written);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, old_handler);
  EXPECT_EQ(s.code(), kErrDiskFull);
  EXPECT_EQ(written, 100u);
  int64_t size = 0;
  ASSERT_TRUE(f->GetSize(&size).ok());
  EXPECT_EQ(size, 100);
}
#endif

}  // namespace
}  // namespace corvane::platform
