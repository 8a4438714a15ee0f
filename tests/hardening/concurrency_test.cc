// Load and concurrency through the public interfaces: a viewer with its
// indexing thread on a log that another thread is still writing, many
// objects on many threads, and indexing passes started, restarted, stopped
// by Close and abandoned by Release while other threads poll the object.
// Meant to run under ThreadSanitizer too (the linux-tsan preset).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hardening/hardening_util.h"
#include "support/com_test_util.h"
#include "support/temp_dir.h"

namespace corvane::test {
namespace {

// Counts the indexing thread's message boxes; answers Cancel (or OK).
struct BoxCount {
  std::atomic<int> count{0};
  std::mutex mutex;
  std::string last;
};
int STDMETHODCALLTYPE CountBox(const char* caption, const char* text, unsigned type, void* context) {
  auto* b = static_cast<BoxCount*>(context);
  {
    std::lock_guard<std::mutex> hold(b->mutex);
    b->last = std::string(caption) + ": " + text;
  }
  b->count.fetch_add(1);
  return (type & 0xF) == 0 ? 1 : 2;
}

class ConcurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override { CorvaneSetMessageBoxHandler(&CountBox, &boxes_); }
  void TearDown() override {
    CorvaneSetMessageBoxHandler(nullptr, nullptr);
    std::lock_guard<std::mutex> hold(boxes_.mutex);
    EXPECT_EQ(boxes_.count.load(), 0) << "last box: " << boxes_.last;
  }

  static void WriteLog(const std::string& path, uint32_t blocks,
                       EnumFileVersion version = FileVersionCVR_V0102, ULONG buffer = 65536) {
    auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    log->SetDiskBufferSize(buffer);
    ASSERT_EQ(OpenLogFile2(log.get(), path, FileAccessModeWriteCreateAlways, version), S_OK);
    for (uint32_t i = 0; i < blocks; ++i) ASSERT_EQ(WriteNumbered(log.get(), i), S_OK);
    ASSERT_EQ(log->Close(), S_OK);
  }

  // Waits until a completed pass has indexed `blocks` messages at
  // `resolution` (the index file has all its records).
  static bool AwaitIndex(ILogFile2* log, const std::string& path, uint32_t blocks, LONGLONG resolution) {
    const int64_t size = 144 + 24 * static_cast<int64_t>((blocks - 1) / resolution);
    return WaitUntil([&] {
      LONGLONG count = 0, res = 0;
      log->GetIndexedRecCount(&count);
      log->GetIndexResolution(&res);
      return count == blocks && res == resolution && FileSize(Companion(path, "idx")) == size;
    });
  }

