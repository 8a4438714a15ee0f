// Second processes: logs and companion files held by another process (share
// modes hold across processes), and a recorder killed with SIGKILL in the
// middle of writing (Linux).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hardening/hardening_util.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace corvane::test {
namespace {

int Child(const std::vector<std::string>& args) { return RunProgram("hardening_child", args); }

class SharedFileTest : public ::testing::Test {
 protected:
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

// While another process records a log, no object here opens it, for
// reading or writing, and none changes it. Held here for reading, Corvane
// refuses the other process in turn; LogFile2 lets another reader in.
TEST_F(SharedFileTest, ALogRecordedByAnotherProcessIsRefusedAndStaysWhole) {
  for (const char* holder : {"corvane", "logfile2"}) {
    SCOPED_TRACE(holder);
    const bool corvane = std::string(holder) == "corvane";
    const std::string log_path = dir_.File(std::string(holder) + ".cvr");
    auto child = StartHolder({"record", holder, log_path, std::to_string(FileVersionCVR_V0102), "1000", "50"});
    const int64_t size = FileSize(log_path);
    for (Kind kind : {Kind::kLogFile2, Kind::kLogFile, Kind::kCorvane}) {
      for (bool write : {false, true}) {
        SCOPED_TRACE(std::to_string(static_cast<int>(kind)) + (write ? " write" : " read"));
        WithNew(kind, [&](auto log) {
          EXPECT_CVR_ERROR(OpenLog(log.get(), log_path, write), E_CVR_FILE_CREATION_FAILS, "File creation failed",
                           kind == Kind::kCorvane ? "CORVANE" : "LOGFILE");
        });
      }
    }
    EXPECT_EQ(FileSize(log_path), size);
    Release();
    ASSERT_EQ(child->Join(), 0);
    WithNew(corvane ? Kind::kCorvane : Kind::kLogFile2, [&](auto log) {
      ASSERT_EQ(OpenLog(log.get(), log_path, false), S_OK);
      EXPECT_EQ(Child({"try", holder, log_path}), corvane ? 1 : 0);
      ReadBack r = ReadNumbered(log.get());
      EXPECT_TRUE(r.whole(50)) << r.blocks << r.where << r.description;
      ASSERT_EQ(log->Close(), S_OK);
    });
    EXPECT_EQ(Child({"try", holder, log_path}), 0);
  }

  // Recording here: the reader in the other process is refused until Close.
  const std::string log_path = dir_.File("here.cvr");
  auto recorder = New<ILogFile2>();
  ASSERT_EQ(OpenLog(recorder.get(), log_path, true, FileVersionCVR_Ve102), S_OK);
  for (uint32_t i = 0; i < 30; ++i) ASSERT_EQ(WriteNumbered(recorder.get(), i), S_OK);
  EXPECT_EQ(Child({"try", "logfile2", log_path}), 1);
  ASSERT_EQ(recorder->Close(), S_OK);
  EXPECT_EQ(Child({"try", "logfile2", log_path}), 0);
}

TEST_F(SharedFileTest, CreateAlwaysIsRefusedWhileAnotherProcessHoldsTheIndexOrTheBookmarks) {
  const std::string log_path = dir_.File("companions.cvr");
  WriteLog(log_path, 300);
  {
    auto log = New<ILogFile2>();
    ASSERT_EQ(OpenLog(log.get(), log_path, false), S_OK);
    ASSERT_EQ(log->CreateIndex(10), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return FileSize(Companion(log_path, "idx")) == IndexSize(300, 10); }));
    ASSERT_EQ(log->Close(), S_OK);
  }
  const Bytes log_bytes = ReadFileBytes(log_path), idx_bytes = ReadFileBytes(Companion(log_path, "idx"));
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
    EXPECT_CVR_ERROR(OpenLog(New<ILogFile2>().get(), log_path, true), E_CVR_FILE_ALREADY_OPEN, c.text, "LOGFILE");
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

#ifndef _WIN32

// The file holds every block WriteBlock handed to the system; a block cut
// in its header or data is reported as damage, never read as a block.
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
  int kills = 0, cuts[3] = {};  // between blocks, in a header, in data
  for (const auto& c : cases) {
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE(std::string(c.name) + ", round " + std::to_string(round));
      const std::string log_path = dir.File("killed" + std::to_string(kills++) + ".cvr");
      const std::string counts = log_path + ".counts";
      const int code = Child({"record-killed", log_path, std::to_string(c.version), std::to_string(c.buffer), counts,
                              std::to_string(std::uniform_int_distribution<uint32_t>(20, 3000)(random)),
                              std::to_string(std::uniform_int_distribution<int>(0, 2000)(random))});
      ASSERT_TRUE(code == -1 || code == 128 + SIGKILL) << "exit code " << code;
      const Bytes reported = ReadFileBytes(counts);
      ASSERT_GE(reported.size(), 4u);
      uint32_t completed = 0;
      std::memcpy(&completed, reported.data() + reported.size() / 4 * 4 - 4, 4);

      const int64_t size = FileSize(log_path);
      ASSERT_GE(size, 128);
      int64_t end = 128;
      uint32_t whole = 0;
      for (; end + static_cast<int64_t>(NumberedSize(whole)) <= size; ++whole) end += NumberedSize(whole);
      // At most the block in progress more than was reported, at most a buffer less.
      EXPECT_LE(whole, completed + 1);
      EXPECT_GE(whole + c.capacity / 20 + 1, completed) << "whole " << whole;

      auto log = New<ILogFile2>();
      ASSERT_EQ(OpenLog(log.get(), log_path, false), S_OK);
      ReadBack r = ReadNumbered(log.get());
      EXPECT_FALSE(r.mismatch) << r.where;
      EXPECT_EQ(r.blocks, whole);
      const int64_t rest = size - end;
      ++cuts[rest == 0 ? 0 : rest < 16 ? 1 : 2];
      if (rest == 0) {
        EXPECT_TRUE(r.clean_end) << r.description;
      } else if (rest < 16) {
        EXPECT_EQ(r.description, Description("Block header read failed", "LOGFILE", E_CVR_BLOCK_HEADER_READ_FAILED));
        Record rec;  // the damage stays where it is
        bool eof = false;
        EXPECT_CVR_ERROR(ReadRecord(log.get(), &rec, &eof), E_CVR_BLOCK_HEADER_READ_FAILED,
                         "Block header read failed", "LOGFILE");
      } else {
        EXPECT_EQ(r.description, Description("Corrupt Block header, data length exceeds end of file",
                                             "LOGFILE", E_CVR_BLOCK_HEADER_DATA_CORRUPT));
      }
      ASSERT_EQ(log->Close(), S_OK);
    }
  }
  std::printf("%d recorders killed: %d between blocks, %d in a block header, %d in block data\n", kills, cuts[0],
              cuts[1], cuts[2]);
}

#endif

}  // namespace
}  // namespace corvane::test
