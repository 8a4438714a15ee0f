// ILogFile through the public interface: argument and state checks with
// their texts, opening, reading every plain format from crafted bytes, and
// writing e1.01 logs.
#include <corvane/corvane.h>
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "logfile/log_file_test_util.h"
#include "support/com_test_util.h"
#include "support/temp_dir.h"

namespace corvane::test {
namespace {

constexpr char kTag[] = "LOGFILE";
constexpr char kCreationFailed[] = "File creation failed";

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = Create<ILogFile>(CLSID_LogFile, IID_ILogFile);
    ASSERT_TRUE(file_);
  }

  std::string Craft(const std::string& name, const Bytes& bytes) {
    std::string path = dir_.File(name);
    WriteFileBytes(path, bytes);
    return path;
  }

  EnumFileVersion OpenRead(const std::string& path) {
    EnumFileVersion v = FileVersionUnknown;
    EXPECT_EQ(OpenFile(file_.get(), path, FileAccessModeReadOnly, &v), S_OK);
    return v;
  }

  void OpenWrite(const std::string& path) {
    EnumFileVersion v = FileVersionCVR_Ve101;
    ASSERT_EQ(OpenFile(file_.get(), path, FileAccessModeWriteCreateAlways, &v), S_OK);
  }

  // Reads the next header; expects success.
  LogBlockHeader NextHeader(LONG* eof = nullptr) {
    LogBlockHeader h{};
    ULONG returned = 0;
    LONG end = 0;
    EXPECT_EQ(file_->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &end),
              S_OK);
    if (eof) *eof = end;
    return h;
  }

  uint64_t Size() {
    ULONGLONG size = 0;
    EXPECT_EQ(file_->GetFileSize(&size), S_OK);
    return size;
  }
  uint64_t Position() {
    ULONGLONG pos = 0;
    EXPECT_EQ(file_->GetFilePointerPos(&pos), S_OK);
    return pos;
  }

  // A V 01.00 file with blocks of the given data.
  std::string FirstGenerationFile(const std::vector<Bytes>& blocks) {
    Bytes b = TitledHeader("V 01.00");
    for (size_t i = 0; i < blocks.size(); ++i) {
      PutBytes(b, ShortBlock(static_cast<uint16_t>(0x40 + i), 7, 1000 + i, blocks[i]));
    }
    return Craft("v0100.log", b);
  }

  TempDir dir_;
  ComPtr<ILogFile> file_;
};

// ---- Argument and state checks ----

struct Call {
  const char* what;
  std::function<HRESULT(ILogFile*)> call;
  const char* text;
};

TEST_F(LogFileTest, NullPointersAreReportedBeforeTheOpenFileCheck) {
  Bstr name(dir_.File("x.log"));
  EnumFileVersion v = FileVersionCVR_Ve101;
  BYTE buf[64] = {};
  ULONG returned = 0;
  LONG eof = 0;
  const char* open_text = "One ore more Open method parameters are NULL";
  const char* header_text = "One or more ReadBlockHeader method parameters are NULL";
  const char* write_text = "One or more WriteBlock method parameters are NULL";
  const std::vector<Call> calls = {
      {"Open name", [&](ILogFile* f) { return f->Open(nullptr, FileAccessModeReadOnly, &v); },
       open_text},
      {"Open format", [&](ILogFile* f) { return f->Open(name.get(), FileAccessModeReadOnly, nullptr); },
       open_text},
      {"GetFilePointerPos", [&](ILogFile* f) { return f->GetFilePointerPos(nullptr); },
       "GetFilePointerPos method parameter is NULL"},
      {"GetFileSize", [&](ILogFile* f) { return f->GetFileSize(nullptr); },
       "One ore more GetFileSize method parameters are NULL"},
      {"ReadBlockHeader struct",
       [&](ILogFile* f) { return f->ReadBlockHeader(nullptr, 24, &returned, &eof); }, header_text},
      {"ReadBlockHeader count",
       [&](ILogFile* f) { return f->ReadBlockHeader(buf, 24, nullptr, &eof); }, header_text},
      {"ReadBlockHeader eof",
       [&](ILogFile* f) { return f->ReadBlockHeader(buf, 24, &returned, nullptr); }, header_text},
      {"ReadBlockData", [&](ILogFile* f) { return f->ReadBlockData(nullptr, 10); },
       "One ore more ReadBlockData method parameters are NULL"},
      {"WriteBlock header", [&](ILogFile* f) { return f->WriteBlock(nullptr, 24, buf, 1); },
       write_text},
      {"WriteBlock data", [&](ILogFile* f) { return f->WriteBlock(buf, 24, nullptr, 1); },
       write_text},
  };
  for (const Call& c : calls) {
    SCOPED_TRACE(c.what);
    EXPECT_CVR_ERROR(c.call(file_.get()), E_POINTER, c.text, kTag);
  }
  EXPECT_FALSE(FileExists(dir_.File("x.log")));
}

