// The platform layer, on POSIX and, cross-built, as the Win32 layer under
// Wine: files with Windows semantics (share modes within and across
// processes, error codes, access rights, a write cut short); the registry
// (several writers at once, and on POSIX the store file itself); the runtime
// functions clients use (BSTRs and the default message box of the indexing
// thread; a client's handler is used by the index tests of tests/logfile2 and
// tests/hardening). The per-thread slot of error objects is read by every
// check of an error text (TakeError), from many threads at once in the
// hardening concurrency tests, where a reference too many or too few shows
// under the sanitizers.
#include <gtest/gtest.h>

#include <corvane/corvane.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

#include "platform/file.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/system.h"
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
  uint32_t Open(uint32_t access, uint32_t share, D d = D::kOpenExisting, std::unique_ptr<File>* keep = nullptr, const std::string& path = {}) {
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
    return test::RunProgram("platform_child", {"open", path_, std::to_string(access), std::to_string(share), std::to_string(static_cast<uint32_t>(d))});
  }

  test::TempDir dir_; std::string path_;
};

// One row per rule: first access and share, second access and share, result.
// Refused in turn: the second denies the first's read, the first denies read,
// the first denies write, the second denies the first's write, the first
// denies write again. A handle without access takes no part.
constexpr uint32_t kShareCases[][5] = {
    {R, kShareRead, R, kShareNone, kErrSharingViolation}, {R, kShareNone, R, kShareRW, kErrSharingViolation},
    {R, kShareRead, W, kShareRW, kErrSharingViolation}, {W, kShareRead, R, kShareRead, kErrSharingViolation},
    {RW, kShareRead, RW, kShareRW, kErrSharingViolation}, {R, kShareRead, R, kShareRead, 0}, {R, kShareRW, W, kShareRW, 0},
    {W, kShareRead, R, kShareRW, 0}, {RW, kShareRW, RW, kShareRW, 0}, {0, kShareNone, RW, kShareNone, 0}, {RW, kShareNone, 0, kShareNone, 0},
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
  EXPECT_TRUE(RenameFile(path_, target, true).ok() && ReadFileBytes(target).size() == 2u);
}

TEST_F(FileTest, FailuresCarryWindowsCodes) {
  const std::string missing = dir_.File("missing.bin"), in_missing_dir = dir_.File("no-dir") + "/x.bin";
  const std::tuple<std::string, uint32_t, D, uint32_t> opens[] = {
      {missing, R, D::kOpenExisting, kErrFileNotFound}, {in_missing_dir, W, D::kCreateAlways, kErrPathNotFound},
      {path_, W, D::kCreateNew, kErrFileExists},        {dir_.path(), W, D::kCreateAlways, kErrAccessDenied}};
  for (const auto& [path, access, d, code] : opens) EXPECT_EQ(Open(access, kShareAll, d, nullptr, path), code) << path;
  EXPECT_EQ(std::make_pair(RemoveFile(missing).code(), RemoveFile(dir_.path()).code()), std::make_pair(uint32_t{kErrFileNotFound}, uint32_t{kErrAccessDenied}));
  // Operations need the matching access (also under Wine, for SetEndOfFile).
  uint8_t buf[4] = {}; uint32_t n = 99;
  auto reader = MustOpen(R, kShareAll);
  EXPECT_TRUE(reader->Write(buf, 4, &n).code() == kErrAccessDenied && n == 0) << n;
  EXPECT_EQ(std::make_tuple(reader->Flush().code(), reader->SetEndOfFile().code(), MustOpen(W, kShareAll)->Read(buf, 4, &n).code()),
            std::make_tuple(uint32_t{kErrAccessDenied}, uint32_t{kErrAccessDenied}, uint32_t{kErrAccessDenied}));
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
  uint32_t written = 0; Status s = f->Write(std::vector<uint8_t>(300, 0x55).data(), 300, &written);
  setrlimit(RLIMIT_FSIZE, &saved), signal(SIGXFSZ, old_handler);
  int64_t size = 0;
  ASSERT_TRUE(f->GetSize(&size).ok());
  EXPECT_EQ(std::make_tuple(s.code(), written, size), std::make_tuple(uint32_t{kErrDiskFull}, 100u, int64_t{100}));
}
#endif

