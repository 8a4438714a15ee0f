// Load and concurrency through the public interfaces, one test per way of
// sharing: many objects on many threads, threads sharing one object while
// its index is built, and passes restarted, stopped and abandoned under load.
// Runs under ThreadSanitizer too (linux-tsan). (A viewer that meets a block
// cut in its data and jumps back to it once the rest arrives: the crash
// points of process_test.cc.)
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "logfile2/log_file2_test_util.h"

namespace corvane::test {
namespace {

// Any message box of the indexing thread is a failure; it is answered
// Cancel (or OK).
int STDMETHODCALLTYPE FailBox(const char* caption, const char* text, unsigned type, void*) {
  ADD_FAILURE() << caption << ": " << text;
  return (type & 0xF) == 0 ? 1 : 2;
}

class ConcurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override { CorvaneSetMessageBoxHandler(&FailBox, nullptr); }
  void TearDown() override { CorvaneSetMessageBoxHandler(nullptr, nullptr); }

  // Waits until a completed pass has indexed `blocks` blocks at `resolution`,
  // then checks that Jump reaches the blocks `numbers` (behind `marks`
  // bookmarks at message 0).
  static bool Indexed(ILogFile2* log, const std::string& path, uint32_t blocks, LONGLONG resolution,
                      std::initializer_list<uint32_t> numbers, uint32_t marks = 0) {
    bool done = WaitUntil([&] {
      LONGLONG count = 0, res = 0;
      return log->GetIndexedRecCount(&count) == S_OK && log->GetIndexResolution(&res) == S_OK && count == blocks + marks && res == resolution && FileSize(Companion(path, "idx")) == IndexSize(blocks, res);
    });
    for (uint32_t i : numbers) done = done && log->Jump(i + marks) == S_OK && NextIsNumbered(log, i);
    return done;
  }

