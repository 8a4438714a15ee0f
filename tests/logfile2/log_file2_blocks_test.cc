// LogFile2 blocks through ILogFile2: round trips of every writable generation
// across buffer sizes, exact file bytes, bulk blocks, the
// packed header layout, bookmark blocks and damaged blocks.
#include <gtest/gtest.h>

#include "logfile2/log_file2_test_util.h"

namespace corvane::test {
namespace {

using BlocksTest = LogFile2Test;

// Blocks in every stamp mode and of many lengths read back whatever the disk
// buffer, and the file ends with the last block (no zero fill of an
// enciphered generation). Generated stamps (modes 2, 3) replace the caller's.
TEST_F(BlocksTest, EveryWritableGenerationReadsBackWhatWasWrittenWhateverTheBuffer) {
  constexpr uint64_t kCallerStamp = 0x0123456789ABCDEFull;
  const std::string path = dir_.File("round.log");
  for (EnumFileVersion v : {FileVersionCVR_Ve101, FileVersionCVR_Ve102, FileVersionCVR_V0102, FileVersionCVR_Vu102}) {
    for (ULONG buffer : {0u, 100u, 4096u}) {
      SCOPED_TRACE(testing::Message() << "version " << v << ", buffer " << buffer);
      ASSERT_EQ(log_->SetDiskBufferSize(buffer), S_OK);
      std::vector<Record> blocks;
      for (uint8_t mode = 0; mode < 5; ++mode) {
        blocks.push_back({MakeHeader(0x100 + mode, mode, mode, kCallerStamp + mode, 0), Pattern(mode * 13, mode)});
      }
      blocks.push_back({MakeHeader(0xFFFF, 0xFE, 2, kCallerStamp, 0), Pattern(1000, 9)});
      for (int i = 0; i < 30; ++i) {
        blocks.push_back({MakeHeader(static_cast<uint16_t>(i), 1, 0, i, 0), Pattern((i * 37) % 300, static_cast<uint8_t>(i))});
      }
      OpenWrite(path, v);
      for (const Record& r : blocks) ASSERT_EQ(Write(log_.get(), r.header, r.data), S_OK);
      ASSERT_EQ(log_->Close(), S_OK);
      EXPECT_EQ(OpenRead(path), v);
      std::vector<Record> back = ReadAll(log_.get());
      ASSERT_EQ(log_->Close(), S_OK);
      ASSERT_EQ(back.size(), blocks.size());
      int64_t size = v == FileVersionCVR_Ve101 ? 60 : 128;
      for (size_t i = 0; i < blocks.size(); ++i) {
        const LogBlockHeader& w = blocks[i].header;
        const LogBlockHeader& r = back[i].header;
        size += 16 + blocks[i].data.size();
        EXPECT_EQ(r.wBlockID, w.wBlockID);
        EXPECT_EQ(r.byConnID, w.byConnID);
        EXPECT_EQ(r.byTimeStampMode, w.byTimeStampMode);
        EXPECT_EQ(back[i].data, blocks[i].data);
        if (w.byTimeStampMode == 2 || w.byTimeStampMode == 3) {
          EXPECT_NE(r.qwTimeStamp, w.qwTimeStamp);
          EXPECT_LT(r.qwTimeStamp, 1ull << 62);
          if (w.byTimeStampMode == 2 && blocks[i - 1].header.byTimeStampMode == 2) {
            EXPECT_GE(r.qwTimeStamp, back[i - 1].header.qwTimeStamp) << "generated stamps never go back";
          }
        } else {
          EXPECT_EQ(r.qwTimeStamp, w.qwTimeStamp);
        }
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

    Bytes file = ReadFileBytes(path), header;
    auto put = [&](uint64_t value, int n) { big ? PutBE(header, value, n) : PutLE(header, value, n); };
    put(CVR_ID_MULTI_QUIVOX_MSG, 2);
    header.insert(header.end(), {4, 1});  // conn, mode
    put(777, 8);
    put(104, 4);
    put(7, 4);
    EXPECT_EQ(Bytes(file.begin() + 128, file.begin() + 148), header);
    EXPECT_EQ(Bytes(file.begin() + 148, file.begin() + 248), data);

    EXPECT_EQ(OpenRead(path), v);
    std::vector<Record> back = ReadAll(log_.get());
    ASSERT_EQ(back.size(), 9u);
    for (size_t i = 0; i < 7; ++i) {
      EXPECT_EQ(back[i].header.wBlockID, CVR_ID_QUIVOX_MSG);
      EXPECT_EQ(back[i].header.byConnID, 0xFF);
      EXPECT_EQ(back[i].header.byTimeStampMode, 1);
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
    PutLE(file, c.id, 2);
    PutLE(file, 0, 2);  // conn, mode
    PutLE(file, 0, 8);  // stamp
    PutLE(file, c.length, 4);
    PutBytes(file, c.data);
    OpenRead(Craft("corrupt.log", file));
    LogBlockHeader h;
    LONG eof = 0;
    EXPECT_CVR_ERROR(NextHeader(log_.get(), &h, &eof), E_CVR_BLOCK_HEADER_DATA_CORRUPT, c.text, kTag);
    BYTE data[4];
    EXPECT_CVR_ERROR(log_->ReadBlockData(data, sizeof data), E_CVR_BLOCK_HEADER_NOT_READ, "Block header not read",
                     kTag);
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
  Bytes buffer(16);
  ULONG returned = 0;
  LONG eof = 0;
  ASSERT_EQ(log_->ReadBlockHeader(buffer.data(), 16, &returned, &eof), S_OK);
  EXPECT_EQ(buffer, (Bytes{0x0B, 0x0A, 7, 1, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 40, 0, 0, 0}));
  Bytes data(40);
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
  EXPECT_EQ(back[1].header.wBlockID, CVR_ID_BOOKMARK);
  EXPECT_EQ(back[1].header.byConnID, 0xFF);
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
    EXPECT_EQ(eof, 1);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(h.wBlockID, 0);
  }
}

}  // namespace
}  // namespace corvane::test
