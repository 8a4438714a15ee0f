// LogFile2 reading the older and foreign formats: e1.01 written by the
// LogFile object, raw message records and both hexadecimal dumps, crafted
// byte by byte (V 01.00: log_file2_index_test).
#include <gtest/gtest.h>

#include "logfile2/log_file2_test_util.h"

namespace corvane::test {
namespace {

using FormatsTest = LogFile2Test;

TEST_F(FormatsTest, EncipheredLogOfTheLogFileObjectReadsBlockForBlock) {
  const std::string path = dir_.File("e101.log");
  ComPtr<ILogFile> writer = Create<ILogFile>(CLSID_LogFile, IID_ILogFile);
  ASSERT_TRUE(writer);
  Bstr name(path);
  EnumFileVersion v = FileVersionCVR_Ve101;
  ASSERT_EQ(writer->Open(name.get(), FileAccessModeWriteCreateAlways, &v), S_OK);
  std::vector<Record> blocks;
  for (int i = 0; i < 25; ++i) {
    Record r{MakeHeader(static_cast<uint16_t>(i * 3), 4, 1, 1000u * i, 0),
             Pattern((i * 29) % 200, static_cast<uint8_t>(i))};
    r.header.dwDataLength = static_cast<ULONG>(r.data.size());
    Bytes data = r.data;
    data.push_back(0);  // a buffer even for 0 bytes
    ASSERT_EQ(writer->WriteBlock(reinterpret_cast<BYTE*>(&r.header), sizeof r.header, data.data(),
                                 r.header.dwDataLength),
              S_OK);
    blocks.push_back(std::move(r));
  }
  ASSERT_EQ(writer->Close(), S_OK);

  EXPECT_EQ(OpenRead(path), FileVersionCVR_Ve101);
  std::vector<Record> back = ReadAll(log_.get());
  ASSERT_EQ(back.size(), blocks.size());
  for (size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_EQ(back[i].header.wBlockID, blocks[i].header.wBlockID);
    EXPECT_EQ(back[i].header.qwTimeStamp, blocks[i].header.qwTimeStamp);
    EXPECT_EQ(back[i].data, blocks[i].data);
  }
}

TEST_F(FormatsTest, RawRecordsAreDeliveredWithTheirOwnLengthAndStamp) {
  Bytes file;
  std::vector<Bytes> records;
  // Detection reads the text up to a carriage return: the first payload has one.
  records.push_back(RawRecord(0x1D, 0x10, 0, {0x0D}));
  for (int i = 1; i < 10; ++i) records.push_back(RawRecord(0x1D, 0x10, 0, Pattern(i % 4, 0x30)));
  records.push_back(StampedRecord(0x80, 3686400));  // one second of ticks
  records.push_back(RawRecord(0x1B, 0xFD, 0x7C, {0, 0, 0, 0x85, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  for (const Bytes& r : records) PutBytes(file, r);
  EXPECT_EQ(OpenRead(Craft("raw.bin", file)), FileVersionFerrow);

  std::vector<Record> back = ReadAll(log_.get());
  ASSERT_EQ(back.size(), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(back[i].header.wBlockID, CVR_ID_QUIVOX_MSG);
    EXPECT_EQ(back[i].header.byConnID, 0xFF);
    // Records lie back to back: the length is the record's own, unpadded.
    EXPECT_EQ(back[i].header.dwDataLength, records[i].size());
    EXPECT_EQ(back[i].data, records[i]);
  }
  EXPECT_EQ(back[10].header.byTimeStampMode, 1);
  EXPECT_EQ(back[10].header.qwTimeStamp, 1000000000u);
  EXPECT_EQ(back[11].header.byTimeStampMode, 0) << "kind 0x85 carries no stamp";

  // Skipping unread records lands on the next record, too.
  ASSERT_EQ(log_->Close(), S_OK);
  OpenRead(dir_.File("raw.bin"));
  LogBlockHeader h;
  LONG eof = 0;
  for (const Bytes& r : records) {
    ASSERT_EQ(NextHeader(log_.get(), &h, &eof), S_OK);
    EXPECT_EQ(h.dwDataLength, r.size());
  }
  ASSERT_EQ(NextHeader(log_.get(), &h, &eof), S_OK);
  EXPECT_EQ(eof, 1);
}

TEST_F(FormatsTest, HexDumpsDecodeHeadersAndDataAndSkipByDecoding) {
  Bytes conv;
  PutText(conv, ">> 00 01 05 00 00 00 00 07 00 00 00 03\r\n>> AA BB cc\r\n");
  PutText(conv, "<< 00 02 06 00 00 00 01 00 00 00 00 02\r\n<<DD-EE>>\r\n");
  EXPECT_EQ(OpenRead(Craft("conv.hex", conv)), FileVersionCvrConvHex);
  std::vector<Record> back = ReadAll(log_.get());
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].header.byConnID, 5);
  EXPECT_EQ(back[0].header.qwTimeStamp, 7000000u);
  EXPECT_EQ(back[0].data, (Bytes{0xAA, 0xBB, 0xCC}));
  EXPECT_EQ(back[1].header.qwTimeStamp, 256000000u);
  EXPECT_EQ(back[1].data, (Bytes{0xDD, 0xEE}));
  ASSERT_EQ(log_->Close(), S_OK);

  Bytes records;
  PutText(records, "< 1B10 7C 00 02 AA BB\r\n");
  PutText(records, "< 10 FD 01 7C 00 0E A0 A1 A2 80 A4 A5 00 00 00 00 00 38 40 00\r\n");
  PutText(records, "< 1D 10 01 00 00 01 EE\r\n");
  const std::string path = Craft("records.hex", records);
  EXPECT_EQ(OpenRead(path), FileVersionVantrelHex);
  back = ReadAll(log_.get());
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[0].data, (Bytes{0x1B, 0xB1, 0x10, 0x7C, 0x00, 0x02, 0xAA, 0xBB}));
  EXPECT_EQ(back[1].header.qwTimeStamp, 1000000000u);
  EXPECT_EQ(back[1].header.dwDataLength, 20u);
  EXPECT_EQ(back[2].data, (Bytes{0x1D, 0x10, 0x01, 0x00, 0x00, 0x01, 0xEE}));
  ASSERT_EQ(log_->Close(), S_OK);

  OpenRead(path);
  LogBlockHeader h;
  LONG eof = 0;
  ASSERT_EQ(NextHeader(log_.get(), &h, &eof), S_OK);
  ASSERT_EQ(NextHeader(log_.get(), &h, &eof), S_OK);  // the first record skipped
  Bytes data(20);
  ASSERT_EQ(log_->ReadBlockData(data.data(), 20), S_OK);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 4), (Bytes{0x10, 0xFD, 0x01, 0x7C}));
}

}  // namespace
}  // namespace corvane::test
