// Second processes: logs and companion files held by another process (share
// modes hold across processes), and a recorder killed with SIGKILL in the
// middle of writing (Linux).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>

#include "logfile2/log_file2_test_util.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace corvane::test {
namespace {

int Child(const std::vector<std::string>& args) { return RunProgram("hardening_child", args); }

class SharedFileTest : public ::testing::Test {
 protected:
  // A child that holds `path` as `what` says until Release.
  std::unique_ptr<BackgroundProgram> Hold(const std::string& what, const std::string& path) {
    for (const std::string& file : {release_, ready_}) std::remove(file.c_str());
    auto child = std::make_unique<BackgroundProgram>("hardening_child", std::vector<std::string>{what, path, ready_, release_});
    EXPECT_TRUE(child->AwaitFile(ready_)) << "child exit code " << child->Join();
    return child;
  }
  void Release() { WriteFileBytes(release_, {'1'}); }

  TempDir dir_;
  const std::string ready_ = dir_.File("ready"), release_ = dir_.File("release");
};

// While another process records a log, no object here opens it, for reading
// or writing, and none changes it. Held here for reading, Corvane refuses the
// other process in turn; LogFile2 lets another reader in, but no reader while
// it records.
TEST_F(SharedFileTest, ALogRecordedByAnotherProcessIsRefusedAndStaysWhole) {
  for (const std::string holder : {"corvane", "logfile2"}) {
    SCOPED_TRACE(holder);
    const std::string path = dir_.File(holder + ".cvr");
    auto child = Hold("record-" + holder, path);
    const int64_t size = FileSize(path);
    for (Kind kind : {Kind::kLogFile2, Kind::kLogFile, Kind::kCorvane})
      for (bool write : {false, true})
        WithNew(kind, [&](auto log) {
          EXPECT_CVR_ERROR(OpenLog(log.get(), path, write), E_CVR_FILE_CREATION_FAILS, "File creation failed",
                           kind == Kind::kCorvane ? "CORVANE" : "LOGFILE");
        });
    EXPECT_EQ(FileSize(path), size);
    Release();
    ASSERT_EQ(child->Join(), 0);
    WithNew(holder == "corvane" ? Kind::kCorvane : Kind::kLogFile2, [&](auto log) {
      ASSERT_EQ(OpenLog(log.get(), path, false), S_OK);
      EXPECT_EQ(Child({"try-" + holder, path}), holder == "corvane" ? 1 : 0);
      EXPECT_TRUE(ReadNumbered(log.get()).whole(50));
      ASSERT_EQ(log->Close(), S_OK);
    });
    EXPECT_EQ(Child({"try-" + holder, path}), 0);
  }
  const std::string path = dir_.File("here.cvr");
  auto recorder = New<ILogFile2>();
  ASSERT_EQ(OpenLog(recorder.get(), path, true, FileVersionCVR_Ve102), S_OK);
  for (uint32_t i = 0; i < 30; ++i) ASSERT_EQ(WriteNumbered(recorder.get(), i), S_OK);
  EXPECT_EQ(Child({"try-logfile2", path}), 1);
  ASSERT_EQ(recorder->Close(), S_OK);
  EXPECT_EQ(Child({"try-logfile2", path}), 0);
}

// CreateAlways replaces neither the log nor a companion another process
// holds; once nobody holds anything, the log is replaced and its companions go.
TEST_F(SharedFileTest, CreateAlwaysIsRefusedWhileAnotherProcessHoldsTheIndexOrTheBookmarks) {
  const std::string path = dir_.File("companions.cvr"), idx = Companion(path, "idx"), bmk = Companion(path, "bmk");
  ASSERT_TRUE(WriteLog(path, 300));
  auto log = New<ILogFile2>();
  ASSERT_EQ(OpenLog(log.get(), path, false), S_OK);
  ASSERT_EQ(log->CreateIndex(10), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return FileSize(idx) == IndexSize(300, 10); }));
  ASSERT_EQ(log->Close(), S_OK);
  const Bytes log_bytes = ReadFileBytes(path), idx_bytes = ReadFileBytes(idx);
  WriteFileBytes(bmk, Bytes(132, 0));
  for (const std::string what : {"IDX", "BMK"}) {
    SCOPED_TRACE(what);
    auto child = what == "IDX" ? Hold("read-logfile2", path) : Hold("hold-file", bmk);
    EXPECT_CVR_ERROR(OpenLog(log.get(), path, true), E_CVR_FILE_ALREADY_OPEN,
                     "Cannot access the " + what + " file because it is being used by another process.", "LOGFILE");
    EXPECT_EQ(ReadFileBytes(path), log_bytes);
    EXPECT_TRUE(what == "BMK" || ReadFileBytes(idx) == idx_bytes);
    Release();
    EXPECT_EQ(child->Join(), 0);
  }
  ASSERT_EQ(OpenLog(log.get(), path, true), S_OK);
  EXPECT_FALSE(FileExists(idx));
  EXPECT_FALSE(FileExists(bmk));
  ASSERT_EQ(log->Close(), S_OK);
}

