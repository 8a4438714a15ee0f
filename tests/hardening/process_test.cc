// Second processes: files in use by another process, through the
// interfaces (share modes hold across processes), and a recorder killed
// with SIGKILL in the middle of writing (Linux).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hardening/hardening_util.h"
#include "support/com_test_util.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace corvane::test {
namespace {

// Runs hardening_child to its end.
int Child(const std::vector<std::string>& args) { return RunProgram("hardening_child", args); }

// ---- Files in use by another process ----

class SharedFileTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name) { return dir_.File(name); }
  // A child that holds its file until released.
  std::unique_ptr<BackgroundProgram> StartHolder(std::vector<std::string> args) {
    std::remove(release_.c_str());
    std::remove(ready_.c_str());
    args.push_back(ready_);
    args.push_back(release_);
    auto child = std::make_unique<BackgroundProgram>("hardening_child", std::move(args));
    EXPECT_TRUE(child->AwaitFile(ready_)) << "child exit code " << child->Join();
    return child;
  }
  void Release() { WriteFileBytes(release_, {'1'}); }

  TempDir dir_;
  const std::string ready_ = dir_.File("ready"), release_ = dir_.File("release");
};

TEST_F(SharedFileTest, CorvaneHoldsItsLogForItselfAgainstOtherProcesses) {
  const std::string log_path = File("held.cvr");
  {
    auto child = StartHolder({"record", "corvane", log_path, "0", "0", "50"});
    const int64_t size = FileSize(log_path);
    // Every kind of object is refused while the recorder holds the log, and
    // none of them touches it.
    for (bool write : {false, true}) {
      EXPECT_CVR_ERROR(OpenLog(New<ICorvane>().get(), log_path, write), E_CVR_FILE_CREATION_FAILS,
                       "File creation failed", "CORVANE");
    }
    EXPECT_CVR_ERROR(OpenLog(New<ILogFile2>().get(), log_path, false), E_CVR_FILE_CREATION_FAILS,
                     "File creation failed", "LOGFILE");
    EXPECT_CVR_ERROR(OpenLog(New<ILogFile>().get(), log_path, false), E_CVR_FILE_CREATION_FAILS,
                     "File creation failed", "LOGFILE");
    EXPECT_EQ(FileSize(log_path), size);
    Release();
    EXPECT_EQ(child->Join(), 0);
  }
  auto corvane = New<ICorvane>();
  ASSERT_EQ(OpenLog(corvane.get(), log_path, false), S_OK);
  EXPECT_EQ(Child({"try", "corvane", log_path}), 1) << "held here, the other process is refused in turn";
  ReadBack r = ReadNumbered(corvane.get());
  EXPECT_TRUE(r.whole(50)) << r.blocks << r.where << r.description;
  ASSERT_EQ(corvane->Close(), S_OK);
  EXPECT_EQ(Child({"try", "corvane", log_path}), 0);
}

TEST_F(SharedFileTest, ALogRecordedByAnotherProcessIsNeitherOpenedNorReplacedNorRemoved) {
  for (EnumFileVersion version : {FileVersionCVR_V0102, FileVersionCVR_Ve102}) {
    SCOPED_TRACE(version);
    const std::string log_path = File("live" + std::to_string(version) + ".cvr");
    auto child = StartHolder({"record", "logfile2", log_path, std::to_string(version), "1000", "200"});
    // The recorder shares reading only: a reader (which shares reading only
    // too) and a creator are refused, and the recording stays whole.
    auto log = New<ILogFile2>();
    for (auto mode : {FileAccessModeReadOnly, FileAccessModeWriteCreateAlways, FileAccessModeWriteCreateNew}) {
      EXPECT_CVR_ERROR(OpenLogFile2(log.get(), log_path, mode, version), E_CVR_FILE_CREATION_FAILS,
                       "File creation failed", "LOGFILE");
    }
    EXPECT_TRUE(FileExists(log_path)) << "a failed Open never removes a file it did not create";
    Release();
    ASSERT_EQ(child->Join(), 0);
    ASSERT_EQ(OpenLog(log.get(), log_path, false), S_OK);
    ReadBack r = ReadNumbered(log.get());
    EXPECT_TRUE(r.whole(200)) << r.blocks << r.where << r.description;
    EXPECT_EQ(Child({"try", "logfile2", log_path}), 0) << "a reader here does not stop one there";
    ASSERT_EQ(log->Close(), S_OK);
  }

  // Recording here: the reader in the other process is refused until Close.
  const std::string log_path = File("here.cvr");
  auto recorder = New<ILogFile2>();
  ASSERT_EQ(OpenLog(recorder.get(), log_path, true), S_OK);
  for (uint32_t i = 0; i < 30; ++i) ASSERT_EQ(WriteNumbered(recorder.get(), i), S_OK);
  EXPECT_EQ(Child({"try", "logfile2", log_path}), 1);
  ASSERT_EQ(recorder->Close(), S_OK);
  EXPECT_EQ(Child({"try", "logfile2", log_path}), 0);
}

