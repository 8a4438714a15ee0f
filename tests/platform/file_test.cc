// Files with Windows semantics: share modes within and across processes,
// error codes, access rights and a write cut short.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
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
using D = Disposition;

constexpr uint32_t R = kAccessRead, W = kAccessWrite, RW = R | W;
constexpr uint32_t kShareRW = kShareRead | kShareWrite, kShareAll = kShareRW | kShareDelete;

class FileTest : public ::testing::Test {
 protected:
  FileTest() : path_(dir_.File("data.bin")) { WriteFileBytes(path_, {1, 2, 3, 4, 5, 6, 7, 8}); }

  // The Windows error code of the open (0 for success); `keep` takes the file.
  uint32_t Open(uint32_t access, uint32_t share, D d = D::kOpenExisting, std::unique_ptr<File>* keep = nullptr,
                const std::string& path = {}) {
    std::unique_ptr<File> f;
    Status s = OpenFile(path.empty() ? path_ : path, {access, share, d, false}, &f);
    EXPECT_EQ(s.ok(), f != nullptr);
    if (keep) *keep = std::move(f);
    return s.code();
  }
  std::unique_ptr<File> MustOpen(uint32_t access, uint32_t share, D d = D::kOpenExisting) {
    std::unique_ptr<File> f;
    EXPECT_EQ(Open(access, share, d, &f), 0u);
    return f;
  }
  // The same open from platform_child, which closes the file again.
  int ChildOpen(uint32_t access, uint32_t share, D d = D::kOpenExisting) {
    return test::RunProgram("platform_child", {"open", path_, std::to_string(access), std::to_string(share),
                                               std::to_string(static_cast<uint32_t>(d))});
  }

  test::TempDir dir_;
  std::string path_;
};

// One row per rule: first access and share, second access and share, result.
constexpr uint32_t kShareCases[][5] = {
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
  for (const auto& c : kShareCases) {
    SCOPED_TRACE(::testing::Message() << "row " << &c - kShareCases);
    auto first = MustOpen(c[0], c[1]);
    EXPECT_EQ(Open(c[2], c[3]), c[4]);
    EXPECT_EQ(ChildOpen(c[2], c[3]), static_cast<int>(c[4]));
  }
  EXPECT_EQ(ChildOpen(RW, kShareNone), 0) << "every handle above is closed again";
  // A refused truncating open leaves the file intact.
  auto holder = MustOpen(R, kShareRead);
  for (D d : {D::kCreateAlways, D::kTruncateExisting}) {
    EXPECT_EQ(Open(W, kShareRW, d), kErrSharingViolation);
    EXPECT_EQ(ChildOpen(W, kShareRW, d), static_cast<int>(kErrSharingViolation));
  }
  EXPECT_EQ(ReadFileBytes(path_).size(), 8u);
}

TEST_F(FileTest, RemoveAndRenameNeedDeleteSharingAndRenameReplacesOnlyWhenAsked) {
  for (uint32_t share : {kShareRW, kShareAll}) {
    const uint32_t expected = share == kShareAll ? 0u : uint32_t{kErrSharingViolation};
    WriteFileBytes(path_, {1});
    auto holder = MustOpen(R, share);
    EXPECT_EQ(RenameFile(path_, dir_.File("renamed"), false).code(), expected);
    const std::string current = expected ? path_ : dir_.File("renamed");
    EXPECT_EQ(expected ? RemoveFile(current).code() : 0u, expected);
    EXPECT_EQ(test::RunProgram("platform_child", {"remove", current}), static_cast<int>(expected));
    holder.reset();
    EXPECT_EQ(test::FileExists(current), expected != 0);
  }
  const std::string target = dir_.File("target.bin");
  WriteFileBytes(path_, {1, 2});
  WriteFileBytes(target, {9});
  EXPECT_EQ(RenameFile(path_, target, false).code(), kErrAlreadyExists);
  EXPECT_TRUE(RenameFile(path_, target, true).ok());
  EXPECT_EQ(ReadFileBytes(target).size(), 2u);
}

TEST_F(FileTest, FailuresCarryWindowsCodes) {
  const std::string missing = dir_.File("missing.bin"), in_missing_dir = dir_.File("no-dir") + "/x.bin";
  const std::tuple<std::string, uint32_t, D, uint32_t> opens[] = {
      {missing, R, D::kOpenExisting, kErrFileNotFound}, {in_missing_dir, W, D::kCreateAlways, kErrPathNotFound},
      {path_, W, D::kCreateNew, kErrFileExists},        {dir_.path(), W, D::kCreateAlways, kErrAccessDenied}};
  for (const auto& [path, access, d, code] : opens) EXPECT_EQ(Open(access, kShareAll, d, nullptr, path), code) << path;
  EXPECT_EQ(RemoveFile(missing).code(), kErrFileNotFound);
  EXPECT_EQ(RemoveFile(dir_.path()).code(), kErrAccessDenied);
  // Operations need the matching access (also under Wine, for SetEndOfFile).
  uint8_t buf[4] = {};
  uint32_t n = 99;
  auto reader = MustOpen(R, kShareAll);
  EXPECT_EQ(std::make_pair(reader->Write(buf, 4, &n).code(), n), std::make_pair(uint32_t{kErrAccessDenied}, 0u));
  EXPECT_EQ(reader->Flush().code(), kErrAccessDenied);
  EXPECT_EQ(reader->SetEndOfFile().code(), kErrAccessDenied);
  EXPECT_EQ(MustOpen(W, kShareAll)->Read(buf, 4, &n).code(), kErrAccessDenied);
}

#ifndef _WIN32
// A file size limit stands in for a full disk: the write stops part-way.
TEST_F(FileTest, WriteCutShortReportsBytesWrittenAndDiskFull) {
  auto f = MustOpen(W, kShareNone, D::kCreateAlways);
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = {100, saved.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  uint32_t written = 0;
  Status s = f->Write(std::vector<uint8_t>(300, 0x55).data(), 300, &written);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, old_handler);
  int64_t size = 0;
  ASSERT_TRUE(f->GetSize(&size).ok());
  EXPECT_EQ(std::make_tuple(s.code(), written, size), std::make_tuple(uint32_t{kErrDiskFull}, 100u, int64_t{100}));
}
#endif

}  // namespace
}  // namespace corvane::platform
