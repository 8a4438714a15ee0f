// Second processes: logs and companion files held by another process (share
// modes hold across processes), and processes killed with SIGKILL at crash
// points while they record, index or save bookmarks (Linux).
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "logfile2/log_file2_test_util.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>

#include <fstream>
#include <optional>
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
  ASSERT_TRUE(log->CreateIndex(10) == S_OK && WaitUntil([&] { return FileSize(idx) == IndexSize(300, 10); }));
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
  EXPECT_TRUE(!FileExists(idx) && !FileExists(bmk));
  ASSERT_EQ(log->Close(), S_OK);
}

#ifdef CVRTOOL_PATH  // Linux: the crash points

// Runs cvrtool with `args` (quoted by the caller): its exit code and output.
std::pair<int, std::string> Tool(const std::string& args, const std::string& out) {
  const int status = std::system(("'" CVRTOOL_PATH "' " + args + " >'" + out + "' 2>&1").c_str());
  const Bytes text = ReadFileBytes(out);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(text.begin(), text.end())};
}

// The content of a file; nothing when it is missing.
std::optional<Bytes> Content(const std::string& path) { return FileExists(path) ? std::optional(ReadFileBytes(path)) : std::nullopt; }
std::string File(const std::string& log, size_t k) { return k ? Companion(log, k == 1 ? "idx" : "bmk") : log; }
void CopyLog(const std::string& from, const std::string& to) {
  for (size_t k = 0; k < 3; ++k)
    if (const auto bytes = Content(File(from, k))) WriteFileBytes(File(to, k), *bytes);
}