TEST_F(LogFileTest, MethodsOnAClosedObjectReportFileNotOpen) {
  BYTE buf[64] = {};
  ULONG returned = 0;
  LONG eof = 0;
  ULONGLONG value = 0;
  const std::vector<Call> calls = {
      {"GetFilePointerPos", [&](ILogFile* f) { return f->GetFilePointerPos(&value); }, ""},
      {"GetFileSize", [&](ILogFile* f) { return f->GetFileSize(&value); }, ""},
      {"ReadBlockHeader", [&](ILogFile* f) { return f->ReadBlockHeader(buf, 24, &returned, &eof); }, ""},
      {"ReadBlockData", [&](ILogFile* f) { return f->ReadBlockData(buf, 10); }, ""},
      {"Close", [&](ILogFile* f) { return f->Close(); }, ""},
      {"WriteBlock", [&](ILogFile* f) { return f->WriteBlock(buf, 24, buf, 1); }, ""},
  };
  for (const Call& c : calls) {
    SCOPED_TRACE(c.what);
    EXPECT_CVR_ERROR(c.call(file_.get()), E_CVR_FILE_NOT_OPEN, "File not open", kTag);
  }
}

// ---- Open ----

TEST_F(LogFileTest, RefusedModesAndFormatsTouchNoFile) {
  struct Case {
    int mode;
    int format;
    HRESULT code;
  };
  const Case cases[] = {
      {0, FileVersionCVR_Ve101, E_CVR_INVALID_FILE_ACCESS_MODE},
      {4, FileVersionCVR_Ve101, E_CVR_INVALID_FILE_ACCESS_MODE},
      {FileAccessModeWriteCreateNew, FileVersionCVR_V0100, E_CVR_INVALID_FILE_FORMAT_PARAM},
      {FileAccessModeWriteCreateAlways, FileVersionUnknown, E_CVR_INVALID_FILE_FORMAT_PARAM},
      {FileAccessModeWriteCreateAlways, FileVersionCVR_V0102, E_CVR_INVALID_FILE_FORMAT_PARAM},
  };
  const std::string path = dir_.File("refused.log");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode * 100 + c.format);
    EnumFileVersion v = static_cast<EnumFileVersion>(c.format);
    EXPECT_CVR_ERROR(OpenFile(file_.get(), path, static_cast<EnumFileAccessMode>(c.mode), &v),
                     c.code, kCreationFailed, kTag);
    EXPECT_EQ(v, c.format);
    EXPECT_FALSE(FileExists(path));
  }
}

TEST_F(LogFileTest, OpeningAMissingFileForReadingFails) {
  EnumFileVersion v = FileVersionUnknown;
  EXPECT_CVR_ERROR(OpenFile(file_.get(), dir_.File("missing.log"), FileAccessModeReadOnly, &v),
                   E_CVR_FILE_CREATION_FAILS, kCreationFailed, kTag);
}

