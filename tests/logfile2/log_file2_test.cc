// LogFile2 through ILogFile2. Every refusal with its code and text in one
// table; the companion files of the write modes (held by another process:
// tests/hardening/process_test.cc) and an index found at Open. Blocks (their
// round trips: the hardening tests' numbered blocks): exact file ends, bulk
// blocks, the packed header layout and bookmark blocks. Bookmarks: numbering
// among the messages, the current bookmark, persistence and comments of
// several bytes per character.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <tuple>

#include "logfile2/log_file2_test_util.h"

namespace corvane::test {
namespace {

// The 128-byte header of generation 1.02 files: four lines at 0, 32, 64, 96
// (the tag, "IDX V 01.02.001" and the like, on the third), then 0x1A.
// Then the little-endian fields (value, bytes).
Bytes Header102(const std::string& banner, const std::string& tag, std::initializer_list<std::pair<uint64_t, int>> fields) {
  Bytes h(128, 0);
  const std::string lines[] = {"Tamri Zuduva Deravi\n", banner + "\n", tag + "\n", "crafted by the test run.\n"};
  for (int i = 0; i < 4; ++i) std::copy(lines[i].begin(), lines[i].end(), h.begin() + 32 * i);
  h[127] = 0x1A;
  for (auto [value, n] : fields) PutLE(h, value, n);
  return h;
}
// A complete index file (sub-version "001" unless given) with its fields.
Bytes IndexFile(uint64_t resolution, uint64_t count, const std::string& sub = ".001") {
  return Header102("Binary Log Index File", "IDX V 01.02" + sub, {{resolution, 8}, {count, 8}});
}
// A bookmark file holding one record (0, 2, "hi") and announcing `announced`.
Bytes BookmarkFile(uint32_t announced) {
  return Header102("Binary Log Bookmark File", "BMK V 01.02", {{announced, 4}, {0, 8}, {2, 4}, {'h' | 'i' << 8, 2}});
}

// Every refusal with its code and text, in the order the checks come, on one
// object that stays usable: a new object, Open, a log being read, a log being
// written, an index promising more than the log holds, damaged blocks.
TEST_F(LogFile2Test, EveryRefusalGivesItsCodeAndTextAndLeavesTheObjectUsable) {
  const std::string existing = dir_.File("existing.log");
  ASSERT_TRUE(WriteLog(existing, 2) && WriteLog(dir_.File("numbered.log"), 250));
  const Bytes before = ReadFileBytes(existing);
  // b.bmk is damaged (announces 2): it does not count. The corrupt logs: a
  // bulk block (id, conn, mode 0, stamp, length) with no room for its count,
  // and a block longer than the file.
  Bytes cut = Header102("Binary Log File", "CVR V 01.02", {{CVR_ID_MULTI_QUIVOX_MSG, 4}, {0, 8}, {4, 4}, {0, 4}}),
        long_block = Header102("Binary Log File", "CVR V 01.02", {{0x33, 4}, {0, 8}, {1000, 4}});
  PutBytes(long_block, Pattern(20, 1));
  for (const auto& [name, bytes] : std::initializer_list<std::pair<const char*, Bytes>>{
           {"numbered.idx", IndexFile(100, 400)}, {"unknown.log", Pattern(300, 0x20)}, {"a.bmk", BookmarkFile(1)}, {"b.bmk", BookmarkFile(2)},
           {"c.bmk", BookmarkFile(2)}, {"b.idx", IndexFile(10, 0)}, {"cut-bulk.log", cut}, {"long.log", long_block}}) Craft(name, bytes);
  auto open = [&](const std::string& name, int mode, EnumFileVersion v = FileVersionUnknown) {
    return [this, path = dir_.File(name), mode, v]() mutable { return Open(path, mode, &v); };
  };
  auto close = [&] { return log_->Close(); };
  LONGLONG n = 0, progress = -1; ULONG u = 0; LONG eof = 0;
  BYTE b[32] = {}; LogBlockHeader h; Bstr s;
  constexpr char kCreation[] = "File creation failed", kNotOpen[] = "File not open",
                 kExceeded[] = "MsgNo exceeds record count", kOutOfRange[] = "BookmarkNo out of range",
                 kInvalidNumber[] = "Invalid message number parameter value", kNotRead[] = "Block header not read",
                 kEndOfList[] = "End of Bookmark list reached";
  const HRESULT kInvalid = E_CVR_INVALID_PARAM, kCount = E_CVR_MSG_COUNT_EXCEEDED, kPending = E_CVR_BLOCK_HEADER_NOT_READ,
                kCorrupt = E_CVR_BLOCK_HEADER_DATA_CORRUPT;
  // A null `text`: the call succeeds (or gives `code`) without an error object checked.
  const struct { const char* what; std::function<HRESULT()> call; HRESULT code; const char* text; } rows[] = {
      {"GetFileSize", [&] { return log_->GetFileSize(nullptr); }, E_POINTER, "One ore more GetFileSize method parameters are NULL"},
      {"GetFilePointerPos", [&] { return log_->GetFilePointerPos(nullptr); }, E_POINTER, "NULL pointer passed"},
      {"GetDiskBufferSize", [&] { return log_->GetDiskBufferSize(nullptr); }, E_POINTER, "GetDiskBufferSize, NULL pointer passed"},
      {"GetIndexedRecCount", [&] { return log_->GetIndexedRecCount(nullptr); }, E_POINTER, "GetIndexedRecCount, Null pointer passed"},
      {"GetIndexResolution", [&] { return log_->GetIndexResolution(nullptr); }, E_POINTER, "GetIndexResolution, NULL pointer passed"},
      {"GetBookmarkCount", [&] { return log_->GetBookmarkCount(nullptr); }, E_POINTER, "GetBookmarkCount, NULL pointer passed"},
      {"BookmarkRead", [&] { return log_->BookmarkRead(nullptr); }, E_POINTER, "BookmarkRead, NULL pointer passed"},
      {"GetBookmarkBlockNumber", [&] { return log_->GetBookmarkBlockNumber(0, nullptr); }, E_POINTER, "GetBookmarkBlockNumber, NULL pointer passed"},
      {"GetBookmarkIndexNumber", [&] { return log_->GetBookmarkIndexNumber(0, nullptr); }, E_POINTER, "GetBookmarkIndexNumber, NULL pointer passed"},
      {"GetIndexingProgress", [&] { return log_->GetIndexingProgress(nullptr); }, E_POINTER, "GetIndexingProgress, NULL pointer passed"},
      {"GetDiskSectorSize", [&] { return log_->GetDiskSectorSize(nullptr); }, E_POINTER, "GetDiskSectorSize, NULL pointer passed"},
      {"ReadBlockHeader", [&] { return log_->ReadBlockHeader(b, 24, nullptr, &eof); }, E_POINTER, "One or more NULL pointers passed"},
      {"ReadBlockData", [&] { return log_->ReadBlockData(nullptr, 4); }, E_POINTER, "One ore more ReadBlockData method parameters are NULL"},
      {"WriteBlock", [&] { return log_->WriteBlock(b, 24, nullptr, 0, 0); }, E_POINTER, "One or more WriteBlock method parameters are NULL"},
      {"Open", [&] { return log_->Open(nullptr, FileAccessModeReadOnly, nullptr, 0); }, E_POINTER, "One ore more Open method parameters are NULL"},
      // Without a file, counts, settings and the bookmark list still answer.
      {"count without a file", [&] { return log_->GetIndexedRecCount(&n) == S_OK && n == 0 ? S_OK : E_FAIL; }, S_OK, nullptr},
      {"progress without a file", [&] { return log_->GetIndexingProgress(&progress) == S_OK && progress == 0 ? S_OK : E_FAIL; }, S_OK, nullptr},
      {"sector size of this directory's disk", [&] {
         return log_->GetDiskSectorSize(&u) == S_OK && u >= 512 && u <= 65536 && (u & (u - 1)) == 0 ? S_OK : E_FAIL; }, S_OK, nullptr},
      {"settings without a file", [&] { return log_->GetBookmarkCount(&n) | log_->GetDiskBufferSize(&u); }, S_OK, nullptr},
      {"bookmarks without a file", [&] { return log_->BookmarkRead(s.out()); }, kCount, kEndOfList},
      {"data without a file", [&] { return log_->ReadBlockData(b, 4); }, E_CVR_FILE_NOT_OPEN, kNotOpen},
      {"CreateIndex without a file", [&] { return log_->CreateIndex(0); }, E_CVR_FILE_NOT_OPEN, kNotOpen},
      {"Jump without a file", [&] { return log_->Jump(0); }, E_CVR_FILE_NOT_OPEN, kNotOpen},
      {"Close without a file", close, E_CVR_FILE_NOT_OPEN, kNotOpen},
      {"mode 0", open("new0.log", 0, FileVersionCVR_V0102), E_CVR_INVALID_FILE_ACCESS_MODE, kCreation},
      {"generation 2 not writable", open("v2.log", 3, FileVersionCVR_V0100), E_CVR_INVALID_FILE_FORMAT_PARAM, kCreation},
      {"missing file", open("missing.log", 1), E_CVR_FILE_CREATION_FAILS, kCreation},
      {"create-new on an existing log", open("existing.log", 2, FileVersionCVR_V0102), E_CVR_FILE_CREATION_FAILS, kCreation},
      {"no known generation", open("unknown.log", 1), E_CVR_FILE_HEADER_INFO_WRONG_VERSION, kCreation},
      {"name too long", open(std::string(40000, 'n'), 3, FileVersionCVR_V0102), E_CVR_FILE_CREATION_FAILS, kCreation},
      {"create-new beside bookmarks", open("a.log", 2, FileVersionCVR_V0102), E_CVR_FILE_CREATION_FAILS, "Bookmark file already exists"},
      {"create-new beside an index", open("b.log", 2, FileVersionCVR_V0102), E_CVR_FILE_CREATION_FAILS, "Index file already exists"},
      {"nothing made, changed or kept", [&] {
         for (const char* name : {"new0.log", "v2.log", "a.log", "b.log"}) if (FileExists(dir_.File(name))) return E_FAIL;
         return ReadFileBytes(existing) == before && BookmarkCount() == 0 ? S_OK : E_FAIL;
       }, S_OK, nullptr},
      {"refused companions are not held: create-always removes them", [&] {
         auto other = New<ILogFile2>(); const HRESULT hr = OpenLog(other.get(), dir_.File("b.log"), true);
         return other->Close() == S_OK && !FileExists(dir_.File("b.idx")) && !FileExists(dir_.File("b.bmk")) ? hr : E_FAIL;
       }, S_OK, nullptr},
      {"create-new beside damaged bookmarks", open("c.log", 2, FileVersionCVR_V0102), S_OK, nullptr},
      {"a new log starts without bookmarks", [&] { return BookmarkCount() == 0 ? close() : E_FAIL; }, S_OK, nullptr},
      {"read a log without an index", open("existing.log", 1), S_OK, nullptr},
      {"Open on an open object", open("other.log", 3, FileVersionCVR_V0102), E_CVR_FILE_ALREADY_OPEN, "File is already open"},
      {"write while reading", [&] { return Write(log_.get(), MakeHeader(9, 0, 0, 0, 0), {9}); }, E_CVR_BLOCK_HEADER_WRITE_FAILED, "Block header write failed"},
      {"jump without an index", [&] { return log_->Jump(0); }, kCount, kExceeded},
      {"negative jump", [&] { return log_->Jump(-1); }, kInvalid, kInvalidNumber},
      {"negative resolution", [&] { return log_->CreateIndex(-5); }, kInvalid, "Invalid IndexRes parameter"},
      {"the open file is untouched", [&] { return ReadAll(log_.get()).size() == 2 ? log_->Close() : E_FAIL; }, S_OK, nullptr},
      {"write ten blocks", [&] {
         HRESULT hr = open("ten.log", 3, FileVersionCVR_V0102)();
         for (int i = 0; i < 10 && hr == S_OK; ++i) hr = Write(log_.get(), MakeHeader(i, 0, 0, 0, 0), {1});
         return hr == S_OK ? log_->InsertBookmark(5, Bstr("A").get()) : hr;
       }, S_OK, nullptr},
      {"bulk block without a count", [&] { return Write(log_.get(), MakeHeader(CVR_ID_MULTI_QUIVOX_MSG, 0, 0, 0, 0), {1, 2}); }, kInvalid, "Invalid bulk block message count"},
      {"bookmark past the end", [&] { return log_->InsertBookmark(12, nullptr); }, kCount, kExceeded},
      {"bookmark at a negative number", [&] { return log_->InsertBookmark(-1, nullptr); }, kInvalid, kInvalidNumber},
      {"a message, not a bookmark", [&] { return log_->GetBookmarkIndexNumber(4, &n); }, E_CVR_MSG_NOT_BOOKMARK, "Requested Message Number was not a Bookmark"},
      {"past the messages", [&] { return log_->GetBookmarkIndexNumber(11, &n); }, kCount, "Total Message Count Exceeded"},
      {"past the bookmarks", [&] { return log_->GetBookmarkBlockNumber(1, &n); }, kCount, kOutOfRange},
      {"read past the list", [&] { return log_->BookmarkRead(s.out()); }, kCount, kEndOfList},
      {"jump past the list", [&] { return log_->BookmarkJump(1); }, kCount, kOutOfRange},
      {"delete past the list", [&] { return log_->BookmarkDelete(); }, kCount, kOutOfRange},
      {"edit past the list", [&] { return log_->BookmarkEdit(nullptr); }, kCount, kOutOfRange},
      {"close the written log", close, S_OK, nullptr},
      {"an index promising 400", open("numbered.log", 1), S_OK, nullptr},
      {"jump past the index", [&] { return log_->Jump(400); }, kCount, kExceeded},
      // Its missing records cost a longer read, never a wrong place.
      {"jump past the log", [&] { return log_->Jump(300); }, E_CVR_BLOCK_HEADER_READ_FAILED, "Failed to read block header"},
      {"jump within the log", [&] { return log_->Jump(249) == S_OK && NextIsNumbered(log_.get(), 249) ? S_OK : E_FAIL; }, S_OK, nullptr},
      {"data before a header", [&] { return log_->ReadBlockData(b, 4); }, kPending, kNotRead},
      {"back to block 0", [&] { return log_->Jump(0); }, S_OK, nullptr},
      {"its header: 4 data bytes", [&] { return NextHeader(log_.get(), &h, &eof); }, S_OK, nullptr},
      {"data into a smaller buffer", [&] { return log_->ReadBlockData(b, 3); }, E_CVR_BLOCK_DATA_READ_FAILED, "Block data read failed"},
      {"the data, still pending", [&] { return log_->ReadBlockData(b, 4); }, S_OK, nullptr},
      {"the data again", [&] { return log_->ReadBlockData(b, 4); }, kPending, kNotRead},
      {"a bulk block cut before its count", [&] { return close(), open("cut-bulk.log", 1)(); }, S_OK, nullptr},
      {"its header", [&] { return NextHeader(log_.get(), &h, &eof); }, kCorrupt, "Corrupt file"},
      {"its data", [&] { return log_->ReadBlockData(b, 4); }, kPending, kNotRead},
      {"a block longer than the file", [&] { return close(), open("long.log", 1)(); }, S_OK, nullptr},
      {"its header", [&] { return NextHeader(log_.get(), &h, &eof); }, kCorrupt, "Corrupt Block header, data length exceeds end of file"},
      {"its data", [&] { return log_->ReadBlockData(b, 4); }, kPending, kNotRead},
      {"close", close, S_OK, nullptr},
      {"flush without a file", [&] { return log_->FlushLogfile(); }, S_OK, nullptr},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    if (r.text) EXPECT_CVR_ERROR(r.call(), r.code, r.text, kTag);
    else EXPECT_EQ(r.call(), r.code);
  }
}

using OpenTest = LogFile2Test;

// A complete index gives the counts (bookmarks included); one without a
// sub-version is outdated and gives none. An index counts as complete when
// its count is set; a count still 0 over a log that holds blocks is a first
// pass that never finished (or is still running in another process), and an
// outdated sub-version is rebuilt.
TEST_F(OpenTest, ACompleteIndexGivesTheCountsAndAnOutdatedOrUnfinishedOneDoesNot) {
  const struct { const char* name; uint32_t blocks; uint64_t count; const char* sub; bool complete; } cases[] = {
      {"complete", 3, 250, ".001", true}, {"outdated", 3, 250, "", false}, {"unfinished", 3, 0, ".001", false}, {"complete, empty log", 0, 0, ".001", true}};
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = "idx" + std::to_string(n++), path = dir_.File(name + ".log");
    ASSERT_TRUE(WriteLog(path, c.blocks));
    Craft(name + ".idx", IndexFile(100, c.count, c.sub));
    OpenRead(path);
    // Only a complete index makes its count the total that bounds the bookmarks.
    const LONGLONG bookmark = c.count > 0 ? 250 : 0;
    EXPECT_EQ(log_->InsertBookmark(bookmark, Bstr("one").get()), c.complete || !bookmark ? S_OK : HRESULT{E_CVR_MSG_COUNT_EXCEEDED});
    LONGLONG count = -1, resolution = -1;
    EXPECT_TRUE(log_->GetIndexedRecCount(&count) == S_OK && log_->GetIndexResolution(&resolution) == S_OK);
    EXPECT_EQ(std::pair(count, resolution), (c.complete ? std::pair<LONGLONG, LONGLONG>(c.count + 1, 100) : std::pair<LONGLONG, LONGLONG>()));
    ASSERT_EQ(log_->Close(), S_OK);
    TakeError();
  }
}

using BlocksTest = LogFile2Test;

// Identifier, connection and stamp mode of a header.
std::tuple<int, int, int> IdConnMode(const LogBlockHeader& h) { return {h.wBlockID, h.byConnID, h.byTimeStampMode}; }

// A bulk block's header, length + 4 and count go in the log's byte order (big
// only for "u"); it reads back as its messages with the block's stamp, and
// the count moves the message numbers. Messages take a multiple of 4 in "u".
TEST_F(BlocksTest, BulkBlockStoresLengthPlusFourAndCountAndReadsBackAsItsMessages) {
  for (EnumFileVersion v : {FileVersionCVR_V0102, FileVersionCVR_Vu102}) {
    SCOPED_TRACE(v);
    const bool big = v == FileVersionCVR_Vu102;
    std::vector<Bytes> messages; Bytes data;
    for (size_t i = 0; i < 7; ++i) {
      messages.push_back(RawRecord(0x1D, 0x10, 0, Pattern(i < 6 ? (big ? 6 : 8) : (big ? 22 : 10), static_cast<uint8_t>(i))));
      PutBytes(data, messages.back());
    }
    ASSERT_EQ(data.size(), 100u);
    const std::string path = dir_.File("bulk.log");
    OpenWrite(path, v);
    ASSERT_EQ(Write(log_.get(), MakeHeader(CVR_ID_MULTI_QUIVOX_MSG, 4, 1, 777, 0), data, 7), S_OK);
    ASSERT_TRUE(Write(log_.get(), MakeHeader(0x20, 1, 0, 5, 0), {1, 2}) == S_OK &&
                log_->InsertBookmark(7, Bstr("after bulk").get()) == S_OK && log_->Close() == S_OK);

    const Bytes file = ReadFileBytes(path); Bytes header;
    const std::pair<uint64_t, int> fields[] = {{CVR_ID_MULTI_QUIVOX_MSG, 2}, {4, 1}, {1, 1}, {777, 8}, {104, 4}, {7, 4}};
    for (auto [value, n] : fields) big ? PutBE(header, value, n) : PutLE(header, value, n);  // id ... length + 4, count
    EXPECT_EQ(Bytes(file.begin() + 128, file.begin() + 148), header);
    EXPECT_EQ(Bytes(file.begin() + 148, file.begin() + 248), data);

    EXPECT_EQ(OpenRead(path), v);
    std::vector<Record> back = ReadAll(log_.get());
    ASSERT_EQ(back.size(), 9u);
    for (size_t i = 0; i < 7; ++i)  // each with the block's stamp
      EXPECT_TRUE(IdConnMode(back[i].header) == IdConnMode(MakeHeader(CVR_ID_QUIVOX_MSG, 0xFF, 1, 0, 0)) &&
                  back[i].header.qwTimeStamp == 777u && back[i].data == messages[i]) << i;
    EXPECT_TRUE(back[7].header.wBlockID == CVR_ID_BOOKMARK && back[8].header.wBlockID == 0x20);
    EXPECT_EQ(log_->Close(), S_OK);
  }
}

// A header goes in natural form from 24 bytes of room, packed below (stamp
// at 4, length at 12), cut to the room; a data buffer smaller than the record
// fails and keeps it pending (the refusals test). (Buffers are never
// overrun: a property of the log_file2 fuzz target.)
TEST_F(BlocksTest, ShortHeaderBuffersGetThePackedLayout) {
  const std::string path = dir_.File("room.log");
  OpenWrite(path, FileVersionCVR_V0102);
  ASSERT_EQ(Write(log_.get(), MakeHeader(0x0A0B, 7, 1, 0x1122334455667788ull, 0), Pattern(40, 3)), S_OK);
  ASSERT_EQ(log_->Close(), S_OK);
  OpenRead(path);
  Bytes buffer(16), data(40); ULONG returned = 0; LONG eof = 0;
  ASSERT_EQ(log_->ReadBlockHeader(buffer.data(), 16, &returned, &eof), S_OK);
  EXPECT_EQ(buffer, (Bytes{0x0B, 0x0A, 7, 1, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 40, 0, 0, 0}));
  ASSERT_EQ(log_->ReadBlockData(data.data(), 40), S_OK);
  EXPECT_EQ(data, Pattern(40, 3));
}

// A written bookmark block becomes a bookmark, not a block in the file: its
// comment ends at a zero or at the length, which it keeps. The file ends with
// the last block (no zero fill of an enciphered generation). Unread records
// are skipped; the end comes again and again with a zeroed header.
TEST_F(BlocksTest, BookmarkBlockBecomesABookmarkAndUnreadRecordsAreSkipped) {
  for (EnumFileVersion v : {FileVersionCVR_V0102, FileVersionCVR_Ve102}) {
    SCOPED_TRACE(v);
    const std::string path = dir_.File("bmkblock.log");
    OpenWrite(path, v);
    const std::pair<uint16_t, Bytes> blocks[] = {{1, {1}}, {CVR_ID_BOOKMARK, {'a', 'b', 'c', 0, 'x', 'y', 'z'}}, {CVR_ID_BOOKMARK, {'d', 'e', 'f'}}, {2, {2}}};
    for (const auto& [id, data] : blocks) ASSERT_EQ(Write(log_.get(), MakeHeader(id, 0, 0, 0, 0), data), S_OK);
    EXPECT_EQ(BookmarkCount(), 2);
    ASSERT_EQ(log_->Close(), S_OK);
    EXPECT_EQ(FileSize(path), 128 + 2 * 17);

    EXPECT_EQ(OpenRead(path), v);
    std::vector<Record> back = ReadAll(log_.get());
    ASSERT_EQ(back.size(), 4u);
    EXPECT_EQ(IdConnMode(back[1].header), IdConnMode(MakeHeader(CVR_ID_BOOKMARK, 0xFF, 0, 0, 0)));
    EXPECT_EQ(std::tuple(back[1].data, back[2].data), std::tuple(Bytes{'a', 'b', 'c', 0, 0, 0, 0}, Bytes{'d', 'e', 'f'}));
    EXPECT_EQ(back[3].header.wBlockID, 2);
    ASSERT_EQ(log_->Close(), S_OK);

    OpenRead(path);
    LogBlockHeader h; LONG eof = 0;
    for (const Record& r : back) EXPECT_TRUE(NextHeader(log_.get(), &h, &eof) == S_OK && h.wBlockID == r.header.wBlockID);
    for (ULONG i = 0, returned = 7; i < 2; ++i, returned = 7, h.wBlockID = 0xEEEE) {
      ASSERT_EQ(log_->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &eof), S_OK);
      EXPECT_EQ(std::tuple(eof, returned, h.wBlockID), std::tuple(1, 0u, 0));
    }
    ASSERT_EQ(log_->Close(), S_OK);
  }
}