  TempDir dir_;
  BoxCount boxes_;
};

#ifndef _WIN32

// Another tool writes the log (plain file writes, no share modes), in
// pieces of any size, while a viewer reads it with LogFile2 and indexes it
// again and again. The viewer never gets a block other than the next one or
// changed bytes: a piece cut in a header or in data is reported as damage
// and read whole once it has arrived (after a Jump back for a data cut).
TEST_F(ConcurrencyTest, AViewerAndItsIndexFollowALogThatIsStillBeingWritten) {
  struct Case {
    const char* name;
    EnumFileVersion version;
    uint32_t grain;  // pieces are multiples of this (the cipher's grid)
  };
  for (const Case c : {Case{"plain", FileVersionCVR_V0102, 1}, Case{"enciphered", FileVersionCVR_Ve102, 128}}) {
    SCOPED_TRACE(c.name);
    const uint32_t blocks = 1500;
    const std::string model = dir_.File(std::string("model-") + c.name + ".cvr");
    WriteLog(model, blocks, c.version);
    const Bytes bytes = ReadFileBytes(model);
    const std::string live = dir_.File(std::string("live-") + c.name + ".cvr");

    std::atomic<bool> written{false};
    std::thread writer([&] {
      std::mt19937 random(1234);
      std::FILE* f = std::fopen(live.c_str(), "wb");
      if (!f) return written.store(true);
      size_t at = 0;
      for (int piece = 0; at < bytes.size() && piece < 100000; ++piece) {
        size_t n = std::uniform_int_distribution<size_t>(1, 900)(random);
        if (at == 0) n = 128 + n % 64;  // the header, and a little more
        if (c.grain > 1) n = (n + c.grain - 1) / c.grain * c.grain;
        n = std::min(n, bytes.size() - at);
        std::fwrite(bytes.data() + at, 1, n, f);
        std::fflush(f);
        at += n;
        if (piece % 4 == 0) PauseMs(1);
      }
      std::fclose(f);
      written.store(true);
    });

    ASSERT_TRUE(WaitUntil([&] { return FileSize(live) >= 144; }));
    auto viewer = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    ASSERT_EQ(OpenLogFile2(viewer.get(), live, FileAccessModeReadOnly), S_OK);
    ASSERT_EQ(viewer->CreateIndex(5), S_OK);

    uint32_t next = 0;
    int header_cuts = 0, data_cuts = 0, jumps = 0, ends = 0;
    for (int step = 0; step < 400000 && next < blocks; ++step) {
      LogBlockHeader h{};
      ULONG returned = 0;
      LONG eof = 0;
      HRESULT hr = viewer->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &eof);
      if (hr == S_OK && !eof) {
        Bytes data(h.dwDataLength);
        BYTE spare = 0;
        ASSERT_EQ(viewer->ReadBlockData(data.empty() ? &spare : data.data(), h.dwDataLength), S_OK);
        ASSERT_EQ(h.wBlockID, NumberedHeader(next).wBlockID) << next;
        ASSERT_EQ(data, NumberedData(next)) << next;
        ++next;
        continue;
      }
      const std::string text = TakeError().description;
      if (hr == S_OK) {
        ++ends;  // nothing more yet
      } else if (hr == E_CVR_BLOCK_HEADER_READ_FAILED) {
        ++header_cuts;  // the reader stays at the header and reads it again
      } else if (hr == E_CVR_BLOCK_HEADER_DATA_CORRUPT) {
        ++data_cuts;
        // Back to the block through the index; a pass started anew counts
        // what has arrived since.
        bool back = false;
        for (int attempt = 0; attempt < 20000 && !back; ++attempt) {
          LONGLONG count = 0;
          viewer->GetIndexedRecCount(&count);
          if (count > next && viewer->Jump(next) == S_OK) {
            back = true;
            ++jumps;
          } else {
            TakeError();
            if (attempt % 50 == 0) {
              ASSERT_EQ(viewer->CreateIndex(5), S_OK);
            }
            PauseMs(1);
          }
        }
        ASSERT_TRUE(back) << "no way back to block " << next;
      } else {
        FAIL() << "block " << next << ": " << text;
      }
      PauseMs(1);
    }
    writer.join();
    ASSERT_TRUE(written.load());
    EXPECT_EQ(next, blocks);
    std::printf("%s: %d header cuts, %d data cuts (%d jumps back), %d ends met\n", c.name, header_cuts,
                data_cuts, jumps, ends);

    // With the whole log there, a new pass indexes every block.
    ASSERT_EQ(viewer->CreateIndex(5), S_OK);
    ASSERT_TRUE(AwaitIndex(viewer.get(), live, blocks, 5));
    for (uint32_t i : {0u, 4u, 5u, 777u, blocks - 1}) {
      ASSERT_EQ(viewer->Jump(i), S_OK) << i;
      EXPECT_TRUE(NextIsNumbered(viewer.get(), i)) << i;
    }
    ASSERT_EQ(viewer->Close(), S_OK);
  }
}

#else

TEST_F(ConcurrencyTest, AViewerAndItsIndexFollowALogThatIsStillBeingWritten) {
  GTEST_SKIP() << "Windows refuses a reader beside another program's writer (share modes)";
}

#endif