TEST_F(LogFileTest, CreateNewRefusesAnExistingFileAndLeavesItUntouched) {
  const Bytes before = Pattern(100, 3);
  const std::string path = Craft("existing.log", before);
  EnumFileVersion v = FileVersionCVR_Ve101;
  EXPECT_CVR_ERROR(OpenFile(file_.get(), path, FileAccessModeWriteCreateNew, &v),
                   E_CVR_FILE_CREATION_FAILS, kCreationFailed, kTag);
  EXPECT_EQ(ReadFileBytes(path), before);
}

TEST_F(LogFileTest, UnrecognisedFilesAreRefusedClosedAndKept) {
  Bytes gen102(128, 0);
  const std::string banner = "Tamri Zuduva Deravi\n";
  std::copy(banner.begin(), banner.end(), gen102.begin());
  const std::string tag = "CVR V 01.02\n";
  std::copy(tag.begin(), tag.end(), gen102.begin() + 64);
  gen102[127] = 0x1A;
  Bytes nine_records;
  for (int i = 0; i < 9; ++i) PutBytes(nine_records, RawRecord(0x1D, 0x10, 0, {1, 2, 0x0D}));
  const std::vector<std::pair<const char*, Bytes>> files = {
      {"generation 1.02", gen102},
      {"no line end", Pattern(3000, 0x20)},
      {"nine records", nine_records},
      {"empty", {}},
  };
  for (const auto& [what, bytes] : files) {
    SCOPED_TRACE(what);
    const std::string path = Craft("unknown.log", bytes);
    EnumFileVersion v = FileVersionCVR_Ve101;
    EXPECT_CVR_ERROR(OpenFile(file_.get(), path, FileAccessModeReadOnly, &v),
                     E_CVR_FILE_HEADER_INFO_WRONG_VERSION, kCreationFailed, kTag);
    EXPECT_EQ(v, FileVersionUnknown);
    EXPECT_EQ(ReadFileBytes(path), bytes);
    ULONGLONG size = 0;
    EXPECT_EQ(file_->GetFileSize(&size), E_CVR_FILE_NOT_OPEN);
    TakeError();
  }
}

TEST_F(LogFileTest, SecondOpenFailsAndKeepsTheFirstFileOpen) {
  const std::string path = FirstGenerationFile({{1, 2, 3}});
  OpenRead(path);
  EnumFileVersion v = FileVersionUnknown;
  EXPECT_CVR_ERROR(OpenFile(file_.get(), path, FileAccessModeReadOnly, &v),
                   E_CVR_FILE_ALREADY_OPEN, "File is already open", kTag);
  EXPECT_EQ(NextHeader().dwDataLength, 3u);
  EXPECT_EQ(file_->Close(), S_OK);
  EXPECT_CVR_ERROR(file_->Close(), E_CVR_FILE_NOT_OPEN, "File not open", kTag);
}

// ---- Reading generation V 01.00 ----

TEST_F(LogFileTest, ReadsFirstGenerationBlocksWithStampsInNanoseconds) {
  const std::string path = FirstGenerationFile({Pattern(5, 1), {}, Pattern(300, 2)});
  EXPECT_EQ(OpenRead(path), FileVersionCVR_V0100);
  EXPECT_EQ(Position(), 60u);
  std::vector<ReadBack> blocks = ReadAll(file_.get());
  ASSERT_EQ(blocks.size(), 3u);
  const size_t lengths[] = {5, 0, 300};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(blocks[i].header.wBlockID, 0x40 + i);
    EXPECT_EQ(blocks[i].header.byConnID, 7);
    EXPECT_EQ(blocks[i].header.byTimeStampMode, 1);
    EXPECT_EQ(blocks[i].header.qwTimeStamp, (1000 + i) * 1000000ull);
    EXPECT_EQ(blocks[i].header.dwDataLength, lengths[i]);
  }
  EXPECT_EQ(blocks[0].data, Pattern(5, 1));
  EXPECT_EQ(blocks[2].data, Pattern(300, 2));
}

