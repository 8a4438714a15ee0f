// The Corvane object and its "V 01.00" files, through ICorvane only, and
// one object called from several threads at once (run under the thread
// sanitizer by the linux-tsan preset).
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/com_test_util.h"
#include "support/log_bytes.h"
#include "support/temp_dir.h"

namespace corvane::test {
namespace {

const std::string kTagText = "KRV Binary Log File V 01.00";
const auto kRead = CVRFileAccessModeRead, kWrite = CVRFileAccessModeWrite;
const auto kNew = CVRFileCreateModeNew, kExisting = CVRFileCreateModeExisting, kAlways = CVRFileCreateModeAlways;

// A header of `text` and LF/CR up to the ^Z at byte `end` (59 in a new file).
Bytes LegacyHeader(const std::string& text = kTagText, size_t end = 59) { return TitledHeader(text, end); }
// A block, big-endian: identifier, connection, reserved byte, tick, the
// length (of `data` unless given), data.
Bytes Concat(std::initializer_list<Bytes> parts) { Bytes out; for (const Bytes& p : parts) PutBytes(out, p); return out; }
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Block(uint16_t id, uint8_t conn, const Bytes& data, uint32_t length = ~0u, uint32_t tick = 0) {
  Bytes b{static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), conn, 0};
  PutBE(b, uint64_t{tick} << 32 | (length == ~0u ? data.size() : length), 8);
  return PutBytes(b, data), b;
}
HRESULT Open(ICorvane* log, const std::string& path, int access, int create) {
  return log->Open(Bstr(path).get(), static_cast<EnumCVRFileAccessMode>(access), static_cast<EnumCVRFileCreateMode>(create));
}
struct Header {
  USHORT id = 0; BYTE conn = 0; ULONG tick = 0, length = 0; LONG end = -1;
  HRESULT Read(ICorvane* log) { return log->ReadBlockHeader(&id, &conn, &tick, &length, &end); }
};
ULONG Position(ICorvane* log) { ULONG pos = 0; EXPECT_EQ(log->GetFilePointerPos(&pos), S_OK); return pos; }

// (Reading such blocks back: the step-by-step test below and fuzz target corvane.)
TEST(CorvaneTest, AWrittenFileHoldsTheHeaderAndBigEndianBlocks) {
  TempDir dir; const std::string path = dir.File("blocks.log");
  WriteFileBytes(path, Bytes(500, 7));  // replaced
  auto log = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
  ASSERT_EQ(Open(log.get(), path, kWrite, kAlways), S_OK);
  EXPECT_EQ(Position(log.get()), 60u);
  const std::vector<std::pair<uint16_t, Bytes>> blocks = {
      {0x43, Bytes(300, 'x')}, {0x0144, {}}, {CVR_ID_MULTI_QUIVOX_MSG, Pattern(5000, 3)}};
  Bytes want = LegacyHeader(); std::vector<size_t> ticks;
  for (auto [id, data] : blocks) {
    const auto conn = static_cast<uint8_t>(0xFD + ticks.size());
    ticks.push_back(want.size() + 4);
    PutBytes(want, Block(id, conn, data));
    data.push_back(0);  // a valid pointer for no data
    ASSERT_EQ(log->WriteBlock(id, conn, data.data(), data.size() - 1), S_OK);
  }
  ULONG size = 0;
  EXPECT_TRUE(log->GetFileSize(&size) == S_OK && size == want.size() && Position(log.get()) == want.size());
  ASSERT_EQ(log->Close(), S_OK);
  // Between the line ends of the header, anything but CR and ^Z; the ticks
  // are the system's.
  Bytes bytes = ReadFileBytes(path);
  ASSERT_EQ(bytes.size(), want.size());
  for (size_t i = 29; i < 57; ++i) EXPECT_TRUE(bytes[i] != 0x1A && bytes[i] != 0x0D) << i;
  std::copy(bytes.begin() + 29, bytes.begin() + 57, want.begin() + 29);
  for (size_t at : ticks) std::copy(bytes.begin() + at, bytes.begin() + at + 4, want.begin() + at);
  EXPECT_EQ(bytes, want);
}

// ---- Reading, step by step ----

// op: 'H' read a header, 'D' read `length` bytes of data, 'W' write a block.
// A header read may check the end flag (-1: any) and the identifier (0: any),
// a data read its bytes; pos is the position afterwards (0: any).
struct Step { char op; ULONG length; HRESULT code; LONG end = -1; USHORT id = 0; ULONG pos = 0; const char* data = nullptr; };

const std::map<HRESULT, const char*> kStepErrors = {
    {E_CVR_BLOCK_HEADER_NOT_READ, "Block header not read"}, {E_CVR_INVALID_DATA_BLOCK_SIZE, "Invalid data block size"},
    {E_CVR_BLOCK_HEADER_READ_FAILED, "Block header read failed"}, {E_CVR_BLOCK_DATA_READ_FAILED, "Block data read failed"},
    {E_CVR_BLOCK_DATA_SKIP_FAILED, "Block data skip failed"}, {E_CVR_BLOCK_HEADER_WRITE_FAILED, "Block header write failed"}};

TEST(CorvaneTest, ReadingStepByStep) {
  const Bytes three = Concat({LegacyHeader(), Block(1, 1, {'a', 'b', 'c'}, ~0u, 10), Block(2, 2, {}), Block(3, 3, {'w', 'x', 'y', 'z'})});
  Bytes reserved = three, odd_header = Text("a longer header with V 01.00 inside and more text\r\n\x1A");
  reserved[63] = 0xEE;
  const HRESULT kNotRead = E_CVR_BLOCK_HEADER_NOT_READ, kSkipFailed = E_CVR_BLOCK_DATA_SKIP_FAILED;
  const Step kHeader{'H', 0, S_OK};
  // A wrong version fails Open (`opened`) but leaves the file open behind its header.
  const struct { const char* name; Bytes file; std::vector<Step> steps; HRESULT opened = S_OK; } cases[] = {
      // The reserved byte is ignored; unread data is skipped.
      {"unread data skipped", reserved, {{'H', 0, S_OK, 0, 1}, {'H', 0, S_OK, 0, 2}, {'H', 0, S_OK, 0, 3},
                                         {'D', 4, S_OK, -1, 0, 0, "wxyz"}, {'H', 0, S_OK, 1}}},
      {"data needs a header first", three, {{'D', 3, kNotRead}, {'H', 0, S_OK}, {'D', 3, S_OK}, {'D', 3, kNotRead}}},
      {"data of another length stays pending", three, {kHeader, {'D', 2, E_CVR_INVALID_DATA_BLOCK_SIZE, -1, 0, 72}, {'H', 0, S_OK, 0, 2}}},
      {"writing a file opened for reading", three, {{'W', 1, E_CVR_BLOCK_HEADER_WRITE_FAILED}}},
      {"any header with the tag before its end byte", Concat({odd_header, Block(7, 1, {0xAB, 0xCD})}),
       {{'H', 0, S_OK, 0, 7, static_cast<ULONG>(odd_header.size()) + 12}, {'D', 2, S_OK, -1, 0, 0, "\xAB\xCD"}}},
      {"end byte as byte 2000", LegacyHeader(kTagText, 1999), {{'H', 0, S_OK, 1}}},
      {"header cut short is damage", Concat({LegacyHeader(), Bytes(5, 9)}), {{'H', 0, E_CVR_BLOCK_HEADER_READ_FAILED}}},
      // Data cut off by the end of the file is damage whether it is read or
      // skipped, never a clean end of the log.
      {"data cut short", Concat({LegacyHeader(), Block(1, 1, Bytes(3, 0), 8)}), {kHeader, {'D', 8, E_CVR_BLOCK_DATA_READ_FAILED}, {'H', 0, kSkipFailed}}},
      {"data cut short, skipped", Concat({LegacyHeader(), Block(1, 1, Bytes(10, 0), 100)}), {kHeader, {'H', 0, kSkipFailed, -1, 0, 72}}},
      // A damaged length of 2^31 or more must not move the position backwards.
      {"huge pending length", Concat({LegacyHeader(), Block(1, 1, Bytes(64, 0), 0x80000010u)}), {kHeader, {'H', 0, kSkipFailed, -1, 0, 72}}},
      // Skipped data is behind the reader: meeting the end after a skip does
      // not skip again on the next call.
      {"skip to the end once", Concat({LegacyHeader(), Block(1, 1, Bytes(10, 0))}),
       {{'H', 0, S_OK}, {'H', 0, S_OK, 1, 0, 82}, {'H', 0, S_OK, 1, 0, 82}, {'D', 10, kNotRead}}},
      {"version e1.01", Concat({LegacyHeader("KRV Binary Log File V e1.01", 29), Block(3, 2, {})}),
       {{'H', 0, S_OK, 0, 3}}, E_CVR_FILE_HEADER_INFO_WRONG_VERSION},
  };
  TempDir dir; auto log = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("read.log");
    WriteFileBytes(path, c.file);
    const HRESULT opened = Open(log.get(), path, kRead, kExisting);
    const std::string why = TakeError().description;
    ASSERT_TRUE(opened == c.opened && (!c.opened || why == Description("File creation failed", "CORVANE", c.opened))) << why;
    for (const Step& s : c.steps) {
      SCOPED_TRACE(std::string(1, s.op) + std::to_string(s.length));
      Header h; Bytes data(s.length + 1);
      const HRESULT hr = s.op == 'H' ? h.Read(log.get()) : s.op == 'D' ? log->ReadBlockData(data.data(), s.length)
                                                                        : log->WriteBlock(1, 1, data.data(), s.length);
      const std::string error = TakeError().description;
      EXPECT_EQ(static_cast<uint32_t>(hr), static_cast<uint32_t>(s.code)) << error;
      EXPECT_TRUE(s.code == S_OK || error == Description(kStepErrors.at(s.code), "CORVANE", s.code)) << error;
      EXPECT_TRUE((s.end < 0 || h.end == s.end) && (!s.id || h.id == s.id)) << h.end << " " << h.id;
      EXPECT_TRUE((!s.pos || Position(log.get()) == s.pos) && (!s.data || std::string(data.begin(), data.begin() + s.length) == s.data));
    }
    EXPECT_EQ(log->Close(), S_OK);
  }
}