// ---- The registry ----

constexpr Hive kUser = Hive::kCurrentUser; const std::string kRoot = "Software\\Corvane Tests\\Registry";

// Two processes and two threads of this one write distinct values at once.
TEST(RegistryTest, ConcurrentWritersLoseNoValue) {
  constexpr int kPerWriter = 60;
  const std::string key = kRoot + "\\Concurrent", count = std::to_string(kPerWriter);
  test::BackgroundProgram child0("platform_child", {"regwrite", key, "w0-", count});
  test::BackgroundProgram child1("platform_child", {"regwrite", key, "w1-", count});
  auto write = [&](const std::string& prefix) {
    for (int i = 0; i < kPerWriter; ++i) EXPECT_TRUE(registry::SetDword(kUser, key, prefix + std::to_string(i), i).ok());
  };
  std::thread w2(write, "w2-"), w3(write, "w3-");
  w2.join(), w3.join();
  EXPECT_EQ(std::make_pair(child0.Join(), child1.Join()), std::make_pair(0, 0));
  for (int w = 0; w < 4; ++w)
    for (uint32_t i = 0, value = 0, size = 4, type = 0; i < kPerWriter; ++i, size = 4) {  // a little-endian DWORD
      const std::string name = "w" + std::to_string(w) + "-" + std::to_string(i);
      EXPECT_TRUE(registry::QueryValue(kUser, key, name, &value, &size, &type).ok() && value == i && type == kRegDword) << name;
    }
  EXPECT_TRUE(registry::DeleteTree(kUser, kRoot).ok());
}

#ifndef _WIN32
// The POSIX store: readable text, lines it does not know kept, strings with
// any characters, looked up at every call, an edit in place seen at once.
TEST(RegistryTest, StoreFileIsTextKeptAcrossWritesAndReadAtEveryCall) {
  test::TempDir dir;
  const char* old = std::getenv("CORVANE_REGISTRY");
  const std::string store = dir.File("cfg") + "/corvane/registry", saved = old ? old : "";
  setenv("CORVANE_REGISTRY", store.c_str(), 1);
  auto text = [&] { const auto bytes = test::ReadFileBytes(store); return std::string(bytes.begin(), bytes.end()); };
  ASSERT_TRUE(registry::CreateKey(kUser, "K", nullptr).ok());  // makes the directories
  const std::string hand = "; my notes\n[HKEY_CURRENT_USER\\K]\n\"Odd\"=qword:5\n\"N\"=dword:7\n";
  test::WriteFileBytes(store, std::vector<uint8_t>(hand.begin(), hand.end()));
  const std::string key = "Software\\Vendor\\Settings", odd = "two\nlines\r\n\t[x]\n\"N\"=dword:1\\";
  ASSERT_TRUE(registry::SetDword(kUser, key, "Disk Buffer Size", 128).ok() && registry::SetDword(kUser, "K", "M", 8).ok() &&
              registry::SetString(kUser, key, "Key File", "/tmp/a \"b\"\\c").ok() && registry::SetString(kUser, key, "V \"q\\\"", odd).ok() &&
              registry::SetString(Hive::kClassesRoot, "CLSID\\{X}", "", "Corvane.Test").ok());
  for (const char* line : {"; my notes\n", "\"Odd\"=qword:5\n", "\"N\"=dword:7\n", "\"M\"=dword:8\n",
                           "[HKEY_CURRENT_USER\\Software\\Vendor\\Settings]\n", "\"Disk Buffer Size\"=dword:128\n",
                           "\"Key File\"=\"/tmp/a \\\"b\\\"\\\\c\"\n", "[HKEY_CLASSES_ROOT\\CLSID\\{X}]\n@=\"Corvane.Test\"\n"})
    EXPECT_NE(text().find(line), std::string::npos) << line;
  std::string value;
  EXPECT_TRUE(registry::QueryString(kUser, key, "v \"Q\\\"", &value).ok() && value == odd) << value;
  std::string edited = text();  // same size, just after a read
  edited.replace(edited.find("/tmp/a"), 6, "/var/b");
  if (FILE* f = std::fopen(store.c_str(), "r+")) std::fwrite(edited.data(), 1, edited.size(), f), std::fclose(f);
  EXPECT_TRUE(registry::QueryString(kUser, key, "Key File", &value).ok() && value == "/var/b \"b\"\\c") << value;
  setenv("CORVANE_REGISTRY", dir.File("other").c_str(), 1);
  EXPECT_FALSE(registry::KeyExists(kUser, "K"));
  setenv("CORVANE_REGISTRY", saved.c_str(), 1);
}
#endif  // !_WIN32