TEST_F(LogFileTest, EndOfFileGivesAnEmptyHeaderAndAnEmptyDataRead) {
  OpenRead(FirstGenerationFile({}));
  LONG eof = 0;
  LogBlockHeader h = NextHeader(&eof);
  EXPECT_EQ(eof, 1);
  EXPECT_EQ(h.wBlockID, 0);
  EXPECT_EQ(h.byTimeStampMode, 1);  // the 12-byte form always reports mode 1
  EXPECT_EQ(h.qwTimeStamp, 0u);
  EXPECT_EQ(h.dwDataLength, 0u);
  BYTE sentinel = 0xEE;
  EXPECT_EQ(file_->ReadBlockData(&sentinel, 0), S_OK);
  EXPECT_EQ(sentinel, 0xEE);
}

TEST_F(LogFileTest, UnreadDataIsSkippedAndDataWithoutAHeaderIsRefused) {
  OpenRead(FirstGenerationFile({Pattern(40, 1), Pattern(8, 2)}));
  BYTE data[64];
  EXPECT_CVR_ERROR(file_->ReadBlockData(data, 64), E_CVR_BLOCK_HEADER_NOT_READ,
                   "Block header not read", kTag);
  EXPECT_EQ(NextHeader().wBlockID, 0x40);
  LogBlockHeader second = NextHeader();  // skips the 40 data bytes
  EXPECT_EQ(second.wBlockID, 0x41);
  ASSERT_EQ(file_->ReadBlockData(data, 8), S_OK);
  EXPECT_EQ(Bytes(data, data + 8), Pattern(8, 2));
  EXPECT_CVR_ERROR(file_->ReadBlockData(data, 8), E_CVR_BLOCK_HEADER_NOT_READ,
                   "Block header not read", kTag);
}

TEST_F(LogFileTest, AnnouncedLengthBeyondTheFileOrTheLimitIsCorrupt) {
  struct Case {
    const char* what;
    uint32_t announced;
    size_t present;
  };
  const Case cases[] = {
      {"past the end", 11, 10},
      {"above 32768", 32769, 32769},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes b = TitledHeader("V 01.00");
    PutBE(b, 0x42, 2);
    PutBE(b, 0, 2);
    PutBE(b, 0, 4);
    PutBE(b, c.announced, 4);
    PutBytes(b, Bytes(c.present, 0x55));
    OpenRead(Craft("corrupt.log", b));
    LogBlockHeader h{};
    ULONG returned = 0;
    LONG eof = 0;
    EXPECT_CVR_ERROR(file_->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), 24, &returned, &eof),
                     E_CVR_BLOCK_HEADER_DATA_CORRUPT,
                     "Corrupt Block header, data length exceeds end of file", kTag);
    EXPECT_EQ(Position(), 72u);  // behind the header
    BYTE data[1];
    EXPECT_CVR_ERROR(file_->ReadBlockData(data, 1), E_CVR_BLOCK_HEADER_NOT_READ,
                     "Block header not read", kTag);
    EXPECT_EQ(file_->Close(), S_OK);
  }
}

TEST_F(LogFileTest, HeaderIsDeliveredInTheFormTheCallersRoomHolds) {
  const std::string path = FirstGenerationFile({Pattern(3, 9)});
  // Natural form: id, conn, mode, reserved, stamp at 8, length at 16.
  LogBlockHeader expected{};
  expected.wBlockID = 0x40;
  expected.byConnID = 7;
  expected.byTimeStampMode = 1;
  expected.qwTimeStamp = 1000 * 1000000ull;
  expected.dwDataLength = 3;
  uint8_t natural[24];
  std::memcpy(natural, &expected, 24);
  uint8_t packed[16];
  std::memcpy(packed, natural, 4);
  std::memcpy(packed + 4, natural + 8, 8);
  std::memcpy(packed + 12, natural + 16, 4);

  for (ULONG room : {40u, 24u, 23u, 16u, 12u, 1u, 0u}) {
    SCOPED_TRACE(room);
    OpenRead(path);
    uint8_t out[64];
    std::memset(out, 0xEE, sizeof out);
    ULONG returned = 99;
    LONG eof = 1;
    ASSERT_EQ(file_->ReadBlockHeader(out, room, &returned, &eof), S_OK);
    EXPECT_EQ(returned, room);
    EXPECT_EQ(eof, 0);
    const uint8_t* form = room >= 24 ? natural : packed;
    const size_t written = room >= 24 ? 24 : std::min<size_t>(room, 16);
    EXPECT_EQ(Bytes(out, out + written), Bytes(form, form + written));
    for (size_t i = written; i < sizeof out; ++i) ASSERT_EQ(out[i], 0xEE) << i;
    EXPECT_EQ(file_->Close(), S_OK);
  }
}