// Every failure reports its code and text. Arguments are checked before
// anything is touched (null pointers first, then the access mode, then the
// create mode), so a refused Open leaves an existing file alone; a failed
// Open leaves the object closed unless its arguments were refused.
TEST(CorvaneTest, FailuresReportCodeAndTextAndLeaveFilesAlone) {
  static ULONG value; static Header h;
#define CALL(expr) [](ICorvane* log, const std::string& path) -> HRESULT { return (void)log, (void)path, (expr); }
  const std::string kFlags = "Illegal Access Flag combination", kCreation = "File creation failed", kNotOpen = "File not open";
  auto null = [](const char* method) { return std::string("One ore more ") + method + " method parameters are NULL"; };
  // state: 'c' closed, 'w' open for writing, 'r' open for reading; before: the file before, if any.
  using Call = std::function<HRESULT(ICorvane*, const std::string&)>;
  const struct { Call call; HRESULT code; std::string text; char state = 'c'; bool open_after = false; std::optional<Bytes> before = {}; }
      cases[] = {
      {CALL(Open(log, path, kWrite, kExisting)), E_CVR_INVALID_ACCESS_FLAG_COMBINATION, kFlags},
      {CALL(Open(log, path, 3, 7)), E_CVR_INVALID_FILE_ACCESS_MODE, kCreation}, {CALL(Open(log, path, kWrite, 0)), E_CVR_INVALID_CREATE_MODE, kCreation},
      {CALL(Open(log, path, kRead, kExisting)), E_CVR_FILE_CREATION_FAILS, kCreation},
      {CALL(Open(log, path, kWrite, kNew)), E_CVR_FILE_CREATION_FAILS, kCreation, 'c', 0, Bytes{1, 2, 3}},
      // Created, but the header cannot be written; an existing log is not emptied.
      {CALL(Open(log, path, kRead, kNew)), E_CVR_FILE_HEADER_INFO_WRITE_FAIL, kCreation},
      {CALL(Open(log, path, kRead, kAlways)), E_CVR_FILE_HEADER_INFO_WRITE_FAIL, kCreation, 'c', 0, Bytes{1, 2, 3}},
      // The end byte at 2001.
      {CALL(Open(log, path, kRead, kExisting)), E_CVR_FILE_HEADER_INFO_READ_FAIL, kCreation, 'c', 0, LegacyHeader(kTagText, 2000)},
      {CALL(log->GetFileSize(&value)), E_CVR_FILE_NOT_OPEN, kNotOpen},
      // Null pointers are refused before the open-file check.
      {CALL(log->Open(nullptr, kRead, kNew)), E_POINTER, null("Open")}, {CALL(log->WriteBlock(1, 1, nullptr, 0)), E_POINTER, null("WriteBlock")},
      {CALL(log->ReadBlockHeader(&h.id, &h.conn, &h.tick, &h.length, nullptr)), E_POINTER, null("ReadBlockHeader")},
      {CALL(log->ReadBlockData(nullptr, 0)), E_POINTER, null("ReadBlockData")}, {CALL(log->GetFileSize(nullptr)), E_POINTER, null("GetFileSize")},
      {CALL(log->GetFilePointerPos(nullptr)), E_POINTER, null("GetFilePointerPos")},
      {CALL(h.Read(log)), E_CVR_BLOCK_HEADER_READ_FAILED, "Block header read failed", 'w', 1},
      {CALL(log->Flush()), E_CVR_FILE_FLUSH_FAILED, "File flush failed", 'r', 1},
      // Refused arguments keep an open file open, while the same object
      // reopening its own file gives it up first. (Other objects and
      // processes are refused an open file: tests/hardening/process_test.cc.)
      {CALL(Open(log, path, kWrite, kExisting)), E_CVR_INVALID_ACCESS_FLAG_COMBINATION, kFlags, 'w', 1},
      {CALL(Open(log, path, kRead, kExisting)), E_CVR_FILE_CREATION_FAILS, kCreation, 'w'},
  };
#undef CALL
  TempDir dir; int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE("row " + std::to_string(n));
    const std::string path = dir.File("case" + std::to_string(n++) + ".log");
    auto log = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
    if (c.before) WriteFileBytes(path, *c.before);
    ASSERT_TRUE(c.state == 'c' || Open(log.get(), path, kWrite, kNew) == S_OK);
    ASSERT_TRUE(c.state != 'r' || (log->Close() == S_OK && Open(log.get(), path, kRead, kExisting) == S_OK));
    EXPECT_CVR_ERROR(c.call(log.get(), path), c.code, c.text, "CORVANE");
    EXPECT_TRUE(!c.before || ReadFileBytes(path) == *c.before) << "the file is left alone";
    EXPECT_EQ(log->Close(), c.open_after ? S_OK : HRESULT{E_CVR_FILE_NOT_OPEN});
  }
}