// Records at hand are read where they lie (the read-ahead window of a
// plain log, the deciphered window of an enciphered one), others through
// the stream: small records across the windows' ends, one longer than a
// window, and records whose data is never read come back alike in both.
TEST_F(BlocksTest, RecordsAcrossAndBeyondTheWindowsReadBackPlainAndEnciphered) {
  const auto size = [](uint32_t i) -> ULONG { return i == 700 ? 200000 : i * 37 % 300; };
  for (EnumFileVersion v : {FileVersionCVR_V0102, FileVersionCVR_Ve102}) {
    SCOPED_TRACE(v);
    const std::string path = dir_.File("window.log");
    OpenWrite(path, v);
    for (uint32_t i = 0; i < 1500; ++i) {
      ASSERT_EQ(Write(log_.get(), MakeHeader(0x100 + i, 0, 0, i, 0), Pattern(size(i), uint8_t(i))), S_OK);
    }
    ASSERT_EQ(log_->Close(), S_OK);
    OpenRead(path);
    LogBlockHeader h; LONG eof = 0;
    for (uint32_t i = 0; i < 1500; ++i) {
      ASSERT_EQ(NextHeader(log_.get(), &h, &eof), S_OK);
      ASSERT_EQ(std::tuple(eof, h.wBlockID, h.dwDataLength), std::tuple(0, 0x100 + i, size(i))) << i;
      if (i % 5 == 0) continue;  // the data is skipped by the next header read
      Bytes data(size(i) + 1);
      ASSERT_EQ(log_->ReadBlockData(data.data(), h.dwDataLength), S_OK) << i;
      data.pop_back();
      ASSERT_EQ(data, Pattern(size(i), uint8_t(i))) << i;
    }
    EXPECT_TRUE(NextHeader(log_.get(), &h, &eof) == S_OK && eof == 1);
    ASSERT_EQ(log_->Close(), S_OK);
  }
}