// ---- The runtime functions of clients ----

// A 32-bit byte count before the characters, a terminator after them, room
// for the caller to fill when no text is given.
// Re-entry, which the thread-safety analysis does not model.
void EnterAgain(CriticalSection& lock) NO_THREAD_SAFETY_ANALYSIS { lock.Enter(); }
void LeaveAgain(CriticalSection& lock) NO_THREAD_SAFETY_ANALYSIS { lock.Leave(); }

// The object lock under contention: threads that enter it, and again
// inside, in tight loops never overlap inside; now and then a holder stays
// long enough for the others to go to sleep, and a wake-up lost on leaving
// would hang the test.
TEST(CriticalSectionTest, ExcludesReentersAndWakesEveryWaiter) {
  CriticalSection lock;
  int inside = 0;
  int64_t total = 0;
  std::atomic<bool> overlapped{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50000; ++i) {
        CriticalSectionLock hold(lock);
        EnterAgain(lock);
        if (inside++ != 0) overlapped = true;
        ++total;
        if (i % 5000 == 0) SleepMilliseconds(1);
        --inside;
        LeaveAgain(lock);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_FALSE(overlapped);
  EXPECT_EQ(total, 4 * 50000);
}

TEST(BstrTest, LengthPrefixTerminatorEmbeddedZerosAndNullInputs) {
  const OLECHAR text[] = {'a', 'b', 0, 'c'};
  BSTR s = SysAllocStringLen(text, 4), room = SysAllocStringLen(nullptr, 5);
  ASSERT_TRUE(s && room);
  uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<const char*>(s) - 4, 4);
  EXPECT_EQ(std::make_tuple(prefix, SysStringLen(s), std::memcmp(s, text, sizeof text), s[4]), std::make_tuple(8u, 4u, 0, 0));
  EXPECT_EQ(std::make_pair(SysStringLen(room), room[5]), std::make_pair(5u, OLECHAR{0}));
  SysFreeString(s), SysFreeString(room);
  EXPECT_EQ(std::make_pair(SysAllocString(nullptr), SysStringLen(nullptr)), std::make_pair(BSTR{}, 0u));
  SysFreeString(nullptr);
}

#ifndef _WIN32
// Without a client's handler, POSIX writes caption and text to standard
// error, one line each, and answers Cancel (or OK).
TEST(MessageBoxTest, DefaultWritesToStandardErrorAndCancels) {
  ::testing::internal::CaptureStderr();
  const int retry_cancel = ShowMessageBox("Corvane", "Index write\nfailed", kMbRetryCancel | kMbIconError);
  const int ok_only = ShowMessageBox("Note", "Done", kMbOk);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Corvane\nIndex write failed\nNote\nDone\n");
  EXPECT_EQ(std::make_pair(retry_cancel, ok_only), std::make_pair(kIdCancel, kIdOk));
}
#endif

}  // namespace
}  // namespace corvane::platform