TEST_F(LogFileTest, DataLargerThanTheCallersBufferStaysPending) {
  OpenRead(FirstGenerationFile({Pattern(10, 4)}));
  NextHeader();
  uint8_t out[16];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_CVR_ERROR(file_->ReadBlockData(out, 9), E_CVR_BLOCK_DATA_READ_FAILED,
                   "Block data read failed", kTag);
  for (uint8_t b : out) ASSERT_EQ(b, 0xEE);
  ASSERT_EQ(file_->ReadBlockData(out, 16), S_OK);
  EXPECT_EQ(Bytes(out, out + 10), Pattern(10, 4));
  EXPECT_EQ(out[10], 0xEE);
}

// ---- Raw message records ----

TEST_F(LogFileTest, RawRecordsGetMadeUpHeadersAndAreDeliveredWhole) {
  struct Rec {
    Bytes bytes;
    uint8_t mode;
    uint64_t stamp;
    uint32_t length;
  };
  const std::vector<Rec> records = {
      // Detection wants a carriage return among the first bytes.
      {RawRecord(0x1D, 0x10, 0, {0x0D}), 0, 0, 8},
      {StampedRecord(0x80, 3686400), 1, 1000000000ull, 20},
      {StampedRecord(0x85, 3686400), 0, 0, 20},
      {StampedRecord(0x86, 3686400), 0, 0, 20},
      {StampedRecord(0x8E, 36864), 1, 10000000ull, 20},
      {StampedRecord(0x8F, 36864), 0, 0, 20},
      {RawRecord(0x1D, 0x10, 0x7B, {0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}), 0, 0, 20},
      {RawRecord(0x1B, 0x10, 0, {0xA, 0xB}), 0, 0, 8},
      {RawRecord(0x1B, 0x10, 0, {0xA, 0xB, 0xC}), 0, 0, 12},
      {RawRecord(0x10, 0xFD, 0, Pattern(100, 1)), 0, 0, 108},
      {RawRecord(0x10, 0xFD, 0, {}), 0, 0, 8},
      // The last record is shorter than the 20-byte look-ahead.
      {RawRecord(0x1D, 0xFD, 0x7C, {1, 2}), 0, 0, 8},
  };
  Bytes file;
  for (const Rec& r : records) PutBytes(file, r.bytes);
  EXPECT_EQ(OpenRead(Craft("records.raw", file)), FileVersionFerrow);
  EXPECT_EQ(Position(), 0u);
  std::vector<ReadBack> blocks = ReadAll(file_.get());
  ASSERT_EQ(blocks.size(), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(blocks[i].header.wBlockID, 0x50);
    EXPECT_EQ(blocks[i].header.byConnID, 0xFF);
    EXPECT_EQ(blocks[i].header.byTimeStampMode, records[i].mode);
    EXPECT_EQ(blocks[i].header.qwTimeStamp, records[i].stamp);
    EXPECT_EQ(blocks[i].header.dwDataLength, records[i].length);
    Bytes padded = records[i].bytes;
    padded.resize(records[i].length, 0);
    EXPECT_EQ(blocks[i].data, padded);
  }
}