using V = std::vector<std::string>;

class BookmarkTest : public LogFile2Test {
 protected:
  // Block numbers in reading order; bookmarks as "<comment>".
  V Sequence() {
    V out;
    for (const Record& r : ReadAll(log_.get())) out.push_back(r.header.wBlockID == CVR_ID_BOOKMARK ? "<" + std::string(r.data.begin(), r.data.end()) + ">"
                                                         : std::to_string(r.data[0]));
    return out;
  }
  // The comments from the current bookmark to the end of the list.
  V ReadComments() {
    V out;
    for (Bstr text; log_->BookmarkRead(text.out()) == S_OK;) out.push_back(text.utf8());
    return TakeError(), out;
  }
  LONGLONG BlockNumber(LONGLONG bookmark) { LONGLONG n = -1; return log_->GetBookmarkBlockNumber(bookmark, &n) == S_OK ? n : -2; }
};

TEST_F(BookmarkTest, InsertedBookmarksAreNumberedAmongTheMessagesAndReadInPlace) {
  const std::string path = dir_.File("ten.log");
  OpenWrite(path, FileVersionCVR_V0102);
  for (uint32_t i = 0; i < 10; ++i) ASSERT_EQ(WriteNumbered(log_.get(), i), S_OK);
  ASSERT_EQ(log_->InsertBookmark(5, Bstr("A").get()), S_OK);
  LONGLONG out = -1;
  EXPECT_TRUE(log_->GetBookmarkIndexNumber(5, &out) == S_OK && out == 0);
  ASSERT_EQ(log_->InsertBookmark(5, Bstr("B").get()), S_OK);  // before A
  EXPECT_EQ(std::pair(BlockNumber(0), BlockNumber(1)), (std::pair<LONGLONG, LONGLONG>(5, 6)));
  ASSERT_EQ(log_->InsertBookmark(12, Bstr("C").get()), S_OK);  // after everything
  EXPECT_EQ(BookmarkCount(), 3);
  ASSERT_EQ(log_->Close(), S_OK);
  EXPECT_EQ(BookmarkCount(), 0) << "Close empties the list";

  // Bookmarks that are only read leave their file untouched (a log on
  // read-only media must still close).
  const std::string bmk = dir_.File("ten.bmk");
  const std::filesystem::file_time_type old(std::chrono::floor<std::chrono::seconds>(
      std::filesystem::last_write_time(bmk).time_since_epoch()) - std::chrono::hours(24));
  std::filesystem::last_write_time(bmk, old);
  OpenRead(path);
  EXPECT_EQ(Sequence(), (V{"0", "1", "2", "3", "4", "<B>", "<A>", "5", "6", "7", "8", "9", "<C>"}));
  ASSERT_EQ(log_->Close(), S_OK);
  EXPECT_TRUE(std::filesystem::last_write_time(bmk) == old);
}

