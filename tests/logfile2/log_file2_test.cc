// LogFile2 through ILogFile2. Open and Close: checks and their texts, the
// companion files of the write modes (held by another process:
// tests/hardening/process_test.cc) and an index found at Open (the disk
// buffer setting and buffered sizes: tests/stream and tests/logfile).
// Blocks: round trips of every writable generation across buffer sizes,
// exact file bytes, bulk blocks, the packed header layout, bookmark blocks
// and damaged blocks. Bookmarks: numbering among the messages, the current
// bookmark, persistence and comments of several bytes per character.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <tuple>

#include "logfile2/log_file2_test_util.h"

namespace corvane::test {
namespace {

using OpenTest = LogFile2Test;

TEST_F(OpenTest, RefusalsComeInOrderWithTheirTextsAndLeaveNoFileBehind) {
  const std::string existing = WriteLog("existing.log", 2);
  const Bytes before = ReadFileBytes(existing);
  Craft("unknown.log", Pattern(300, 0x20));
  const struct { const char* what; std::string name; int mode; EnumFileVersion version; HRESULT code; } cases[] = {
      {"mode 0", "new0.log", 0, FileVersionCVR_V0102, E_CVR_INVALID_FILE_ACCESS_MODE},
      {"generation 2 not writable", "v2.log", 3, FileVersionCVR_V0100, E_CVR_INVALID_FILE_FORMAT_PARAM},
      {"missing file", "missing.log", 1, FileVersionUnknown, E_CVR_FILE_CREATION_FAILS},
      {"create-new on an existing log", "existing.log", 2, FileVersionCVR_V0102, E_CVR_FILE_CREATION_FAILS},
      {"no known generation", "unknown.log", 1, FileVersionUnknown, E_CVR_FILE_HEADER_INFO_WRONG_VERSION},
      {"name too long", std::string(40000, 'n'), 3, FileVersionCVR_V0102, E_CVR_FILE_CREATION_FAILS},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EnumFileVersion v = c.version;
    EXPECT_CVR_ERROR(OpenLog(log_.get(), dir_.File(c.name), static_cast<EnumFileAccessMode>(c.mode), &v), c.code,
                     "File creation failed", kTag);
  }
  EXPECT_FALSE(FileExists(dir_.File("new0.log")) || FileExists(dir_.File("v2.log")));
  EXPECT_EQ(ReadFileBytes(existing), before);

  EnumFileVersion v = FileVersionCVR_V0102;
  EXPECT_CVR_ERROR(log_->Open(nullptr, FileAccessModeReadOnly, &v, 0), E_POINTER,
                   "One ore more Open method parameters are NULL", kTag);
  EXPECT_EQ(OpenRead(existing), FileVersionCVR_V0102);
  EXPECT_CVR_ERROR(OpenLog(log_.get(), dir_.File("other.log"), FileAccessModeWriteCreateAlways, &v),
                   E_CVR_FILE_ALREADY_OPEN, "File is already open", kTag);
  EXPECT_EQ(ReadAll(log_.get()).size(), 2u) << "the open file is untouched";
  EXPECT_CVR_ERROR(Write(log_.get(), MakeHeader(9, 0, 0, 0, 0), {9}), E_CVR_BLOCK_HEADER_WRITE_FAILED,
                   "Block header write failed", kTag);
  EXPECT_EQ(log_->Close(), S_OK);
  EXPECT_CVR_ERROR(log_->Close(), E_CVR_FILE_NOT_OPEN, "File not open", kTag);
  EXPECT_EQ(log_->FlushLogfile(), S_OK);
}

// Create-new refuses a log whose bookmark (when readable) or index file
// exists, keeping nothing open or loaded; create-always removes both.
TEST_F(OpenTest, CompanionsStopCreateNewAndAreRemovedByCreateAlways) {
  auto bookmarks = [&](const std::string& name, uint32_t announced) {  // holding one record: 0, 2, "hi"
    Bytes bmk = Header102("Binary Log Bookmark File", "BMK V 01.02");
    const std::pair<uint64_t, int> fields[] = {{announced, 4}, {0, 8}, {2, 4}, {'h' | 'i' << 8, 2}};
    for (auto [value, n] : fields) PutLE(bmk, value, n);
    Craft(name, bmk);
  };
  bookmarks("a.bmk", 1);
  EnumFileVersion v = FileVersionCVR_V0102;
  EXPECT_CVR_ERROR(OpenLog(log_.get(), dir_.File("a.log"), FileAccessModeWriteCreateNew, &v),
                   E_CVR_FILE_CREATION_FAILS, "Bookmark file already exists", kTag);
  EXPECT_FALSE(FileExists(dir_.File("a.log")));
  EXPECT_EQ(BookmarkCount(), 0) << "the existence test's bookmarks are dropped";

  bookmarks("b.bmk", 2);  // damaged: does not count
  Craft("b.idx", IndexFile(10, 0));
  EXPECT_CVR_ERROR(OpenLog(log_.get(), dir_.File("b.log"), FileAccessModeWriteCreateNew, &v),
                   E_CVR_FILE_CREATION_FAILS, "Index file already exists", kTag);
  EXPECT_EQ(BookmarkCount(), 0);
  EXPECT_FALSE(FileExists(dir_.File("b.log")));
  ComPtr<ILogFile2> other = NewLogFile2();
  EXPECT_EQ(OpenLog(other.get(), dir_.File("b.log"), FileAccessModeWriteCreateAlways, &v), S_OK)
      << "the index file is no longer held";
  EXPECT_FALSE(FileExists(dir_.File("b.idx")) || FileExists(dir_.File("b.bmk")));
  EXPECT_EQ(other->Close(), S_OK);

  bookmarks("c.bmk", 2);
  EXPECT_EQ(OpenLog(log_.get(), dir_.File("c.log"), FileAccessModeWriteCreateNew, &v), S_OK);
  EXPECT_EQ(BookmarkCount(), 0) << "a new log starts without bookmarks";
  EXPECT_EQ(log_->Close(), S_OK);
}

// A complete index gives the counts (bookmarks included); one without a
// sub-version is outdated and gives none. An index counts as complete when
// its count is set; a count still 0 over a log that holds blocks is a first
// pass that never finished (or is still running in another process), and an
// outdated sub-version is rebuilt.
TEST_F(OpenTest, ACompleteIndexGivesTheCountsAndAnOutdatedOrUnfinishedOneDoesNot) {
  const struct { const char* name; uint32_t blocks; uint64_t count; const char* sub; bool complete; } cases[] = {
      {"complete", 3, 250, ".001", true},
      {"outdated", 3, 250, "", false},
      {"unfinished", 3, 0, ".001", false},
      {"complete, empty log", 0, 0, ".001", true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = "idx" + std::to_string(n++), path = WriteLog(name + ".log", c.blocks);
    Craft(name + ".idx", IndexFile(100, c.count, c.sub));
    OpenRead(path);
    // Only a complete index makes its count the total that bounds the bookmarks.
    const LONGLONG bookmark = c.count > 0 ? 250 : 0;
    EXPECT_EQ(log_->InsertBookmark(bookmark, Bstr("one").get()),
              c.complete || bookmark == 0 ? S_OK : HRESULT{E_CVR_MSG_COUNT_EXCEEDED});
    LONGLONG count = 0, resolution = 0;
    EXPECT_EQ(log_->GetIndexedRecCount(&count), S_OK);
    EXPECT_EQ(log_->GetIndexResolution(&resolution), S_OK);
    EXPECT_EQ(count, c.complete ? static_cast<LONGLONG>(c.count) + 1 : 0);
    EXPECT_EQ(resolution, c.complete ? 100 : 0);
    ASSERT_EQ(log_->Close(), S_OK);
    TakeError();
  }
}

TEST_F(OpenTest, NullPointersAndClosedObjectsGetTheirOwnTexts) {
  LONGLONG n = 0;
  ULONG u = 0;
  BYTE b[32] = {};
  LONG eof = 0;
  BSTR s = nullptr;
  const struct { const char* what; std::function<HRESULT()> call; const char* text; } calls[] = {
      {"GetFileSize", [&] { return log_->GetFileSize(nullptr); }, "One ore more GetFileSize method parameters are NULL"},
      {"GetFilePointerPos", [&] { return log_->GetFilePointerPos(nullptr); }, "NULL pointer passed"},
      {"GetDiskBufferSize", [&] { return log_->GetDiskBufferSize(nullptr); }, "GetDiskBufferSize, NULL pointer passed"},
      {"GetIndexedRecCount", [&] { return log_->GetIndexedRecCount(nullptr); }, "GetIndexedRecCount, Null pointer passed"},
      {"GetIndexResolution", [&] { return log_->GetIndexResolution(nullptr); }, "GetIndexResolution, NULL pointer passed"},
      {"GetBookmarkCount", [&] { return log_->GetBookmarkCount(nullptr); }, "GetBookmarkCount, NULL pointer passed"},
      {"BookmarkRead", [&] { return log_->BookmarkRead(nullptr); }, "BookmarkRead, NULL pointer passed"},
      {"GetBookmarkBlockNumber", [&] { return log_->GetBookmarkBlockNumber(0, nullptr); }, "GetBookmarkBlockNumber, NULL pointer passed"},
      {"GetBookmarkIndexNumber", [&] { return log_->GetBookmarkIndexNumber(0, nullptr); }, "GetBookmarkIndexNumber, NULL pointer passed"},
      {"ReadBlockHeader", [&] { return log_->ReadBlockHeader(b, 24, nullptr, &eof); }, "One or more NULL pointers passed"},
      {"ReadBlockData", [&] { return log_->ReadBlockData(nullptr, 4); }, "One ore more ReadBlockData method parameters are NULL"},
      {"WriteBlock", [&] { return log_->WriteBlock(b, 24, nullptr, 0, 0); }, "One or more WriteBlock method parameters are NULL"},
  };
  for (const auto& c : calls) {
    SCOPED_TRACE(c.what);
    EXPECT_CVR_ERROR(c.call(), E_POINTER, c.text, kTag);
  }
  EXPECT_CVR_ERROR(log_->ReadBlockData(b, 4), E_CVR_FILE_NOT_OPEN, "File not open", kTag);
  // Without a file: counts, settings and the bookmark list still answer.
  EXPECT_EQ(log_->GetIndexedRecCount(&n), S_OK);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(log_->GetBookmarkCount(&n), S_OK);
  EXPECT_EQ(log_->GetDiskBufferSize(&u), S_OK);
  EXPECT_CVR_ERROR(log_->BookmarkRead(&s), E_CVR_MSG_COUNT_EXCEEDED, "End of Bookmark list reached", kTag);
}

using BlocksTest = LogFile2Test;

// Identifier, connection and stamp mode of a header.
std::tuple<int, int, int> Kind(const LogBlockHeader& h) { return {h.wBlockID, h.byConnID, h.byTimeStampMode}; }

// Blocks in every stamp mode and of many lengths read back whatever the disk
// buffer, and the file ends with the last block (no zero fill of an
// enciphered generation). Generated stamps (modes 2, 3) replace the caller's
// (their time base: tests/logfile's stamp test).
TEST_F(BlocksTest, EveryWritableGenerationReadsBackWhatWasWrittenWhateverTheBuffer) {
  constexpr uint64_t kCallerStamp = 0x0123456789ABCDEFull;
  const std::string path = dir_.File("round.log");
  std::vector<Record> blocks;
  for (uint8_t mode = 0; mode < 5; ++mode)
    blocks.push_back({MakeHeader(0x100 + mode, mode, mode, kCallerStamp + mode, 0), Pattern(mode * 13, mode)});
  blocks.push_back({MakeHeader(0xFFFF, 0xFE, 2, kCallerStamp, 0), Pattern(1000, 9)});
  for (int i = 0; i < 30; ++i)
    blocks.push_back({MakeHeader(i, 1, 0, i, 0), Pattern((i * 37) % 300, static_cast<uint8_t>(i))});
  for (EnumFileVersion v : {FileVersionCVR_Ve101, FileVersionCVR_Ve102, FileVersionCVR_V0102, FileVersionCVR_Vu102}) {
    for (ULONG buffer : {0u, 100u, 4096u}) {
      SCOPED_TRACE(testing::Message() << "version " << v << ", buffer " << buffer);
      ASSERT_EQ(log_->SetDiskBufferSize(buffer), S_OK);
      OpenWrite(path, v);
      for (const Record& r : blocks) ASSERT_EQ(Write(log_.get(), r.header, r.data), S_OK);
      ASSERT_EQ(log_->Close(), S_OK);
      EXPECT_EQ(OpenRead(path), v);
      std::vector<Record> back = ReadAll(log_.get());
      ASSERT_EQ(log_->Close(), S_OK);
      ASSERT_EQ(back.size(), blocks.size());
      int64_t size = v == FileVersionCVR_Ve101 ? 60 : 128;
      for (size_t i = 0; i < blocks.size(); ++i) {
        const LogBlockHeader &w = blocks[i].header, &r = back[i].header;
        size += 16 + blocks[i].data.size();
        EXPECT_EQ(Kind(r), Kind(w));
        EXPECT_EQ(back[i].data, blocks[i].data);
        if (w.byTimeStampMode != 2 && w.byTimeStampMode != 3) {
          EXPECT_EQ(r.qwTimeStamp, w.qwTimeStamp);
          continue;
        }
        EXPECT_NE(r.qwTimeStamp, w.qwTimeStamp);
        EXPECT_LT(r.qwTimeStamp, 1ull << 62);
      }
      EXPECT_EQ(FileSize(path), size);
    }
  }
}

// A bulk block's header, length + 4 and count go in the log's byte order (big
// only for "u"); it reads back as its messages with the block's stamp, and
// the count moves the message numbers. Messages take a multiple of 4 in "u".
TEST_F(BlocksTest, BulkBlockStoresLengthPlusFourAndCountAndReadsBackAsItsMessages) {
  for (EnumFileVersion v : {FileVersionCVR_V0102, FileVersionCVR_Vu102}) {
    SCOPED_TRACE(v);
    const bool big = v == FileVersionCVR_Vu102;
    std::vector<Bytes> messages;
    Bytes data;
    for (size_t i = 0; i < 7; ++i) {
      messages.push_back(RawRecord(0x1D, 0x10, 0, Pattern(i < 6 ? (big ? 6 : 8) : (big ? 22 : 10), static_cast<uint8_t>(i))));
      PutBytes(data, messages.back());
    }
    ASSERT_EQ(data.size(), 100u);
    const std::string path = dir_.File("bulk.log");
    OpenWrite(path, v);
    ASSERT_EQ(Write(log_.get(), MakeHeader(CVR_ID_MULTI_QUIVOX_MSG, 4, 1, 777, 0), data, 7), S_OK);
    ASSERT_EQ(Write(log_.get(), MakeHeader(0x20, 1, 0, 5, 0), {1, 2}), S_OK);
    ASSERT_EQ(log_->InsertBookmark(7, Bstr("after bulk").get()), S_OK);
    EXPECT_CVR_ERROR(Write(log_.get(), MakeHeader(CVR_ID_MULTI_QUIVOX_MSG, 0, 0, 0, 0), {1, 2}, 0),
                     E_CVR_INVALID_PARAM, "Invalid bulk block message count", kTag);
    ASSERT_EQ(log_->Close(), S_OK);

    const Bytes file = ReadFileBytes(path);
    Bytes header;
    const std::pair<uint64_t, int> fields[] = {{CVR_ID_MULTI_QUIVOX_MSG, 2}, {4, 1}, {1, 1}, {777, 8}, {104, 4}, {7, 4}};
    for (auto [value, n] : fields) big ? PutBE(header, value, n) : PutLE(header, value, n);  // id ... length + 4, count
    EXPECT_EQ(Bytes(file.begin() + 128, file.begin() + 148), header);
    EXPECT_EQ(Bytes(file.begin() + 148, file.begin() + 248), data);

    EXPECT_EQ(OpenRead(path), v);
    std::vector<Record> back = ReadAll(log_.get());
    ASSERT_EQ(back.size(), 9u);
    for (size_t i = 0; i < 7; ++i) {
      EXPECT_EQ(Kind(back[i].header), Kind(MakeHeader(CVR_ID_QUIVOX_MSG, 0xFF, 1, 0, 0)));
      EXPECT_EQ(back[i].header.qwTimeStamp, 777u);
      EXPECT_EQ(back[i].data, messages[i]);
    }
    EXPECT_EQ(back[7].header.wBlockID, CVR_ID_BOOKMARK);
    EXPECT_EQ(back[8].header.wBlockID, 0x20);
    EXPECT_EQ(log_->Close(), S_OK);
  }
}

// Crafted blocks whose count or data do not fit are corrupt, and no data read
// follows them. Other damage: fuzz/log_file2_fuzz.cc.
TEST_F(BlocksTest, BlocksPastTheEndAreCorrupt) {
  const struct { uint16_t id; uint32_t length; Bytes data; const char* text; } cases[] = {
      {CVR_ID_MULTI_QUIVOX_MSG, 4, {0, 0, 0, 0}, "Corrupt file"},
      {0x33, 1000, Pattern(20, 1), "Corrupt Block header, data length exceeds end of file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Bytes file = Header102("Binary Log File", "CVR V 01.02");
    PutLE(file, c.id, 4);  // conn and mode 0
    PutLE(file, 0, 8);
    PutLE(file, c.length, 4);
    PutBytes(file, c.data);
    OpenRead(Craft("corrupt.log", file));
    LogBlockHeader h;
    LONG eof = 0;
    BYTE data[4];
    EXPECT_CVR_ERROR(NextHeader(log_.get(), &h, &eof), E_CVR_BLOCK_HEADER_DATA_CORRUPT, c.text, kTag);
    EXPECT_CVR_ERROR(log_->ReadBlockData(data, 4), E_CVR_BLOCK_HEADER_NOT_READ, "Block header not read", kTag);
    ASSERT_EQ(log_->Close(), S_OK);
  }
}

// A header goes in natural form from 24 bytes of room, packed below (stamp
// at 4, length at 12), cut to the room; a data buffer smaller than the record
// fails and keeps it pending. (Buffers are never overrun: a property of the
// log_file2 fuzz target.)
TEST_F(BlocksTest, ShortHeaderBuffersGetThePackedLayout) {
  const std::string path = dir_.File("room.log");
  OpenWrite(path, FileVersionCVR_V0102);
  ASSERT_EQ(Write(log_.get(), MakeHeader(0x0A0B, 7, 1, 0x1122334455667788ull, 0), Pattern(40, 3)), S_OK);
  ASSERT_EQ(log_->Close(), S_OK);
  OpenRead(path);
  Bytes buffer(16), data(40);
  ULONG returned = 0;
  LONG eof = 0;
  ASSERT_EQ(log_->ReadBlockHeader(buffer.data(), 16, &returned, &eof), S_OK);
  EXPECT_EQ(buffer, (Bytes{0x0B, 0x0A, 7, 1, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 40, 0, 0, 0}));
  EXPECT_CVR_ERROR(log_->ReadBlockData(data.data(), 39), E_CVR_BLOCK_DATA_READ_FAILED, "Block data read failed", kTag);
  ASSERT_EQ(log_->ReadBlockData(data.data(), 40), S_OK);
  EXPECT_EQ(data, Pattern(40, 3));
  EXPECT_CVR_ERROR(log_->ReadBlockData(data.data(), 40), E_CVR_BLOCK_HEADER_NOT_READ, "Block header not read", kTag);
}

// A written bookmark block becomes a bookmark, not a block in the file: its
// comment ends at a zero or at the length, which it keeps. Unread records are
// skipped; the end comes again and again with a zeroed header.
TEST_F(BlocksTest, BookmarkBlockBecomesABookmarkAndUnreadRecordsAreSkipped) {
  const std::string path = dir_.File("bmkblock.log");
  OpenWrite(path, FileVersionCVR_V0102);
  ASSERT_EQ(Write(log_.get(), MakeHeader(1, 0, 0, 0, 0), {1}), S_OK);
  ASSERT_EQ(Write(log_.get(), MakeHeader(CVR_ID_BOOKMARK, 0, 0, 0, 0), {'a', 'b', 'c', 0, 'x', 'y', 'z'}), S_OK);
  ASSERT_EQ(Write(log_.get(), MakeHeader(CVR_ID_BOOKMARK, 0, 0, 0, 0), {'d', 'e', 'f'}), S_OK);
  ASSERT_EQ(Write(log_.get(), MakeHeader(2, 0, 0, 0, 0), {2}), S_OK);
  EXPECT_EQ(BookmarkCount(), 2);
  ASSERT_EQ(log_->Close(), S_OK);
  EXPECT_EQ(FileSize(path), 128 + 2 * 17);

  OpenRead(path);
  std::vector<Record> back = ReadAll(log_.get());
  ASSERT_EQ(back.size(), 4u);
  EXPECT_EQ(Kind(back[1].header), Kind(MakeHeader(CVR_ID_BOOKMARK, 0xFF, 0, 0, 0)));
  EXPECT_EQ(back[1].data, (Bytes{'a', 'b', 'c', 0, 0, 0, 0}));
  EXPECT_EQ(back[2].data, (Bytes{'d', 'e', 'f'}));
  EXPECT_EQ(back[3].header.wBlockID, 2);
  ASSERT_EQ(log_->Close(), S_OK);

  OpenRead(path);
  LogBlockHeader h;
  LONG eof = 0;
  for (const Record& r : back) {
    ASSERT_EQ(NextHeader(log_.get(), &h, &eof), S_OK);
    EXPECT_EQ(h.wBlockID, r.header.wBlockID);
  }
  for (int i = 0; i < 2; ++i) {
    ULONG returned = 7;
    h.wBlockID = 0xEEEE;
    ASSERT_EQ(log_->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &eof), S_OK);
    EXPECT_EQ(std::tuple(eof, returned, h.wBlockID), std::tuple(1, 0u, 0));
  }
}

class BookmarkTest : public LogFile2Test {
 protected:
  // Record ids in reading order; bookmarks as "<comment>".
  std::vector<std::string> Sequence() {
    std::vector<std::string> out;
    for (const Record& r : ReadAll(log_.get()))
      out.push_back(r.header.wBlockID == CVR_ID_BOOKMARK ? "<" + std::string(r.data.begin(), r.data.end()) + ">"
                                                         : std::to_string(r.header.wBlockID));
    return out;
  }
  std::string ReadComment() {
    Bstr text;
    return log_->BookmarkRead(text.out()) == S_OK ? text.utf8() : "failed";
  }
  LONGLONG BlockNumber(LONGLONG bookmark) {
    LONGLONG out = -1;
    return log_->GetBookmarkBlockNumber(bookmark, &out) == S_OK ? out : -2;
  }
};

using V = std::vector<std::string>;
constexpr char kEndOfList[] = "End of Bookmark list reached", kOutOfRange[] = "BookmarkNo out of range",
               kInvalidNumber[] = "Invalid message number parameter value",
               kTotalExceeded[] = "Total Message Count Exceeded";

TEST_F(BookmarkTest, InsertedBookmarksAreNumberedAmongTheMessagesAndReadInPlace) {
  const std::string path = WriteLog("ten.log", 10, true);
  ASSERT_EQ(log_->InsertBookmark(5, Bstr("A").get()), S_OK);
  LONGLONG out = -1;
  EXPECT_TRUE(log_->GetBookmarkIndexNumber(5, &out) == S_OK && out == 0);
  ASSERT_EQ(log_->InsertBookmark(5, Bstr("B").get()), S_OK);  // before A
  EXPECT_EQ(BlockNumber(0), 5);
  EXPECT_EQ(BlockNumber(1), 6);
  ASSERT_EQ(log_->InsertBookmark(12, Bstr("C").get()), S_OK);  // after everything
  EXPECT_EQ(BookmarkCount(), 3);
  EXPECT_CVR_ERROR(log_->InsertBookmark(14, nullptr), E_CVR_MSG_COUNT_EXCEEDED, "MsgNo exceeds record count", kTag);
  EXPECT_CVR_ERROR(log_->InsertBookmark(-1, nullptr), E_CVR_INVALID_PARAM, kInvalidNumber, kTag);
  EXPECT_CVR_ERROR(log_->GetBookmarkIndexNumber(7, &out), E_CVR_MSG_NOT_BOOKMARK,
                   "Requested Message Number was not a Bookmark", kTag);
  EXPECT_CVR_ERROR(log_->GetBookmarkIndexNumber(13, &out), E_CVR_MSG_COUNT_EXCEEDED, kTotalExceeded, kTag);
  EXPECT_CVR_ERROR(log_->GetBookmarkBlockNumber(3, &out), E_CVR_MSG_COUNT_EXCEEDED, kOutOfRange, kTag);
  ASSERT_EQ(log_->Close(), S_OK);
  EXPECT_EQ(BookmarkCount(), 0) << "Close empties the list";

  // Bookmarks that are only read leave their file untouched (a log on
  // read-only media must still close).
  const std::string bmk = dir_.File("ten.bmk");
  const std::filesystem::file_time_type old(
      std::chrono::floor<std::chrono::seconds>(std::filesystem::last_write_time(bmk).time_since_epoch()) -
      std::chrono::hours(24));
  std::filesystem::last_write_time(bmk, old);
  OpenRead(path);
  EXPECT_EQ(Sequence(), (V{"0", "1", "2", "3", "4", "<B>", "<A>", "5", "6", "7", "8", "9", "<C>"}));
  ASSERT_EQ(log_->Close(), S_OK);
  EXPECT_TRUE(std::filesystem::last_write_time(bmk) == old);
}

TEST_F(BookmarkTest, TheCurrentBookmarkIsSelectedReadEditedAndDeleted) {
  const std::string path = WriteLog("cur.log", 3, true);
  for (const char* c : {"one", "two", "three"}) ASSERT_EQ(log_->InsertBookmark(3, Bstr(c).get()), S_OK);
  // Inserted at the same number, each before the last: three, two, one.
  EXPECT_CVR_ERROR(log_->BookmarkRead(Bstr().out()), E_CVR_MSG_COUNT_EXCEEDED, kEndOfList, kTag);
  ASSERT_EQ(log_->BookmarkJump(1), S_OK);
  EXPECT_EQ(ReadComment(), "two");
  EXPECT_EQ(ReadComment(), "one");
  EXPECT_CVR_ERROR(log_->BookmarkRead(Bstr().out()), E_CVR_MSG_COUNT_EXCEEDED, kEndOfList, kTag);
  EXPECT_CVR_ERROR(log_->BookmarkJump(3), E_CVR_MSG_COUNT_EXCEEDED, kOutOfRange, kTag);
  EXPECT_CVR_ERROR(log_->BookmarkDelete(), E_CVR_MSG_COUNT_EXCEEDED, kOutOfRange, kTag);
  EXPECT_CVR_ERROR(log_->BookmarkEdit(nullptr), E_CVR_MSG_COUNT_EXCEEDED, kOutOfRange, kTag);

  ASSERT_EQ(log_->BookmarkJump(0), S_OK);
  ASSERT_EQ(log_->BookmarkEdit(Bstr("THREE").get()), S_OK);  // the next one becomes current
  EXPECT_EQ(ReadComment(), "two");
  ASSERT_EQ(log_->BookmarkJump(1), S_OK);
  ASSERT_EQ(log_->BookmarkDelete(), S_OK);  // "one" becomes current
  EXPECT_EQ(ReadComment(), "one");
  EXPECT_EQ(BlockNumber(1), 4);
  // 3 messages + 2 bookmarks
  EXPECT_CVR_ERROR(log_->InsertBookmark(6, nullptr), E_CVR_MSG_COUNT_EXCEEDED, "MsgNo exceeds record count", kTag);
  ASSERT_EQ(log_->Close(), S_OK);

  OpenRead(path);
  EXPECT_CVR_ERROR(log_->BookmarkRead(Bstr().out()), E_CVR_MSG_COUNT_EXCEEDED, kEndOfList, kTag);
  ASSERT_EQ(log_->BookmarkJump(0), S_OK);
  EXPECT_EQ(ReadComment(), "THREE");
  EXPECT_EQ(Sequence(), (V{"0", "1", "2", "<THREE>", "<one>"}));
}

// The stored length counts the bytes of the comment, so no character is cut.
TEST_F(BookmarkTest, CommentLengthsCountTheBytesHeldSoNoCharacterIsCut) {
  const std::string path = WriteLog("text.log", 1, true);
  const std::string wide = "gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC";  // "grüße €"
  ASSERT_EQ(log_->InsertBookmark(0, Bstr("AB").get()), S_OK);
  ASSERT_EQ(log_->InsertBookmark(2, Bstr(wide).get()), S_OK);
  ASSERT_EQ(log_->Close(), S_OK);  // (the record bytes of each kind: bookmark_store_test.cc)

  OpenRead(path);
  ASSERT_EQ(log_->BookmarkJump(0), S_OK);
  EXPECT_EQ(ReadComment(), "AB");
  const std::string held = ReadComment();
  std::vector<Record> records = ReadAll(log_.get());
  ASSERT_EQ(records.size(), 3u);
#ifndef _WIN32  // the ANSI code page may not hold these characters
  EXPECT_EQ(held, wide);
  EXPECT_EQ(std::string(records[2].data.begin(), records[2].data.end()), wide);
#endif
}

}  // namespace
}  // namespace corvane::test