// Objects of every class on many threads at once, each on its own file,
// and several readers of one log side by side (all sharing read).
TEST_F(ConcurrencyTest, ManyObjectsOnManyThreadsEachKeepTheirOwnLog) {
  const std::string shared = dir_.File("shared.cvr");
  WriteLog(shared, 3000);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  auto check = [&failures](bool ok) {
    if (!ok) failures.fetch_add(1);
  };
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      const std::string path = dir_.File("own" + std::to_string(t) + ".cvr");
      const uint32_t blocks = 400 + 100 * t;
      for (int round = 0; round < 2; ++round) {
        if (t % 3 == 0) {
          auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
          log->SetDiskBufferSize(t == 0 ? 0 : 777);
          const EnumFileVersion v = round == 0 ? FileVersionCVR_Vu102 : FileVersionCVR_Ve102;
          check(OpenLogFile2(log.get(), path, FileAccessModeWriteCreateAlways, v) == S_OK);
          for (uint32_t i = 0; i < blocks; ++i) check(WriteNumbered(log.get(), i) == S_OK);
          check(log->Close() == S_OK);
          check(OpenLogFile2(log.get(), path, FileAccessModeReadOnly) == S_OK);
          ReadBack r = ReadNumbered(log.get());
          check(r.clean_end && !r.mismatch && r.blocks == blocks);
          check(log->Close() == S_OK);
        } else if (t % 3 == 1) {
          auto log = Create<ILogFile>(CLSID_LogFile, IID_ILogFile);
          check(OpenLogFile(log.get(), path, FileAccessModeWriteCreateAlways) == S_OK);
          for (uint32_t i = 0; i < blocks; ++i) check(WriteNumbered(log.get(), i) == S_OK);
          check(log->Close() == S_OK);
          check(OpenLogFile(log.get(), path, FileAccessModeReadOnly) == S_OK);
          ReadBack r = ReadNumbered(log.get());
          check(r.clean_end && !r.mismatch && r.blocks == blocks);
          check(log->Close() == S_OK);
        } else {
          auto log = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
          check(OpenCorvane(log.get(), path, CVRFileAccessModeWrite, CVRFileCreateModeAlways) == S_OK);
          for (uint32_t i = 0; i < blocks; ++i) check(WriteNumbered(log.get(), i) == S_OK);
          check(log->Close() == S_OK);
          check(OpenCorvane(log.get(), path, CVRFileAccessModeRead, CVRFileCreateModeExisting) == S_OK);
          ReadBack r = ReadNumbered(log.get());
          check(r.clean_end && !r.mismatch && r.blocks == blocks);
          check(log->Close() == S_OK);
        }
      }
    });
  }
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 2; ++round) {
        auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
        check(OpenLogFile2(log.get(), shared, FileAccessModeReadOnly) == S_OK);
        ReadBack r = ReadNumbered(log.get());
        check(r.clean_end && !r.mismatch && r.blocks == 3000);
        check(log->Close() == S_OK);
        (void)t;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

// One object shared by threads: one reads the log, one jumps, one polls
// the counters, while the object's indexing pass runs.
TEST_F(ConcurrencyTest, ThreadsSharingOneObjectWhileItsIndexIsBuilt) {
  const std::string path = dir_.File("one.cvr");
  const uint32_t blocks = 6000;
  WriteLog(path, blocks);
  auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
  ASSERT_EQ(OpenLogFile2(log.get(), path, FileAccessModeReadOnly), S_OK);
  ASSERT_EQ(log->CreateIndex(10), S_OK);

  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::atomic<int> bad_records{0};
  std::thread poller([&] {
    for (int i = 0; i < 200000 && !stop.load(); ++i) {
      LONGLONG v = 0;
      if (log->GetIndexingProgress(&v) != S_OK || v < 0) bad.fetch_add(1);
      if (log->GetIndexedRecCount(&v) != S_OK || v < 0 || v > blocks) bad.fetch_add(1);
      if (log->GetIndexResolution(&v) != S_OK) bad.fetch_add(1);
      if (log->GetFileSize(&v) != S_OK) bad.fetch_add(1);
      std::this_thread::yield();
    }
  });
  std::thread reader([&] {
    // Records of a reader whose place another thread moves: every record is
    // some whole block.
    for (int i = 0; i < 3000 && !stop.load(); ++i) {
      LogBlockHeader h{};
      ULONG returned = 0;
      LONG eof = 0;
      if (log->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &eof) != S_OK) {
        TakeError();
        continue;
      }
      if (eof) continue;
      Bytes data(h.dwDataLength);
      BYTE spare = 0;
      if (log->ReadBlockData(data.empty() ? &spare : data.data(), h.dwDataLength) != S_OK) {
        TakeError();  // another thread's read took the record
        continue;
      }
      // A Jump on another thread between the header and the data leaves
      // the reader on another record, whose data then arrives (it fits the
      // buffer, or the read is refused): whole, and in the first bytes.
      const uint32_t n = data.size() >= 4 ? data[0] | data[1] << 8 | data[2] << 16 | uint32_t{data[3]} << 24 : 0;
      const Bytes want = n < blocks ? NumberedData(n) : Bytes();
      if (want.empty() || want.size() > data.size() || !std::equal(want.begin(), want.end(), data.begin())) {
        bad_records.fetch_add(1);
      }
    }
  });
  std::mt19937 random(99);
  for (int i = 0; i < 300; ++i) {
    LONGLONG count = 0;
    log->GetIndexedRecCount(&count);
    if (count < 1) {
      std::this_thread::yield();
      continue;
    }
    const auto target = std::uniform_int_distribution<LONGLONG>(0, count - 1)(random);
    if (log->Jump(target) != S_OK) TakeError();
  }
  ASSERT_TRUE(AwaitIndex(log.get(), path, blocks, 10));
  stop.store(true);
  poller.join();
  reader.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(bad_records.load(), 0);
  for (uint32_t i : {0u, 9u, 10u, 3333u, blocks - 1}) {
    ASSERT_EQ(log->Jump(i), S_OK);
    EXPECT_TRUE(NextIsNumbered(log.get(), i)) << i;
  }
  EXPECT_EQ(log->Close(), S_OK);
}