TEST_F(SharedFileTest, CreateAlwaysIsRefusedWhileAnotherProcessHoldsTheIndexOrTheBookmarks) {
  const std::string log_path = File("companions.cvr");
  WriteLog(log_path, 300);
  {
    auto log = New<ILogFile2>();
    ASSERT_EQ(OpenLog(log.get(), log_path, false), S_OK);
    ASSERT_EQ(log->CreateIndex(10), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return FileSize(Companion(log_path, "idx")) == IndexSize(300, 10); }));
    ASSERT_EQ(log->Close(), S_OK);  // joins the finished pass
  }
  const Bytes log_bytes = ReadFileBytes(log_path);
  const Bytes idx_bytes = ReadFileBytes(Companion(log_path, "idx"));
  WriteFileBytes(Companion(log_path, "bmk"), Bytes(132, 0));

  const struct {
    std::vector<std::string> child;
    const char* text;
  } cases[] = {
      {{"hold-index", log_path}, "Cannot access the IDX file because it is being used by another process."},
      {{"hold-file", Companion(log_path, "bmk")},
       "Cannot access the BMK file because it is being used by another process."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.child[0]);
    auto child = StartHolder(c.child);
    auto log = New<ILogFile2>();
    EXPECT_CVR_ERROR(OpenLog(log.get(), log_path, true),
                     E_CVR_FILE_ALREADY_OPEN, c.text, "LOGFILE");
    EXPECT_EQ(ReadFileBytes(log_path), log_bytes) << "the log is not replaced";
    if (c.child[0] == "hold-index") {
      EXPECT_EQ(ReadFileBytes(Companion(log_path, "idx")), idx_bytes);
    }
    Release();
    EXPECT_EQ(child->Join(), 0);
  }
  // Nobody holds anything now: the log is replaced, its companions go.
  auto log = New<ILogFile2>();
  ASSERT_EQ(OpenLog(log.get(), log_path, true), S_OK);
  EXPECT_FALSE(FileExists(Companion(log_path, "idx")));
  EXPECT_FALSE(FileExists(Companion(log_path, "bmk")));
  ASSERT_EQ(log->Close(), S_OK);
}

// ---- A recorder killed in the middle of writing ----

#ifndef _WIN32

TEST(KilledRecorderTest, EveryBlockThatReachedTheSystemReadsBackAndTheCutBlockIsDamage) {
  const struct {
    const char* name;
    EnumFileVersion version;
    uint32_t buffer;    // configured disk buffer size
    uint32_t capacity;  // what the stream allocates for it
  } cases[] = {
      {"plain, unbuffered", FileVersionCVR_V0102, 0, 0},
      {"plain, 700-byte buffer", FileVersionCVR_V0102, 700, 700},
      {"enciphered, smallest buffer", FileVersionCVR_Ve102, 0, 128},
      {"enciphered, 1000-byte buffer", FileVersionCVR_Ve102, 1000, 1024},
  };
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  TempDir dir;
  int kills = 0, header_cuts = 0, data_cuts = 0, clean_cuts = 0;
  for (const auto& c : cases) {
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE(std::string(c.name) + ", round " + std::to_string(round));
      const std::string log_path = dir.File(std::string("killed") + std::to_string(kills) + ".cvr");
      const std::string counts = log_path + ".counts";
      const int code = Child({"record-killed", log_path, std::to_string(c.version), std::to_string(c.buffer), counts,
                              std::to_string(std::uniform_int_distribution<uint32_t>(20, 3000)(random)),
                              std::to_string(std::uniform_int_distribution<int>(0, 2000)(random))});
      ASSERT_TRUE(code == -1 || code == 128 + SIGKILL) << "exit code " << code;
      ++kills;
      const Bytes reported = ReadFileBytes(counts);
      ASSERT_GE(reported.size(), 4u);
      uint32_t completed = 0;
      std::memcpy(&completed, reported.data() + reported.size() / 4 * 4 - 4, 4);

      // Where block i ends in the file, and how many blocks the file holds whole.
      const int64_t size = FileSize(log_path);
      ASSERT_GE(size, 128);
      std::vector<int64_t> ends{128};
      for (uint32_t i = 0; ends.back() + static_cast<int64_t>(NumberedSize(i)) <= size; ++i) {
        ends.push_back(ends.back() + static_cast<int64_t>(NumberedSize(i)));
      }
      const uint32_t whole = static_cast<uint32_t>(ends.size() - 1);
      // The file holds what WriteBlock handed to the system: at most the
      // block in progress more than was reported, at most a buffer less.
      EXPECT_LE(whole, completed + 1);
      EXPECT_GE(whole + c.capacity / 20 + 1, completed) << "whole " << whole;

      auto log = New<ILogFile2>();
      ASSERT_EQ(OpenLog(log.get(), log_path, false), S_OK);
      ReadBack r = ReadNumbered(log.get());
      EXPECT_FALSE(r.mismatch) << r.where;
      EXPECT_EQ(r.blocks, whole);
      const int64_t rest = size - ends.back();
      if (rest == 0) {
        ++clean_cuts;
        EXPECT_TRUE(r.clean_end) << r.description;
      } else if (rest < 16) {
        ++header_cuts;
        EXPECT_EQ(r.description, Description("Block header read failed", "LOGFILE", E_CVR_BLOCK_HEADER_READ_FAILED));
        // The damage stays where it is: asked again, the reader says the same.
        Record rec;
        bool eof = false;
        EXPECT_CVR_ERROR(ReadRecord(log.get(), &rec, &eof), E_CVR_BLOCK_HEADER_READ_FAILED,
                         "Block header read failed", "LOGFILE");
      } else {
        ++data_cuts;
        EXPECT_EQ(r.description, Description("Corrupt Block header, data length exceeds end of file",
                                             "LOGFILE", E_CVR_BLOCK_HEADER_DATA_CORRUPT));
      }
      ASSERT_EQ(log->Close(), S_OK);
    }
  }
  std::printf("%d recorders killed: %d cut in a block header, %d in block data, %d between blocks\n",
              kills, header_cuts, data_cuts, clean_cuts);
}

#else

TEST(KilledRecorderTest, NeedsPosixSignals) {
  GTEST_SKIP() << "killing a recorder with SIGKILL needs POSIX processes";
}

#endif

}  // namespace
}  // namespace corvane::test
