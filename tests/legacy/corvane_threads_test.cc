// One Corvane object called from several threads at once (run under the
// thread sanitizer by the linux-tsan preset).
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "support/com_test_util.h"
#include "support/temp_dir.h"

namespace corvane::test {
namespace {

constexpr int kThreads = 4, kBlocks = 250;

// Runs body(t) on each thread; all start together.
template <class Body> void OnThreads(Body body) {
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (++ready; ready < kThreads;) std::this_thread::yield();
      body(t);
    });
  }
  for (auto& thread : threads) thread.join();
}

// Writers each put their number in every data byte; read back, every block
// is whole and found once. Readers sharing the read position get whole calls.
TEST(CorvaneThreadsTest, ThreadsWriteAndReadThroughOneObject) {
  TempDir dir;
  Bstr name(dir.File("threads.log"));
  ComPtr<ICorvane> log = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
  ASSERT_EQ(log->Open(name.get(), CVRFileAccessModeWrite, CVRFileCreateModeAlways), S_OK);
  OnThreads([&](int t) {
    for (int i = 0; i < kBlocks; ++i) {
      std::vector<BYTE> data(8 + i % 5, static_cast<BYTE>(t));
      ULONG size = 0, position = 0;
      EXPECT_EQ(log->WriteBlock(static_cast<USHORT>(t * 1000 + i), 0, data.data(), ULONG(data.size())), S_OK);
      EXPECT_TRUE(log->GetFileSize(&size) == S_OK && log->GetFilePointerPos(&position) == S_OK);
    }
  });
  std::set<int> seen;
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_EQ(log->Close(), S_OK);
    ASSERT_EQ(log->Open(name.get(), CVRFileAccessModeRead, CVRFileCreateModeExisting), S_OK);
    std::atomic<bool> end{false};
    OnThreads([&](int t) {
      for (int k = 0; k < 1000000 && !end && (pass == 1 || t == 0); ++k) {
        USHORT id = 0;
        BYTE conn = 0;
        ULONG stamp = 0, length = 0;
        LONG eof = 0;
        if (log->ReadBlockHeader(&id, &conn, &stamp, &length, &eof) != S_OK) continue;
        if (eof) end = true;
        std::vector<BYTE> data(length + 1);
        const HRESULT hr = log->ReadBlockData(data.data(), length);  // fails when another thread read a header since
        data.pop_back();
        if (pass > 0 || eof) continue;
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(data, std::vector<BYTE>(8 + id % 1000 % 5, static_cast<BYTE>(id / 1000)));
        EXPECT_TRUE(seen.insert(id).second) << id;
      }
    });
  }
  EXPECT_EQ(seen.size(), size_t{kThreads * kBlocks});
  EXPECT_EQ(log->Close(), S_OK);
  TakeError();
}

}  // namespace
}  // namespace corvane::test