// Passes are restarted by CreateIndex, stopped by Close and abandoned by a
// Release without Close, on several threads with a log each; in the end a
// pass completes and its index reaches every block.
TEST_F(ConcurrencyTest, IndexingPassesStartStopAndRestartUnderLoad) {
  const uint32_t blocks = 8000;
  std::vector<std::string> paths;
  for (int t = 0; t < 3; ++t) {
    paths.push_back(dir_.File("restart" + std::to_string(t) + ".cvr"));
    WriteLog(paths.back(), blocks, t == 1 ? FileVersionCVR_Ve102 : FileVersionCVR_V0102);
  }
  std::atomic<int> failures{0};
  auto check = [&failures](bool ok, int line) {
    if (!ok) {
      failures.fetch_add(1);
      std::printf("check failed at line %d\n", line);
    }
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      const std::string& path = paths[t];
      auto running = [](ILogFile2* log) {
        return WaitUntil([&] {
          LONGLONG progress = 0;
          return log->GetIndexingProgress(&progress) == S_OK && progress > 128;
        }, 20000);
      };
      {
        auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
        check(OpenLogFile2(log.get(), path, FileAccessModeReadOnly) == S_OK, __LINE__);
        for (LONGLONG res : {7, 11, 3}) {
          check(log->CreateIndex(res) == S_OK, __LINE__);  // stops the pass before it
          running(log.get());
        }
        check(log->Close() == S_OK, __LINE__);  // during a pass
        LONGLONG progress = -1;
        log->GetIndexingProgress(&progress);
        check(progress == 0, __LINE__);
        check(OpenLogFile2(log.get(), path, FileAccessModeReadOnly) == S_OK, __LINE__);
        check(log->CreateIndex(13) == S_OK, __LINE__);
        running(log.get());
      }  // released during a pass, without Close
      auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
      check(OpenLogFile2(log.get(), path, FileAccessModeReadOnly) == S_OK, __LINE__);
      check(log->CreateIndex(10) == S_OK, __LINE__);
      check(AwaitIndex(log.get(), path, blocks, 10), __LINE__);
      for (uint32_t i : {0u, 10u, 4321u, blocks - 1}) {
        check(log->Jump(i) == S_OK && NextIsNumbered(log.get(), i), __LINE__);
      }
      // Another pass, stopped by Close: a rebuild keeps the old index, and
      // one that pre-empted the publication of the first pass (whose file
      // was written but not yet taken into use) leaves no index. Never a
      // part of one.
      check(log->CreateIndex(20) == S_OK, __LINE__);
      check(log->Close() == S_OK, __LINE__);
      const int64_t size = FileSize(Companion(path, "idx"));
      check(size == 144 + 24 * 799 || size == 144 + 24 * 399 || size == -1, __LINE__);
      check(!FileExists(dir_.File("~restart" + std::to_string(t) + ".idx")), __LINE__);
      check(OpenLogFile2(log.get(), path, FileAccessModeReadOnly) == S_OK, __LINE__);
      if (size > 0) {
        for (uint32_t i : {1u, 3999u, blocks - 1}) {
          check(log->Jump(i) == S_OK && NextIsNumbered(log.get(), i), __LINE__);
        }
      }
      check(log->Close() == S_OK, __LINE__);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace corvane::test