TEST_F(LogFileTest, UnreadRawRecordIsSkipped) {
  Bytes file;
  PutBytes(file, RawRecord(0x1D, 0x10, 0, {0x0D}));
  for (int i = 0; i < 10; ++i) PutBytes(file, RawRecord(0x1D, 0x10, 0, Pattern(i + 1, i)));
  OpenRead(Craft("records.raw", file));
  NextHeader();
  NextHeader();
  NextHeader();
  LogBlockHeader fourth = NextHeader();
  EXPECT_EQ(fourth.dwDataLength, 12u);  // 6 + 3 bytes, rounded up
  BYTE data[12] = {};
  ASSERT_EQ(file_->ReadBlockData(data, 12), S_OK);
  EXPECT_EQ(Bytes(data, data + 9), RawRecord(0x1D, 0x10, 0, Pattern(3, 2)));
}

TEST_F(LogFileTest, RawRecordCutInsideItsHeadFailsTheHeaderRead) {
  Bytes file;
  for (int i = 0; i < 10; ++i) PutBytes(file, RawRecord(0x1D, 0x10, 0, {0x0D}));
  PutBytes(file, {0x1D, 0x10, 0});
  OpenRead(Craft("cut.raw", file));
  for (int i = 0; i < 10; ++i) NextHeader();
  LogBlockHeader h{};
  ULONG returned = 0;
  LONG eof = 0;
  EXPECT_CVR_ERROR(file_->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), 24, &returned, &eof),
                   E_CVR_BLOCK_HEADER_READ_FAILED, "Block header read failed", kTag);
}

// ---- Hexadecimal text dumps ----

TEST_F(LogFileTest, ConvertedHexDumpDecodesDigitPairsWhateverStandsBetween) {
  Bytes text;
  PutText(text, ">> 00 01 05 00 00 00 00 07 00 00 00 03\r\n>> AA BB cc\r\n");
  PutText(text, "<< 00 02 06 00 00 00 01 00 00 00 00 02\r\n<<DD-EE>>\r\n");
  EXPECT_EQ(OpenRead(Craft("conv.hex", text)), FileVersionCvrConvHex);
  std::vector<ReadBack> blocks = ReadAll(file_.get());
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].header.wBlockID, 1);
  EXPECT_EQ(blocks[0].header.byConnID, 5);
  EXPECT_EQ(blocks[0].header.byTimeStampMode, 1);
  EXPECT_EQ(blocks[0].header.qwTimeStamp, 7000000u);
  EXPECT_EQ(blocks[0].data, (Bytes{0xAA, 0xBB, 0xCC}));
  EXPECT_EQ(blocks[1].header.qwTimeStamp, 256000000u);
  EXPECT_EQ(blocks[1].data, (Bytes{0xDD, 0xEE}));
}

// A record dump: "1B10" forms three bytes 1B B1 10, the head of the first
// record; the second is stamped; the third is shorter than the look-ahead.
Bytes VantrelText() {
  Bytes text;
  PutText(text, "< 1B10 7C 00 02 AA BB\r\n");
  PutText(text, "< 10 FD 01 7C 00 0E A0 A1 A2 80 A4 A5 00 00 00 00 00 38 40 00\r\n");
  PutText(text, "< 1D 10 01 00 00 01 EE\r\n");
  return text;
}

TEST_F(LogFileTest, RecordHexDumpYieldsRecordsWithOverlappingDigitPairs) {
  EXPECT_EQ(OpenRead(Craft("vantrel.hex", VantrelText())), FileVersionVantrelHex);
  std::vector<ReadBack> blocks = ReadAll(file_.get());
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].header.dwDataLength, 8u);
  EXPECT_EQ(blocks[0].data, (Bytes{0x1B, 0xB1, 0x10, 0x7C, 0x00, 0x02, 0xAA, 0xBB}));
  EXPECT_EQ(blocks[1].header.byTimeStampMode, 1);
  EXPECT_EQ(blocks[1].header.qwTimeStamp, 1000000000u);
  EXPECT_EQ(blocks[1].header.dwDataLength, 20u);
  EXPECT_EQ(blocks[2].header.dwDataLength, 8u);
  EXPECT_EQ(blocks[2].data, (Bytes{0x1D, 0x10, 0x01, 0x00, 0x00, 0x01, 0xEE, 0x00}));
}