  TempDir dir_;
};

// Objects of every class on many threads, each writing its own log (two
// generations, buffered and not), and several readers of one log side by side.
TEST_F(ConcurrencyTest, ManyObjectsOnManyThreadsEachKeepTheirOwnLog) {
  const std::string shared = dir_.File("shared.cvr");
  ASSERT_TRUE(WriteLog(shared, 3000));
  std::vector<std::thread> threads;
  for (int t = 0; t < 10; ++t) {
    threads.emplace_back([&, t] {
      const bool own = t < 6;
      const std::string path = own ? dir_.File("own" + std::to_string(t) + ".cvr") : shared;
      const uint32_t blocks = own ? 400 + 100 * t : 3000;
      for (int round = 0; round < 2; ++round) {
        WithNew(own ? static_cast<Kind>(t % 3) : Kind::kLogFile2, [&](auto log) {
          if (own && t % 3 == 0) SetBuffer(log.get(), t == 0 ? 0 : 777);
          bool ok = !own || OpenLog(log.get(), path, true, round ? FileVersionCVR_Ve102 : FileVersionCVR_Vu102) == S_OK;
          for (uint32_t i = 0; own && ok && i < blocks; ++i) ok = WriteNumbered(log.get(), i) == S_OK;
          EXPECT_TRUE(ok && (!own || log->Close() == S_OK) && OpenLog(log.get(), path, false) == S_OK &&
                      ReadNumbered(log.get()).whole(blocks) && log->Close() == S_OK) << path;
        });
      }
    });
  }
  for (std::thread& t : threads) t.join();
}

// One object shared by threads: one reads, one polls the counters, the test
// thread jumps, while its indexing pass runs.
TEST_F(ConcurrencyTest, ThreadsSharingOneObjectWhileItsIndexIsBuilt) {
  const std::string path = dir_.File("one.cvr");
  const uint32_t blocks = 6000;
  ASSERT_TRUE(WriteLog(path, blocks));
  auto log = New<ILogFile2>();
  ASSERT_EQ(OpenLog(log.get(), path, false), S_OK);
  ASSERT_EQ(log->CreateIndex(10), S_OK);
  std::atomic<bool> stop{false};
  std::thread poller([&] {
    for (int i = 0; i < 200000 && !stop.load(); ++i) {
      LONGLONG v = 0, count = 0;
      EXPECT_TRUE(log->GetIndexingProgress(&v) == S_OK && v >= 0 && log->GetIndexedRecCount(&count) == S_OK &&
                  count >= 0 && count <= blocks && log->GetIndexResolution(&v) == S_OK &&
                  log->GetFileSize(&v) == S_OK);
      std::this_thread::yield();
    }
  });
  std::thread reader([&] {
    // A failure (its error taken): another thread's Jump came between header and data.
    for (int i = 0; i < 3000 && !stop.load(); ++i) ReadAll(log.get(), 1);
  });
  std::mt19937 random(99);
  for (int i = 0; i < 300; ++i) {
    LONGLONG count = 0;
    log->GetIndexedRecCount(&count);
    if (count > 0 && log->Jump(std::uniform_int_distribution<LONGLONG>(0, count - 1)(random)) != S_OK) TakeError();
    std::this_thread::yield();
  }
  EXPECT_TRUE(Indexed(log.get(), path, blocks, 10, {}));
  stop.store(true);
  poller.join();
  reader.join();
  EXPECT_TRUE(Indexed(log.get(), path, blocks, 10, {0u, 9u, 10u, 3333u, blocks - 1}));
  EXPECT_EQ(log->Close(), S_OK);
}

// Passes restarted by CreateIndex, stopped by Close and abandoned by a
// Release without Close, on three threads at once; then a pass completes.
TEST_F(ConcurrencyTest, IndexingPassesStartStopAndRestartUnderLoad) {
  const uint32_t blocks = 8000;
  auto running = [](ILogFile2* log) {  // waits until a pass has read a little
    WaitUntil([&] { LONGLONG progress = 0; return log->GetIndexingProgress(&progress) == S_OK && progress > 128; }, 20000);
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    const std::string path = dir_.File("restart" + std::to_string(t) + ".cvr");
    ASSERT_TRUE(WriteLog(path, blocks, t == 1 ? FileVersionCVR_Ve102 : FileVersionCVR_V0102));
    threads.emplace_back([&, path] {
      {
        auto log = New<ILogFile2>();
        EXPECT_TRUE(OpenLog(log.get(), path, false) == S_OK);
        for (LONGLONG res : {7, 11, 3}) {
          EXPECT_TRUE(log->CreateIndex(res) == S_OK);  // stops the pass before it
          running(log.get());
        }
        LONGLONG progress = -1;
        EXPECT_TRUE(log->Close() == S_OK && log->GetIndexingProgress(&progress) == S_OK && progress == 0);  // during a pass
        EXPECT_TRUE(OpenLog(log.get(), path, false) == S_OK && log->CreateIndex(13) == S_OK);
        running(log.get());
      }  // released during a pass, without Close
      // A jump during a pass lands on what it has counted; a bookmark inserted
      // meanwhile counts among the messages, before message 0.
      auto log = New<ILogFile2>();
      LONGLONG count = 0;
      EXPECT_TRUE(OpenLog(log.get(), path, false) == S_OK && log->CreateIndex(10) == S_OK);
      running(log.get());
      EXPECT_TRUE(log->GetIndexedRecCount(&count) == S_OK && count > 0 && log->Jump(count - 1) == S_OK &&
                  NextIsNumbered(log.get(), static_cast<uint32_t>(count - 1)));
      EXPECT_TRUE(log->InsertBookmark(0, Bstr("mark").get()) == S_OK &&
                  Indexed(log.get(), path, blocks, 10, {0u, 10u, 4321u, blocks - 1}, 1) && log->Close() == S_OK);
    });
  }
  for (std::thread& t : threads) t.join();
}

}  // namespace
}  // namespace corvane::test