// ---- Several threads through one object ----

constexpr int kThreads = 4, kBlocks = 250;

// Runs body(t) on each thread; all start together.
template <class Body> void OnThreads(Body body) {
  std::atomic<int> ready{0}; std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back([&, t] { for (++ready; ready < kThreads;) std::this_thread::yield(); body(t); });
  for (auto& thread : threads) thread.join();
}

// Writers each put their number in every data byte; read back, every block
// is whole and found once. Readers sharing the read position get whole calls.
TEST(CorvaneThreadsTest, ThreadsWriteAndReadThroughOneObject) {
  TempDir dir; Bstr name(dir.File("threads.log"));
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
    ASSERT_TRUE(log->Close() == S_OK && log->Open(name.get(), CVRFileAccessModeRead, CVRFileCreateModeExisting) == S_OK);
    std::atomic<bool> end{false};
    OnThreads([&](int t) {
      for (int k = 0; k < 1000000 && !end && (pass == 1 || t == 0); ++k) {
        Header h;
        if (h.Read(log.get()) != S_OK) continue;
        if (h.end) end = true;
        std::vector<BYTE> data(h.length + 1);
        const HRESULT hr = log->ReadBlockData(data.data(), h.length);  // fails when another thread read a header since
        data.pop_back();
        if (pass > 0 || h.end) continue;
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(data, std::vector<BYTE>(8 + h.id % 1000 % 5, static_cast<BYTE>(h.id / 1000)));
        EXPECT_TRUE(seen.insert(h.id).second) << h.id;
      }
    });
  }
  EXPECT_EQ(seen.size(), size_t{kThreads * kBlocks});
  EXPECT_EQ(log->Close(), S_OK);
  TakeError();
}

}  // namespace
}  // namespace corvane::test