TEST_F(LogFileTest, SkippingAnUnreadHexBlockLandsOnTheNextBlock) {
  Bytes conv;
  PutText(conv, ">> 00 01 05 00 00 00 00 07 00 00 00 04\r\n>> 01 02 03 04\r\n");
  PutText(conv, ">> 00 02 06 00 00 00 00 08 00 00 00 01\r\n>> 05\r\n");
  struct Case {
    const char* what;
    Bytes text;
    uint32_t second_length;
    Bytes second_data;
  };
  const Case cases[] = {
      {"converted dump", conv, 1, {0x05}},
      {"record dump", VantrelText(), 20, {0x10, 0xFD, 0x01, 0x7C, 0x00, 0x0E}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenRead(Craft("skip.hex", c.text));
    NextHeader();
    LogBlockHeader second = NextHeader();
    EXPECT_EQ(second.dwDataLength, c.second_length);
    Bytes data(second.dwDataLength + 1, 0);
    ASSERT_EQ(file_->ReadBlockData(data.data(), second.dwDataLength), S_OK);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + c.second_data.size()), c.second_data);
    EXPECT_EQ(file_->Close(), S_OK);
  }
}

// ---- Writing e1.01 ----

TEST_F(LogFileTest, NewLogHoldsOnlyItsHeaderUntilTheBufferFillsOrCloses) {
  const std::string path = dir_.File("new.log");
  EnumFileVersion v = FileVersionCVR_Ve101;
  ASSERT_EQ(OpenFile(file_.get(), path, FileAccessModeWriteCreateNew, &v), S_OK);
  EXPECT_EQ(v, FileVersionCVR_Ve101);
  EXPECT_EQ(Size(), 60u);
  EXPECT_EQ(Position(), 60u);
  ASSERT_EQ(Write(file_.get(), MakeHeader(1, 2, 0, 3, 20), Pattern(20, 1)), S_OK);
  EXPECT_EQ(Size(), 60u);
  EXPECT_EQ(Position(), 60u);
  EXPECT_EQ(FileSize(path), 60);

  ASSERT_EQ(file_->Close(), S_OK);
  Bytes bytes = ReadFileBytes(path);
  ASSERT_EQ(bytes.size(), 60u + 16 + 20);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 28), "KRV Binary Log File V e1.01\n");
  EXPECT_EQ(bytes[54], '\n');
  EXPECT_EQ(Bytes(bytes.begin() + 55, bytes.begin() + 59), Bytes(4, 0));
  EXPECT_EQ(bytes[59], 0x1A);
}

TEST_F(LogFileTest, WrittenBlocksReadBackAndTheLogEndsWithTheLastByteWritten) {
  const std::string path = dir_.File("roundtrip.log");
  OpenWrite(path);
  const uint32_t lengths[] = {0, 1, 15, 16, 100, 111, 112, 113, 300, 1000, 5};
  int64_t total = 60;
  for (size_t i = 0; i < std::size(lengths); ++i) {
    LogBlockHeader h = MakeHeader(static_cast<uint16_t>(0x100 + i), static_cast<uint8_t>(i),
                                  static_cast<uint8_t>(i % 2), 0x0102030405060708ull + i,
                                  lengths[i]);
    ASSERT_EQ(Write(file_.get(), h, Pattern(lengths[i], static_cast<uint8_t>(i))), S_OK);
    total += 16 + lengths[i];
  }
  ASSERT_EQ(file_->Close(), S_OK);
  EXPECT_EQ(FileSize(path), total);  // no zero fill behind the last block

  EXPECT_EQ(OpenRead(path), FileVersionCVR_Ve101);
  std::vector<ReadBack> blocks = ReadAll(file_.get());
  ASSERT_EQ(blocks.size(), std::size(lengths));
  for (size_t i = 0; i < blocks.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(blocks[i].header.wBlockID, 0x100 + i);
    EXPECT_EQ(blocks[i].header.byConnID, i);
    EXPECT_EQ(blocks[i].header.byTimeStampMode, i % 2);
    EXPECT_EQ(blocks[i].header.qwTimeStamp, 0x0102030405060708ull + i);
    EXPECT_EQ(blocks[i].data, Pattern(lengths[i], static_cast<uint8_t>(i)));
  }
  LONG eof = 0;
  LogBlockHeader end = NextHeader(&eof);
  EXPECT_EQ(eof, 1);
  EXPECT_EQ(end.byTimeStampMode, 0);
  EXPECT_EQ(end.dwDataLength, 0u);
}