#ifndef _WIN32

// The file holds every block WriteBlock handed to the system; a block cut
// in its header or data is reported as damage, never read as a block.
TEST(KilledRecorderTest, EveryBlockThatReachedTheSystemReadsBackAndTheCutBlockIsDamage) {
  // The configured disk buffer size, and what the stream allocates for it.
  const struct { EnumFileVersion version; uint32_t buffer, capacity; } cases[] = {
      {FileVersionCVR_V0102, 0, 0}, {FileVersionCVR_V0102, 700, 700}, {FileVersionCVR_Ve102, 0, 128}, {FileVersionCVR_Ve102, 1000, 1024}};
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  TempDir dir;
  int kills = 0, cuts[3] = {};  // between blocks, in a header, in data
  for (const auto& c : cases) {
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE("version " + std::to_string(c.version) + ", buffer " + std::to_string(c.buffer));
      const std::string path = dir.File("killed" + std::to_string(kills++) + ".cvr"), counts = path + ".counts";
      const int code = Child({"record-killed", path, std::to_string(c.version), std::to_string(c.buffer), counts,
                              std::to_string(std::uniform_int_distribution<uint32_t>(20, 3000)(random)),
                              std::to_string(std::uniform_int_distribution<int>(0, 2000)(random))});
      ASSERT_TRUE(code == -1 || code == 128 + SIGKILL) << "exit code " << code;
      const Bytes reported = ReadFileBytes(counts);
      ASSERT_GE(reported.size(), 4u);
      uint32_t completed = 0;
      std::memcpy(&completed, reported.data() + reported.size() / 4 * 4 - 4, 4);

      const int64_t size = FileSize(path);
      int64_t end = 128;
      uint32_t whole = 0;
      for (; end + static_cast<int64_t>(NumberedSize(whole)) <= size; ++whole) end += NumberedSize(whole);
      // At most the block in progress more than was reported, at most a buffer less.
      EXPECT_LE(whole, completed + 1);
      EXPECT_GE(whole + c.capacity / 20 + 1, completed) << "whole " << whole;

      auto log = New<ILogFile2>();
      ASSERT_EQ(OpenLog(log.get(), path, false), S_OK);
      const ReadBack r = ReadNumbered(log.get());
      EXPECT_TRUE(!r.mismatch && r.blocks == whole) << r.where << ", " << r.blocks << " blocks read";
      const int cut = size == end ? 0 : size - end < 16 ? 1 : 2;
      ++cuts[cut];
      const HRESULT codes[] = {S_OK, E_CVR_BLOCK_HEADER_READ_FAILED, E_CVR_BLOCK_HEADER_DATA_CORRUPT};
      const char* texts[] = {"", "Block header read failed", "Corrupt Block header, data length exceeds end of file"};
      EXPECT_EQ(r.clean_end, cut == 0) << r.description;
      EXPECT_TRUE(cut == 0 || r.description == Description(texts[cut], "LOGFILE", codes[cut])) << r.description;
      EXPECT_TRUE(cut != 1 || ReadNumbered(log.get()).description == r.description) << "a cut header stays where it is";
      ASSERT_EQ(log->Close(), S_OK);
    }
  }
  std::printf("%d recorders killed: %d between blocks, %d in a block header, %d in block data\n", kills, cuts[0],
              cuts[1], cuts[2]);
}

#endif

}  // namespace
}  // namespace corvane::test