// A process killed at a crash point (the Nth write, fsync, rename, unlink or
// ftruncate of the library, or a write cut after half its bytes; N stepped
// over each call of a counted run, from the last one down) while it records a
// log and closes it, builds an index over a log that has an older one, or
// saves edited bookmarks. The log holds every block that reached the system;
// a cut block is reported as damage, by the library and by cvrtool verify,
// never read as a block. The log reopens, indexes and jumps, and each
// companion holds its old or its new content (an index may be missing).
TEST(CrashPointTest, AKilledProcessLeavesWholeBlocksAReportedCutAndNoTornCompanion) {
  const char* texts[] = {"ok: ", "Block header read failed", "Corrupt Block header, data length exceeds end of file"};
  TempDir dir;
  const std::string base = dir.File("record.cvr"), counts = dir.File("counts");  // base: the log of the later scenarios
  int runs = 0, kills = 0, cuts[3] = {};  // between blocks, in a block header, in block data
  for (const std::string scenario : {"record", "record-e", "index", "bookmarks"}) {
    const std::string ref = dir.File(scenario + ".cvr");
    const bool record = scenario[0] == 'r';
    ASSERT_TRUE(scenario != "index" || Tool("index '" + base + "' --resolution 100", base + ".out").first == 0);
    if (!record) CopyLog(base, ref);
    ASSERT_EQ(Child({"crash", scenario, ref, "0", "0", counts}), 0) << scenario;
    // The scenario rewrites the index or the bookmarks.
    EXPECT_TRUE(record || Content(File(ref, scenario == "index" ? 1 : 2)) != Content(File(base, scenario == "index" ? 1 : 2)));
    std::ifstream in(counts);
    for (uint64_t kind = 0, total = 0; kind < 6 && in >> total; ++kind) {
      for (uint64_t n = total; n >= 1 && n <= total; n -= total / 10 + 1) {
        SCOPED_TRACE(scenario + ", kind " + std::to_string(kind) + ", call " + std::to_string(n));
        const std::string path = dir.File("run" + std::to_string(runs++) + ".cvr");
        if (!record) CopyLog(base, path);
        const int code = Child({"crash", scenario, path, std::to_string(kind), std::to_string(n), path + ".counts"});
        // A run may make fewer calls than the counted one (an index pass, the
        // settings saved once): then it ends.
        ASSERT_TRUE(code == -1 || code == 128 + SIGKILL || code == 0) << "exit code " << code;
        kills += code != 0;
        for (size_t k = 1; k < 3; ++k)  // the index and the bookmarks: old, new or (the index) none
          if (const auto now = Content(File(path, k)); now != (record ? std::nullopt : Content(File(base, k))) && now != Content(File(ref, k)) && (k == 2 || now))
            ADD_FAILURE() << File(path, k) << " is torn";
        // The blocks that fit in the file, and the cut after them.
        const int64_t size = FileSize(path);
        const auto [exit_code, out] = Tool("verify '" + path + "'", path + ".out");
        EXPECT_TRUE(exit_code == 1 || size >= 128) << out;  // no log yet: killed before its file header was down
        if (size < 128) continue;
        int64_t end = 128;
        uint32_t whole = 0;
        for (; end + static_cast<int64_t>(NumberedSize(whole)) <= size; ++whole) end += NumberedSize(whole);
        const int cut = size == end ? 0 : size - end < 16 ? 1 : 2;
        ++cuts[cut];

        auto log = New<ILogFile2>();
        ASSERT_EQ(OpenLog(log.get(), path, false), S_OK);
        std::vector<std::string> read_marks;
        const ReadBack r = ReadNumbered(log.get(), &read_marks);
        const HRESULT damage = cut == 1 ? E_CVR_BLOCK_HEADER_READ_FAILED : E_CVR_BLOCK_HEADER_DATA_CORRUPT;
        EXPECT_TRUE(!r.mismatch && r.blocks == whole && (cut ? r.description == Description(texts[cut], "LOGFILE", damage) : r.clean_end))
            << r.where << ", " << r.blocks << " blocks read of " << whole << ", then " << r.description;
        EXPECT_TRUE(cut != 1 || ReadNumbered(log.get()).description == r.description) << "a cut header stays where it is";
        LONGLONG bookmarks = -1, count = -1;
        EXPECT_TRUE(log->GetBookmarkCount(&bookmarks) == S_OK && read_marks.size() == static_cast<size_t>(bookmarks));
        const std::string says = cut ? "message " + std::to_string(whole) + ", record at offset " + std::to_string(end)
                                     : std::to_string(whole) + " messages, " + std::to_string(bookmarks) + " bookmarks";
        EXPECT_TRUE(exit_code == (cut ? 1 : 0) && out.find(says) != std::string::npos && out.find(texts[cut]) != std::string::npos) << out;
        // The rest of a recorded log arrives (a recorder writes the same bytes
        // each run): the viewer that met the cut jumps back to it through an
        // index, to the blocks around it and to the last. A block's message
        // number counts the bookmarks before it.
        if (record) WriteFileBytes(path, ReadFileBytes(ref));  // the bytes it holds, and the rest
        ASSERT_EQ(log->CreateIndex(10), S_OK);
        EXPECT_TRUE(WaitUntil([&] { return log->GetIndexedRecCount(&count) == S_OK && count == 300 + bookmarks; }, 20000)) << count;
        for (const LONGLONG i : {LONGLONG{whole} - 1, LONGLONG{whole}, LONGLONG{299}}) {
          LONGLONG message = i;
          for (LONGLONG k = 0, b = 0; k < bookmarks; ++k) message += log->GetBookmarkBlockNumber(k, &b) == S_OK && b <= message;
          EXPECT_TRUE(i < 0 || i >= 300 || (log->Jump(message) == S_OK && NextIsNumbered(log.get(), static_cast<uint32_t>(i)))) << i;
        }
        ASSERT_EQ(log->Close(), S_OK);
      }
    }
  }
  EXPECT_TRUE(kills > runs * 3 / 4 && cuts[0] && cuts[1] && cuts[2]) << kills << " of " << runs << " killed";
}

#endif

}  // namespace
}  // namespace corvane::test
