// Second processes: files in use by another process, through the
// interfaces (share modes hold across processes), and a recorder killed
// with SIGKILL in the middle of writing (Linux).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>
#include <string>
#include <vector>

#include "hardening/hardening_util.h"
#include "support/com_test_util.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace corvane::test {
namespace {

// ---- Files in use by another process ----

class SharedFileTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name) { return dir_.File(name); }
  // Signal files of a background child: it creates ready when it holds
  // its file, and lets go when release exists.
  std::string ready() { return dir_.File("ready"); }
  std::string release() { return dir_.File("release"); }
  void Release() { WriteFileBytes(release(), {'1'}); }

  TempDir dir_;
};

TEST_F(SharedFileTest, CorvaneHoldsItsLogForItselfAgainstOtherProcesses) {
  const std::string log_path = File("held.cvr");
  {
    BackgroundChild child({"hold-corvane", log_path, "50", ready(), release()});
    ASSERT_TRUE(child.AwaitFile(ready())) << "child exit code " << child.Join();
    const int64_t size = FileSize(log_path);

    // Every kind of object is refused while the recorder holds the log, and
    // none of them touches it.
    auto corvane = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
    EXPECT_CVR_ERROR(OpenCorvane(corvane.get(), log_path, CVRFileAccessModeRead, CVRFileCreateModeExisting),
                     E_CVR_FILE_CREATION_FAILS, "File creation failed", "CORVANE");
    EXPECT_CVR_ERROR(OpenCorvane(corvane.get(), log_path, CVRFileAccessModeWrite, CVRFileCreateModeAlways),
                     E_CVR_FILE_CREATION_FAILS, "File creation failed", "CORVANE");
    auto log2 = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    EXPECT_CVR_ERROR(OpenLogFile2(log2.get(), log_path, FileAccessModeReadOnly), E_CVR_FILE_CREATION_FAILS,
                     "File creation failed", "LOGFILE");
    auto log1 = Create<ILogFile>(CLSID_LogFile, IID_ILogFile);
    EXPECT_CVR_ERROR(OpenLogFile(log1.get(), log_path, FileAccessModeReadOnly), E_CVR_FILE_CREATION_FAILS,
                     "File creation failed", "LOGFILE");
    EXPECT_EQ(FileSize(log_path), size);

    Release();
    EXPECT_EQ(child.Join(), 0);
  }
  auto corvane = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
  ASSERT_EQ(OpenCorvane(corvane.get(), log_path, CVRFileAccessModeRead, CVRFileCreateModeExisting), S_OK);
  // Held here, the other process is refused in its turn.
  EXPECT_EQ(RunChild({"try-corvane", log_path}), 1);
  ReadBack r = ReadNumbered(corvane.get());
  EXPECT_TRUE(r.clean_end && !r.mismatch) << r.where << r.description;
  EXPECT_EQ(r.blocks, 50u);
  ASSERT_EQ(corvane->Close(), S_OK);
  EXPECT_EQ(RunChild({"try-corvane", log_path}), 0);
}