TEST_F(LogFileTest, ModesTwoAndThreeStampFromTheReferenceTime) {
  // x opens first, y second; x restarts its time base with a mode-3 block,
  // then both write mode-2 blocks. The time since x's restart lies inside
  // y's whole span, so x's last stamp cannot exceed y's.
  const std::string px = dir_.File("x.log");
  const std::string py = dir_.File("y.log");
  OpenWrite(px);
  ComPtr<ILogFile> y = Create<ILogFile>(CLSID_LogFile, IID_ILogFile);
  EnumFileVersion v = FileVersionCVR_Ve101;
  ASSERT_EQ(OpenFile(y.get(), py, FileAccessModeWriteCreateAlways, &v), S_OK);
  const uint64_t given = ~0ull;
  ASSERT_EQ(Write(file_.get(), MakeHeader(1, 0, 2, given, 0), {}), S_OK);
  ASSERT_EQ(Write(file_.get(), MakeHeader(2, 0, 3, given, 0), {}), S_OK);
  ASSERT_EQ(Write(file_.get(), MakeHeader(3, 0, 2, given, 0), {}), S_OK);
  ASSERT_EQ(Write(y.get(), MakeHeader(4, 0, 2, given, 0), {}), S_OK);
  ASSERT_EQ(file_->Close(), S_OK);
  ASSERT_EQ(y->Close(), S_OK);

  OpenRead(px);
  std::vector<ReadBack> xs = ReadAll(file_.get());
  ASSERT_EQ(file_->Close(), S_OK);
  OpenRead(py);
  std::vector<ReadBack> ys = ReadAll(file_.get());
  ASSERT_EQ(xs.size(), 3u);
  ASSERT_EQ(ys.size(), 1u);
  EXPECT_EQ(xs[0].header.byTimeStampMode, 2);  // the mode byte is stored as given
  EXPECT_EQ(xs[1].header.byTimeStampMode, 3);
  for (const ReadBack& b : xs) EXPECT_NE(b.header.qwTimeStamp, given);
  EXPECT_LE(xs[0].header.qwTimeStamp, xs[1].header.qwTimeStamp);
  EXPECT_LE(xs[2].header.qwTimeStamp, ys[0].header.qwTimeStamp);
}

TEST_F(LogFileTest, ALogOpenedForReadingTakesNoBlocks) {
  const std::string path = dir_.File("written.log");
  OpenWrite(path);
  ASSERT_EQ(Write(file_.get(), MakeHeader(1, 0, 0, 0, 4), Pattern(4, 1)), S_OK);
  ASSERT_EQ(file_->Close(), S_OK);
  const Bytes before = ReadFileBytes(path);

  OpenRead(path);
  EXPECT_CVR_ERROR(Write(file_.get(), MakeHeader(1, 0, 0, 0, 4), Pattern(4, 1)),
                   E_CVR_BLOCK_HEADER_WRITE_FAILED, "Block header write failed", kTag);
  EXPECT_EQ(file_->Close(), S_OK);
  EXPECT_EQ(ReadFileBytes(path), before);
}

}  // namespace
}  // namespace corvane::test