// The stored length of a comment counts its bytes, so no character is cut.
TEST_F(BookmarkTest, TheCurrentBookmarkIsSelectedReadEditedAndDeleted) {
#ifdef _WIN32  // the ANSI code page may not hold other characters
  const std::string edited = "THREE";
#else
  const std::string edited = "gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC";  // "grüße €"
#endif
  const std::string path = dir_.File("cur.log");
  OpenWrite(path, FileVersionCVR_V0102);
  for (uint32_t i = 0; i < 3; ++i) ASSERT_EQ(WriteNumbered(log_.get(), i), S_OK);
  for (const char* c : {"one", "two", "three"}) ASSERT_EQ(log_->InsertBookmark(3, Bstr(c).get()), S_OK);
  // Inserted at the same number, each before the last: three, two, one.
  // None is current until a jump; reading ends at the list's end.
  EXPECT_EQ(ReadComments(), V{});
  ASSERT_EQ(log_->BookmarkJump(1), S_OK);
  EXPECT_EQ(ReadComments(), (V{"two", "one"}));

  ASSERT_EQ(log_->BookmarkJump(0), S_OK);
  ASSERT_EQ(log_->BookmarkEdit(Bstr(edited).get()), S_OK);  // the next one becomes current
  EXPECT_EQ(ReadComments(), (V{"two", "one"}));
  ASSERT_EQ(log_->BookmarkJump(1), S_OK);
  ASSERT_EQ(log_->BookmarkDelete(), S_OK);  // "one" becomes current
  EXPECT_EQ(ReadComments(), V{"one"});
  EXPECT_EQ(BlockNumber(1), 4);
  EXPECT_EQ(log_->InsertBookmark(6, nullptr), E_CVR_MSG_COUNT_EXCEEDED) << "3 messages + 2 bookmarks";
  ASSERT_EQ(log_->Close(), S_OK);

  OpenRead(path);
  EXPECT_EQ(ReadComments(), V{});
  ASSERT_EQ(log_->BookmarkJump(0), S_OK);
  EXPECT_EQ(ReadComments(), (V{edited, "one"}));
  EXPECT_EQ(Sequence(), (V{"0", "1", "2", "<" + edited + ">", "<one>"}));
}

}  // namespace
}  // namespace corvane::test