TEST_F(SharedFileTest, ALogRecordedByAnotherProcessIsNeitherOpenedNorReplacedNorRemoved) {
  for (EnumFileVersion version : {FileVersionCVR_V0102, FileVersionCVR_Ve102}) {
    SCOPED_TRACE(version);
    const std::string log_path = File("live" + std::to_string(version) + ".cvr");
    std::remove(release().c_str());
    std::remove(ready().c_str());
    BackgroundChild child({"record", log_path, std::to_string(version), "1000", "200", ready(), release()});
    ASSERT_TRUE(child.AwaitFile(ready())) << "child exit code " << child.Join();

    // The recorder shares reading only: a reader (which shares reading
    // only too) and a creator are refused, and the recording stays whole.
    auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    EXPECT_CVR_ERROR(OpenLogFile2(log.get(), log_path, FileAccessModeReadOnly), E_CVR_FILE_CREATION_FAILS,
                     "File creation failed", "LOGFILE");
    EXPECT_CVR_ERROR(OpenLogFile2(log.get(), log_path, FileAccessModeWriteCreateAlways, version),
                     E_CVR_FILE_CREATION_FAILS, "File creation failed", "LOGFILE");
    EXPECT_CVR_ERROR(OpenLogFile2(log.get(), log_path, FileAccessModeWriteCreateNew, version),
                     E_CVR_FILE_CREATION_FAILS, "File creation failed", "LOGFILE");
    EXPECT_TRUE(FileExists(log_path)) << "a failed Open never removes a file it did not create";

    Release();
    ASSERT_EQ(child.Join(), 0);
    ASSERT_EQ(OpenLogFile2(log.get(), log_path, FileAccessModeReadOnly), S_OK);
    ReadBack r = ReadNumbered(log.get());
    EXPECT_TRUE(r.clean_end && !r.mismatch) << r.where << r.description;
    EXPECT_EQ(r.blocks, 200u);
    // A reader here does not stop another reader there.
    EXPECT_EQ(RunChild({"try-logfile2", log_path}), 0);
    ASSERT_EQ(log->Close(), S_OK);
  }

  // Recording here: the reader in the other process is refused until Close.
  const std::string log_path = File("here.cvr");
  auto recorder = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
  ASSERT_EQ(OpenLogFile2(recorder.get(), log_path, FileAccessModeWriteCreateAlways), S_OK);
  for (uint32_t i = 0; i < 30; ++i) ASSERT_EQ(WriteNumbered(recorder.get(), i), S_OK);
  EXPECT_EQ(RunChild({"try-logfile2", log_path}), 1);
  ASSERT_EQ(recorder->Close(), S_OK);
  EXPECT_EQ(RunChild({"try-logfile2", log_path}), 0);
}

// Writes a log of `blocks` numbered blocks with LogFile2.
void WriteLog(const std::string& path, uint32_t blocks) {
  auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
  ASSERT_EQ(OpenLogFile2(log.get(), path, FileAccessModeWriteCreateAlways), S_OK);
  for (uint32_t i = 0; i < blocks; ++i) ASSERT_EQ(WriteNumbered(log.get(), i), S_OK);
  ASSERT_EQ(log->Close(), S_OK);
}

TEST_F(SharedFileTest, CreateAlwaysIsRefusedWhileAnotherProcessHoldsTheIndexOrTheBookmarks) {
  const std::string log_path = File("companions.cvr");
  WriteLog(log_path, 300);
  {
    // A complete index beside the log.
    auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    ASSERT_EQ(OpenLogFile2(log.get(), log_path, FileAccessModeReadOnly), S_OK);
    ASSERT_EQ(log->CreateIndex(10), S_OK);
    ASSERT_TRUE(WaitUntil([&] { return FileSize(Companion(log_path, "idx")) == 144 + 24 * 29; }));
    ASSERT_EQ(log->Close(), S_OK);  // joins the finished pass
  }
  const Bytes log_bytes = ReadFileBytes(log_path);
  const Bytes idx_bytes = ReadFileBytes(Companion(log_path, "idx"));

  struct Case {
    const char* held;
    std::vector<std::string> child;
    const char* text;
  };
  const Case cases[] = {
      {"index", {"hold-index", log_path, ready(), release()},
       "Cannot access the IDX file because it is being used by another process."},
      {"bookmarks", {"hold-file", Companion(log_path, "bmk"), ready(), release()},
       "Cannot access the BMK file because it is being used by another process."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.held);
    if (std::string(c.held) == "bookmarks") WriteFileBytes(Companion(log_path, "bmk"), Bytes(132, 0));
    std::remove(release().c_str());
    std::remove(ready().c_str());
    BackgroundChild child(c.child);
    ASSERT_TRUE(child.AwaitFile(ready())) << "child exit code " << child.Join();

    auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    EXPECT_CVR_ERROR(OpenLogFile2(log.get(), log_path, FileAccessModeWriteCreateAlways),
                     E_CVR_FILE_ALREADY_OPEN, c.text, "LOGFILE");
    EXPECT_EQ(ReadFileBytes(log_path), log_bytes) << "the log is not replaced";
    if (std::string(c.held) == "index") {
      EXPECT_EQ(ReadFileBytes(Companion(log_path, "idx")), idx_bytes);
    }
    Release();
    EXPECT_EQ(child.Join(), 0);
  }
  // Nobody holds anything now: the log is replaced, its companions go.
  auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
  ASSERT_EQ(OpenLogFile2(log.get(), log_path, FileAccessModeWriteCreateAlways), S_OK);
  EXPECT_FALSE(FileExists(Companion(log_path, "idx")));
  EXPECT_FALSE(FileExists(Companion(log_path, "bmk")));
  ASSERT_EQ(log->Close(), S_OK);
}

