// LogFile2 writing and reading of blocks through ILogFile2: round trips of
// every writable generation across buffer sizes, exact file bytes, bulk
// blocks, the disk buffer, caller buffers and damaged blocks.
#include <gtest/gtest.h>

#include "logfile2/log_file2_test_util.h"

namespace corvane::test {
namespace {

class BlocksTest : public LogFile2Test {
 protected:
  // Writes `blocks` into a new log of `v` and reads them back.
  std::vector<Record> RoundTrip(EnumFileVersion v, const std::vector<Record>& blocks) {
    const std::string path = dir_.File("round.log");
    OpenWrite(path, v);
    for (const Record& r : blocks) EXPECT_EQ(Write(log_.get(), r.header, r.data), S_OK);
    EXPECT_EQ(log_->Close(), S_OK);
    EXPECT_EQ(OpenRead(path), v);
    std::vector<Record> back = ReadAll(log_.get());
    EXPECT_EQ(log_->Close(), S_OK);
    return back;
  }
};

constexpr EnumFileVersion kWritable[] = {FileVersionCVR_Ve101, FileVersionCVR_Ve102,
                                         FileVersionCVR_V0102, FileVersionCVR_Vu102};

// Blocks in every stamp mode and of many lengths read back whatever the disk
// buffer, and the file ends with the last block (no phantom blocks, no zero
// fill of an enciphered generation).
TEST_F(BlocksTest, EveryWritableGenerationReadsBackWhatWasWrittenWhateverTheBuffer) {
  constexpr uint64_t kCallerStamp = 0x0123456789ABCDEFull;
  for (EnumFileVersion v : kWritable) {
    for (ULONG buffer : {0u, 100u, 128u, 4096u}) {
      SCOPED_TRACE(testing::Message() << "version " << v << ", buffer " << buffer);
      ASSERT_EQ(log_->SetDiskBufferSize(buffer), S_OK);
      std::vector<Record> blocks;
      for (uint8_t mode = 0; mode < 5; ++mode) {
        blocks.push_back(
            {MakeHeader(0x100 + mode, mode, mode, kCallerStamp + mode, 0), Pattern(mode * 13, mode)});
      }
      blocks.push_back({MakeHeader(0xFFFF, 0xFE, 2, kCallerStamp, 0), Pattern(1000, 9)});
      for (int i = 0; i < 30; ++i) {
        blocks.push_back({MakeHeader(static_cast<uint16_t>(i), 1, 0, i, 0),
                          Pattern((i * 37) % 300, static_cast<uint8_t>(i))});
      }
      std::vector<Record> back = RoundTrip(v, blocks);
      ASSERT_EQ(back.size(), blocks.size());
      int64_t size = v == FileVersionCVR_Ve101 ? 60 : 128;
      uint64_t last_generated = 0;
      for (size_t i = 0; i < blocks.size(); ++i) {
        const LogBlockHeader& w = blocks[i].header;
        const LogBlockHeader& r = back[i].header;
        size += 16 + blocks[i].data.size();
        EXPECT_EQ(r.wBlockID, w.wBlockID);
        EXPECT_EQ(r.byConnID, w.byConnID);
        EXPECT_EQ(r.byTimeStampMode, w.byTimeStampMode);  // stored as given
        EXPECT_EQ(back[i].data, blocks[i].data);
        if (w.byTimeStampMode == 2 || w.byTimeStampMode == 3) {
          EXPECT_NE(r.qwTimeStamp, w.qwTimeStamp) << "a generated stamp replaces the caller's";
          EXPECT_LT(r.qwTimeStamp, 1ull << 62);
          if (w.byTimeStampMode == 2 && i > 0 && blocks[i - 1].header.byTimeStampMode == 2) {
            EXPECT_GE(r.qwTimeStamp, last_generated);
          }
          last_generated = r.qwTimeStamp;
        } else {
          EXPECT_EQ(r.qwTimeStamp, w.qwTimeStamp);
        }
      }
      EXPECT_EQ(FileSize(dir_.File("round.log")), size);
    }
  }
}

TEST_F(BlocksTest, HeaderBytesFollowTheGenerationsByteOrder) {
  struct Case {
    EnumFileVersion v;
    Bytes header;
  };
  const Case cases[] = {
      {FileVersionCVR_Vu102, {1, 2, 3, 0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 5}},
      {FileVersionCVR_V0102, {2, 1, 3, 0, 8, 7, 6, 5, 4, 3, 2, 1, 5, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.v);
    const std::string path = dir_.File("bytes.log");
    OpenWrite(path, c.v);
    const Bytes data = {0xA, 0xB, 0xC, 0xD, 0xE};
    ASSERT_EQ(Write(log_.get(), MakeHeader(0x0102, 3, 0, 0x0102030405060708ull, 0), data), S_OK);
    ASSERT_EQ(log_->Close(), S_OK);
    Bytes file = ReadFileBytes(path);
    ASSERT_EQ(file.size(), 128u + 16 + 5);
    EXPECT_EQ(Bytes(file.begin() + 128, file.begin() + 144), c.header);
    EXPECT_EQ(Bytes(file.begin() + 144, file.end()), data);
  }
}

// Seven messages in 100 bytes: each occupies 6 + payload in generation 8,
// a multiple of 4 in generation 9.
Bytes BulkData(EnumFileVersion v, std::vector<Bytes>* messages) {
  const std::vector<size_t> payloads = v == FileVersionCVR_V0102 ? std::vector<size_t>{8, 8, 8, 8, 8, 8, 10}
                                                                 : std::vector<size_t>{6, 6, 6, 6, 6, 6, 22};
  Bytes data;
  for (size_t i = 0; i < payloads.size(); ++i) {
    Bytes m = RawRecord(0x1D, 0x10, 0, Pattern(payloads[i], static_cast<uint8_t>(i)));
    messages->push_back(m);
    PutBytes(data, m);
  }
  return data;
}

TEST_F(BlocksTest, BulkBlockStoresLengthPlusFourAndCountAndReadsBackAsItsMessages) {
  for (EnumFileVersion v : {FileVersionCVR_V0102, FileVersionCVR_Vu102}) {
    SCOPED_TRACE(v);
    std::vector<Bytes> messages;
    Bytes data = BulkData(v, &messages);
    ASSERT_EQ(data.size(), 100u);
    const std::string path = dir_.File("bulk.log");
    OpenWrite(path, v);
    ASSERT_EQ(Write(log_.get(), MakeHeader(CVR_ID_MULTI_QUIVOX_MSG, 4, 1, 777, 0), data, 7), S_OK);
    ASSERT_EQ(Write(log_.get(), MakeHeader(0x20, 1, 0, 5, 0), {1, 2}), S_OK);
    // The count moved the message numbers by 7: a bookmark at 7 stands
    // between the bulk block and the next block.
    ASSERT_EQ(log_->InsertBookmark(7, Bstr("after bulk").get()), S_OK);
    ASSERT_EQ(log_->Close(), S_OK);

    Bytes file = ReadFileBytes(path);
    const bool big = v == FileVersionCVR_Vu102;
    Bytes length, count;
    big ? PutBE(length, 104, 4) : PutLE(length, 104, 4);
    big ? PutBE(count, 7, 4) : PutLE(count, 7, 4);
    EXPECT_EQ(Bytes(file.begin() + 140, file.begin() + 144), length);
    EXPECT_EQ(Bytes(file.begin() + 144, file.begin() + 148), count);
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

// A bulk block without messages is refused; crafted blocks whose count or
// data do not fit the file are corrupt, and no data read follows them.
TEST_F(BlocksTest, BulkBlockWithoutMessagesIsRefusedAndBlocksPastTheEndAreCorrupt) {
  OpenWrite(dir_.File("zero.log"), FileVersionCVR_V0102);
  EXPECT_CVR_ERROR(Write(log_.get(), MakeHeader(CVR_ID_MULTI_QUIVOX_MSG, 0, 0, 0, 0), {1, 2}, 0),
                   E_CVR_INVALID_PARAM, "Invalid bulk block message count", kTag);
  ASSERT_EQ(log_->Close(), S_OK);

  struct Case {
    const char* what;
    uint16_t id;
    uint32_t length;
    Bytes data;
    const char* text;
  };
  const Case cases[] = {
      {"bulk count 0", CVR_ID_MULTI_QUIVOX_MSG, 4, {0, 0, 0, 0}, "Corrupt file"},
      {"bulk count cut short", CVR_ID_MULTI_QUIVOX_MSG, 2, {1, 0}, "Corrupt file"},
      {"data length past the end", 0x33, 1000, Pattern(20, 1),
       "Corrupt Block header, data length exceeds end of file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
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
    EXPECT_CVR_ERROR(log_->ReadBlockData(data, sizeof data), E_CVR_BLOCK_HEADER_NOT_READ,
                     "Block header not read", kTag);
    ASSERT_EQ(log_->Close(), S_OK);
  }
}

TEST_F(BlocksTest, BufferedBytesAreNotCountedUntilClose) {
  const std::string path = dir_.File("buffered.log");
  for (ULONG buffer : {4096u, 0u}) {
    SCOPED_TRACE(buffer);
    ASSERT_EQ(log_->SetDiskBufferSize(buffer), S_OK);
    OpenWrite(path, FileVersionCVR_V0102);
    ASSERT_EQ(Write(log_.get(), MakeHeader(1, 1, 0, 0, 0), Pattern(100, 1)), S_OK);
    LONGLONG size = 0, position = 0;
    EXPECT_EQ(log_->GetFileSize(&size), S_OK);
    EXPECT_EQ(log_->GetFilePointerPos(&position), S_OK);
    EXPECT_EQ(size, buffer ? 128 : 128 + 116);
    EXPECT_EQ(position, size);
    ASSERT_EQ(log_->Close(), S_OK);
    EXPECT_EQ(FileSize(path), 128 + 116);
  }
}

TEST_F(BlocksTest, HeadersAndDataNeverOverrunTheCallersBuffers) {
  const std::string path = dir_.File("room.log");
  OpenWrite(path, FileVersionCVR_V0102);
  ASSERT_EQ(Write(log_.get(), MakeHeader(0x0A0B, 7, 1, 0x1122334455667788ull, 0), Pattern(40, 3)), S_OK);
  ASSERT_EQ(log_->Close(), S_OK);

  struct Case {
    ULONG room;
    size_t written;  // bytes of the buffer the method may touch
  };
  for (const Case& c : {Case{24, 24}, Case{16, 16}, Case{8, 8}, Case{0, 0}}) {
    SCOPED_TRACE(c.room);
    OpenRead(path);
    Bytes buffer(32, 0xCC);
    ULONG returned = 0;
    LONG eof = 0;
    ASSERT_EQ(log_->ReadBlockHeader(buffer.data(), c.room, &returned, &eof), S_OK);
    EXPECT_EQ(returned, c.room);
    for (size_t i = c.written; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xCC) << i;
    if (c.room == 16) {  // packed: stamp at 4..11, length at 12..15
      uint64_t stamp;
      uint32_t length;
      std::memcpy(&stamp, buffer.data() + 4, 8);
      std::memcpy(&length, buffer.data() + 12, 4);
      EXPECT_EQ(stamp, 0x1122334455667788ull);
      EXPECT_EQ(length, 40u);
    }
    // A data buffer smaller than the record fails and keeps it pending.
    Bytes data(41, 0xCC);
    EXPECT_CVR_ERROR(log_->ReadBlockData(data.data(), 39), E_CVR_BLOCK_DATA_READ_FAILED,
                     "Block data read failed", kTag);
    EXPECT_EQ(data, Bytes(41, 0xCC));
    ASSERT_EQ(log_->ReadBlockData(data.data(), 40), S_OK);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 40), Pattern(40, 3));
    EXPECT_EQ(data[40], 0xCC);
    EXPECT_CVR_ERROR(log_->ReadBlockData(data.data(), 40), E_CVR_BLOCK_HEADER_NOT_READ,
                     "Block header not read", kTag);
    ASSERT_EQ(log_->Close(), S_OK);
  }
}

TEST_F(BlocksTest, BookmarkBlockBecomesABookmarkAndUnreadRecordsAreSkipped) {
  const std::string path = dir_.File("bmkblock.log");
  OpenWrite(path, FileVersionCVR_V0102);
  ASSERT_EQ(Write(log_.get(), MakeHeader(1, 0, 0, 0, 0), {1}), S_OK);
  // The comment ends at its zero; the stored length is the header's.
  Bytes with_zero = {'a', 'b', 'c', 0, 'x', 'y', 'z'};
  ASSERT_EQ(Write(log_.get(), MakeHeader(CVR_ID_BOOKMARK, 0, 0, 0, 0), with_zero), S_OK);
  // No terminator within the length: the comment stops at the length (the
  // buffer holds exactly these bytes).
  Bytes unterminated = {'d', 'e', 'f'};
  ASSERT_EQ(Write(log_.get(), MakeHeader(CVR_ID_BOOKMARK, 0, 0, 0, 0), unterminated), S_OK);
  ASSERT_EQ(Write(log_.get(), MakeHeader(2, 0, 0, 0, 0), {2}), S_OK);
  EXPECT_EQ(BookmarkCount(), 2);
  ASSERT_EQ(log_->Close(), S_OK);
  EXPECT_EQ(FileSize(path), 128 + 2 * 17);

  OpenRead(path);
  std::vector<Record> back = ReadAll(log_.get());
  ASSERT_EQ(back.size(), 4u);
  EXPECT_EQ(back[1].header.wBlockID, CVR_ID_BOOKMARK);
  EXPECT_EQ(back[1].header.byConnID, 0xFF);
  EXPECT_EQ(back[1].header.qwTimeStamp, 0u);
  EXPECT_EQ(back[1].data, (Bytes{'a', 'b', 'c', 0, 0, 0, 0}));
  EXPECT_EQ(back[2].data, (Bytes{'d', 'e', 'f'}));
  EXPECT_EQ(back[3].header.wBlockID, 2);
  ASSERT_EQ(log_->Close(), S_OK);

  // Unread records are skipped; the end comes again and again with a zeroed header.
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