// ---- A recorder killed in the middle of writing ----

#ifndef _WIN32

// The recorder as a process whose standard output is a pipe of counts.
class KilledRecorder {
 public:
  KilledRecorder(const std::string& log_path, int format, uint32_t buffer) {
    if (pipe(fds_) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds_[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds_[0]);
    const std::string exe = ChildPath();
    std::vector<std::string> args = {exe, "record-forever", log_path, std::to_string(format),
                                     std::to_string(buffer)};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds_[1]);
  }
  ~KilledRecorder() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(fds_[0]);
  }
  bool started() const { return pid_ > 0; }

  // Reads counts until the recorder has completed `blocks` (false when it
  // ended or went silent first; every wait is bounded).
  bool AwaitCompleted(uint32_t blocks) {
    for (int i = 0; i < 100000 && completed_ < blocks; ++i) {
      if (!ReadSome(1000)) return false;
    }
    return completed_ >= blocks;
  }
  // SIGKILL, then the last count it reported.
  uint32_t Kill() {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    killed_by_signal_ = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    pid_ = -1;
    for (int i = 0; i < 100000 && ReadSome(1000);) ++i;  // drain up to the end of the pipe
    return completed_;
  }
  bool killed_by_signal() const { return killed_by_signal_; }

 private:
  // One read of the pipe; false at its end or when nothing came for
  // `timeout_ms`.
  bool ReadSome(int timeout_ms) {
    pollfd p{fds_[0], POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    uint8_t bytes[4096];
    const ssize_t n = read(fds_[0], bytes, sizeof bytes);
    if (n <= 0) return false;
    pending_.insert(pending_.end(), bytes, bytes + n);
    size_t whole = pending_.size() / 4 * 4;
    if (whole > 0) {
      std::memcpy(&completed_, pending_.data() + whole - 4, 4);
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(whole));
    }
    return true;
  }

  int fds_[2] = {-1, -1};
  pid_t pid_ = -1;
  uint32_t completed_ = 0;
  Bytes pending_;
  bool killed_by_signal_ = false;
};

struct CrashCase {
  const char* name;
  EnumFileVersion version;
  uint32_t buffer;    // configured disk buffer size
  uint32_t capacity;  // what the stream allocates for it
};

TEST(KilledRecorderTest, EveryBlockThatReachedTheSystemReadsBackAndTheCutBlockIsDamage) {
  const CrashCase cases[] = {
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
  for (const CrashCase& c : cases) {
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE(std::string(c.name) + ", round " + std::to_string(round));
      const std::string log_path = dir.File(std::string("killed") + std::to_string(kills) + ".cvr");
      uint32_t completed = 0;
      {
        KilledRecorder recorder(log_path, c.version, c.buffer);
        ASSERT_TRUE(recorder.started());
        ASSERT_TRUE(recorder.AwaitCompleted(std::uniform_int_distribution<uint32_t>(20, 3000)(random)));
        // Anywhere in the next blocks, not right after a report.
        std::this_thread::sleep_for(std::chrono::microseconds(
            std::uniform_int_distribution<int>(0, 2000)(random)));
        completed = recorder.Kill();
        ASSERT_TRUE(recorder.killed_by_signal());
      }
      ++kills;

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

      auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
      ASSERT_EQ(OpenLogFile2(log.get(), log_path, FileAccessModeReadOnly), S_OK);
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
        LogBlockHeader h{};
        ULONG returned = 0;
        LONG eof = 0;
        EXPECT_CVR_ERROR(log->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &eof),
                         E_CVR_BLOCK_HEADER_READ_FAILED, "Block header read failed", "LOGFILE");
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
