// ILogFile through the public interface: checks and their texts, opening,
// reading every plain format from crafted bytes, writing e1.01 logs.
#include <corvane/corvane.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>

#include "logfile/log_file_test_util.h"

namespace corvane::test {
namespace {

constexpr char kCreationFailed[] = "File creation failed";

class LogFileApiTest : public LogFileTest {
 protected:
  uint64_t Position() {
    ULONGLONG pos = 0;
    EXPECT_EQ(file_->GetFilePointerPos(&pos), S_OK);
    return pos;
  }
  // A V 01.00 file with blocks 0x40, 0x41, ... of the given data.
  std::string FirstGenerationFile(const std::vector<Bytes>& blocks) {
    Bytes b = TitledHeader("V 01.00");
    for (size_t i = 0; i < blocks.size(); ++i) {
      PutBytes(b, ShortBlock(static_cast<uint16_t>(0x40 + i), 7, 1000 + i, blocks[i]));
    }
    return Craft("v0100.log", b);
  }
};

TEST_F(LogFileApiTest, NullPointersComeBeforeTheOpenFileCheckAndEachCallHasItsText) {
  Bstr name(dir_.File("x.log"));
  EnumFileVersion v = FileVersionCVR_Ve101;
  BYTE buf[64] = {};
  ULONG returned = 0;
  LONG eof = 0;
  ULONGLONG value = 0;
  const HRESULT kNull = E_POINTER, kClosed = E_CVR_FILE_NOT_OPEN;
  ILogFile* f = file_.get();
  struct Call {
    const char* what;
    std::function<HRESULT()> call;
    HRESULT code;
    const char* text;
  };
  const Call calls[] = {
      {"Open name", [&] { return f->Open(nullptr, FileAccessModeReadOnly, &v); }, kNull,
       "One ore more Open method parameters are NULL"},
      {"GetFilePointerPos", [&] { return f->GetFilePointerPos(nullptr); }, kNull,
       "GetFilePointerPos method parameter is NULL"},
      {"GetFileSize", [&] { return f->GetFileSize(nullptr); }, kNull,
       "One ore more GetFileSize method parameters are NULL"},
      {"ReadBlockHeader", [&] { return f->ReadBlockHeader(buf, 24, nullptr, &eof); }, kNull,
       "One or more ReadBlockHeader method parameters are NULL"},
      {"ReadBlockData", [&] { return f->ReadBlockData(nullptr, 10); }, kNull,
       "One ore more ReadBlockData method parameters are NULL"},
      {"WriteBlock", [&] { return f->WriteBlock(buf, 24, nullptr, 1); }, kNull,
       "One or more WriteBlock method parameters are NULL"},
      {"closed GetFilePointerPos", [&] { return f->GetFilePointerPos(&value); }, kClosed, "File not open"},
      {"closed GetFileSize", [&] { return f->GetFileSize(&value); }, kClosed, "File not open"},
      {"closed ReadBlockHeader", [&] { return f->ReadBlockHeader(buf, 24, &returned, &eof); }, kClosed, "File not open"},
      {"closed ReadBlockData", [&] { return f->ReadBlockData(buf, 10); }, kClosed, "File not open"},
      {"closed Close", [&] { return f->Close(); }, kClosed, "File not open"},
      {"closed WriteBlock", [&] { return f->WriteBlock(buf, 24, buf, 1); }, kClosed, "File not open"},
  };
  for (const Call& c : calls) {
    SCOPED_TRACE(c.what);
    EXPECT_CVR_ERROR(c.call(), c.code, c.text, kTag);
  }
  EXPECT_FALSE(FileExists(dir_.File("x.log")));
}

// Refused opens leave the file as it was (or absent) and the object closed.
TEST_F(LogFileApiTest, RefusedOpensTouchNoFileAndLeaveTheObjectClosed) {
  Bytes gen102(128, 0);
  const std::string banner = "Tamri Zuduva Deravi\n", tag = "CVR V 01.02\n";
  std::copy(banner.begin(), banner.end(), gen102.begin());
  std::copy(tag.begin(), tag.end(), gen102.begin() + 64);
  gen102[127] = 0x1A;
  Bytes nine_records;
  for (int i = 0; i < 9; ++i) PutBytes(nine_records, RawRecord(0x1D, 0x10, 0, {1, 2, 0x0D}));
  const Bytes other = Pattern(100, 3);
  constexpr int kUnchecked = -1;
  struct Case {
    const char* what;
    int mode, format;
    const Bytes* content;  // null: no file
    HRESULT code;
    int format_after;
  };
  const int kRead = FileAccessModeReadOnly, kNew = FileAccessModeWriteCreateNew, kE101 = FileVersionCVR_Ve101;
  const HRESULT kMode = E_CVR_INVALID_FILE_ACCESS_MODE, kFormat = E_CVR_INVALID_FILE_FORMAT_PARAM,
                kFails = E_CVR_FILE_CREATION_FAILS, kUnknown = E_CVR_FILE_HEADER_INFO_WRONG_VERSION;
  const Case cases[] = {
      {"mode 0", 0, kE101, nullptr, kMode, kE101},
      {"write V 01.00", kNew, FileVersionCVR_V0100, nullptr, kFormat, FileVersionCVR_V0100},
      {"read a missing file", kRead, FileVersionUnknown, nullptr, kFails, kUnchecked},
      {"create new on a file", kNew, kE101, &other, kFails, kUnchecked},
      {"generation 1.02", kRead, kE101, &gen102, kUnknown, FileVersionUnknown},
      {"nine records", kRead, kE101, &nine_records, kUnknown, FileVersionUnknown},
  };
  const std::string path = dir_.File("refused.log");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(path);
    if (c.content) WriteFileBytes(path, *c.content);
    EnumFileVersion v = static_cast<EnumFileVersion>(c.format);
    EXPECT_CVR_ERROR(OpenFile(file_.get(), path, static_cast<EnumFileAccessMode>(c.mode), &v), c.code,
                     kCreationFailed, kTag);
    if (c.format_after != kUnchecked) {
      EXPECT_EQ(v, c.format_after);
    }
    if (c.content) {
      EXPECT_EQ(ReadFileBytes(path), *c.content);
    } else {
      EXPECT_FALSE(FileExists(path));
    }
    ULONGLONG size = 0;
    EXPECT_EQ(file_->GetFileSize(&size), E_CVR_FILE_NOT_OPEN);
    TakeError();
  }
}

// ---- Reading ----

// A second Open fails and keeps the first file open.
TEST_F(LogFileApiTest, ReadsFirstGenerationBlocksWithStampsInNanosecondsUpToAnEmptyEnd) {
  const std::vector<Bytes> datas = {Pattern(5, 1), {}, Pattern(300, 2)};
  const std::string path = FirstGenerationFile(datas);
  EXPECT_EQ(OpenRead(path), FileVersionCVR_V0100);
  EnumFileVersion v = FileVersionUnknown;
  EXPECT_CVR_ERROR(OpenFile(file_.get(), path, FileAccessModeReadOnly, &v), E_CVR_FILE_ALREADY_OPEN,
                   "File is already open", kTag);
  EXPECT_EQ(Position(), 60u);
  std::vector<ReadBack> blocks = ReadAll(file_.get());
  ASSERT_EQ(blocks.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(blocks[i].header.wBlockID, 0x40 + i);
    EXPECT_EQ(blocks[i].header.byConnID, 7);
    EXPECT_EQ(blocks[i].header.byTimeStampMode, 1);
    EXPECT_EQ(blocks[i].header.qwTimeStamp, (1000 + i) * 1000000ull);
    EXPECT_EQ(blocks[i].header.dwDataLength, datas[i].size());
    EXPECT_EQ(blocks[i].data, datas[i]);
  }
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
  EXPECT_EQ(file_->Close(), S_OK);
  EXPECT_CVR_ERROR(file_->Close(), E_CVR_FILE_NOT_OPEN, "File not open", kTag);
}

// Data without a header is refused, unread data skipped, and data larger
// than the caller's buffer stays pending without a byte written.
TEST_F(LogFileApiTest, DataIsReadOnceAfterItsHeaderAndOnlyIntoABufferThatHoldsIt) {
  OpenRead(FirstGenerationFile({Pattern(40, 1), Pattern(10, 4)}));
  uint8_t out[16];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_CVR_ERROR(file_->ReadBlockData(out, 16), E_CVR_BLOCK_HEADER_NOT_READ, "Block header not read", kTag);
  EXPECT_EQ(NextHeader().wBlockID, 0x40);
  EXPECT_EQ(NextHeader().wBlockID, 0x41);  // skips the 40 data bytes
  EXPECT_CVR_ERROR(file_->ReadBlockData(out, 9), E_CVR_BLOCK_DATA_READ_FAILED, "Block data read failed",
                   kTag);
  EXPECT_EQ(Bytes(out, out + 16), Bytes(16, 0xEE));
  ASSERT_EQ(file_->ReadBlockData(out, 16), S_OK);
  EXPECT_EQ(Bytes(out, out + 10), Pattern(10, 4));
  EXPECT_EQ(out[10], 0xEE);
  EXPECT_CVR_ERROR(file_->ReadBlockData(out, 16), E_CVR_BLOCK_HEADER_NOT_READ, "Block header not read", kTag);
}

TEST_F(LogFileApiTest, AnnouncedLengthBeyondTheFileOrTheLimitIsCorrupt) {
  const std::pair<uint32_t, size_t> cases[] = {{11, 10}, {32769, 32769}};  // announced, present
  for (auto [announced, present] : cases) {
    SCOPED_TRACE(announced);
    Bytes b = TitledHeader("V 01.00");
    PutBE(b, 0x42, 2);
    PutBE(b, 0, 6);
    PutBE(b, announced, 4);
    PutBytes(b, Bytes(present, 0x55));
    OpenRead(Craft("corrupt.log", b));
    LogBlockHeader h{};
    ULONG returned = 0;
    LONG eof = 0;
    EXPECT_CVR_ERROR(file_->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), 24, &returned, &eof),
                     E_CVR_BLOCK_HEADER_DATA_CORRUPT,
                     "Corrupt Block header, data length exceeds end of file", kTag);
    EXPECT_EQ(Position(), 72u);  // behind the header
    BYTE data[1];
    EXPECT_CVR_ERROR(file_->ReadBlockData(data, 1), E_CVR_BLOCK_HEADER_NOT_READ, "Block header not read",
                     kTag);
    EXPECT_EQ(file_->Close(), S_OK);
  }
}

// Raw message records get made-up headers (id 0x50, connection 0xFF) and
// lengths rounded up to 4 with zero fill; a converted hex dump carries block
// headers, a record dump raw records ("1B10" forms 1B B1 10). Unread records
// are skipped, by decoding in hex text.
TEST_F(LogFileApiTest, RawRecordsAndHexDumpsYieldTheirRecordsAndSkipUnreadOnes) {
  struct Want {
    uint8_t mode;
    uint64_t stamp;
    uint32_t length;
    Bytes data;  // the first bytes
  };
  Bytes raw;
  PutBytes(raw, RawRecord(0x1D, 0x10, 0, {0x0D}));  // detection wants a carriage return
  PutBytes(raw, StampedRecord(0x80, 3686400));     // one second of ticks
  for (int i = 0; i < 8; ++i) PutBytes(raw, RawRecord(0x1B, 0x10, 0, {0xA, 0xB, 0xC}));  // and ten records
  Bytes conv, records;
  PutText(conv, ">> 00 01 05 00 00 00 00 07 00 00 00 03\r\n>> AA BB cc\r\n"
                "<< 00 02 06 00 00 00 01 00 00 00 00 02\r\n<<DD-EE>>\r\n");
  PutText(records, "< 1B10 7C 00 02 AA BB\r\n"
                   "< 10 FD 01 7C 00 0E A0 A1 A2 80 A4 A5 00 00 00 00 00 38 40 00\r\n");
  const Bytes stamped_head = {0x10, 0xFD, 0x01, 0x7C, 0x00, 0x0E};
  const struct {
    const char* name;
    const Bytes* bytes;
    EnumFileVersion version;
    std::vector<Want> want;
  } cases[] = {
      {"records.raw", &raw, FileVersionFerrow,
       {{0, 0, 8, {0x1D, 0x10, 0x01, 0x00, 0x00, 0x01, 0x0D, 0x00}}, {1, 1000000000, 20, stamped_head},
        {0, 0, 12, {0x1B, 0x10, 0x01, 0x00, 0x00, 0x03, 0xA, 0xB, 0xC, 0, 0, 0}}}},
      {"conv.hex", &conv, FileVersionCvrConvHex, {{1, 7000000, 3, {0xAA, 0xBB, 0xCC}}, {1, 256000000, 2, {0xDD, 0xEE}}}},
      {"records.hex", &records, FileVersionVantrelHex,
       {{0, 0, 8, {0x1B, 0xB1, 0x10, 0x7C, 0x00, 0x02, 0xAA, 0xBB}}, {1, 1000000000, 20, stamped_head}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Craft(c.name, *c.bytes);
    EXPECT_EQ(OpenRead(path), c.version);
    std::vector<ReadBack> blocks = ReadAll(file_.get());
    ASSERT_GE(blocks.size(), c.want.size());
    for (size_t i = 0; i < c.want.size(); ++i) {
      SCOPED_TRACE(i);
      const Want& w = c.want[i];
      EXPECT_EQ(blocks[i].header.wBlockID, c.version == FileVersionCvrConvHex ? 1 + i : 0x50);
      EXPECT_EQ(blocks[i].header.byConnID, c.version == FileVersionCvrConvHex ? 5 + i : 0xFF);
      EXPECT_EQ(blocks[i].header.byTimeStampMode, w.mode);
      EXPECT_EQ(blocks[i].header.qwTimeStamp, w.stamp);
      EXPECT_EQ(blocks[i].header.dwDataLength, w.length);
      EXPECT_EQ(Bytes(blocks[i].data.begin(), blocks[i].data.begin() + w.data.size()), w.data);
    }
    ASSERT_EQ(file_->Close(), S_OK);

    // LogFile2 reads the same records (skipping their data here).
    ComPtr<ILogFile2> viewer = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    EnumFileVersion v = FileVersionUnknown;
    ASSERT_EQ(viewer->Open(Bstr(path).get(), FileAccessModeReadOnly, &v, 0), S_OK);
    EXPECT_EQ(v, c.version);
    for (const Want& w : c.want) {
      LogBlockHeader h{};
      ULONG returned = 0;
      LONG end = 0;
      ASSERT_EQ(viewer->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &end), S_OK);
      EXPECT_EQ(h.byTimeStampMode, w.mode);
      EXPECT_EQ(h.qwTimeStamp, w.stamp);
    }
    ASSERT_EQ(viewer->Close(), S_OK);

    OpenRead(path);
    NextHeader();
    EXPECT_EQ(NextHeader().dwDataLength, c.want[1].length);
    Bytes data(c.want[1].length, 0);
    ASSERT_EQ(file_->ReadBlockData(data.data(), c.want[1].length), S_OK);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + c.want[1].data.size()), c.want[1].data);
    ASSERT_EQ(file_->Close(), S_OK);
  }

  PutBytes(raw, {0x1D, 0x10, 0});  // a record cut inside its head
  OpenRead(Craft("cut.raw", raw));
  for (int i = 0; i < 10; ++i) NextHeader();
  LogBlockHeader h{};
  ULONG returned = 0;
  LONG eof = 0;
  EXPECT_CVR_ERROR(file_->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), 24, &returned, &eof),
                   E_CVR_BLOCK_HEADER_READ_FAILED, "Block header read failed", kTag);
}

// ---- Writing e1.01 ----

// A new log holds only its header until the buffer fills or Close; then it
// ends with the last byte written and reads back block for block, through
// LogFile and LogFile2; opened for reading it takes no blocks.
TEST_F(LogFileApiTest, WrittenBlocksReadBackAndTheLogEndsWithTheLastByteWritten) {
  const std::string path = dir_.File("new.log");
  EnumFileVersion v = FileVersionCVR_Ve101;
  ASSERT_EQ(OpenFile(file_.get(), path, FileAccessModeWriteCreateNew, &v), S_OK);
  const uint32_t lengths[] = {0, 15, 16, 111, 112, 113, 1000, 5};
  int64_t total = 60;
  for (size_t i = 0; i < std::size(lengths); ++i) {
    LogBlockHeader h = MakeHeader(static_cast<uint16_t>(0x100 + i), static_cast<uint8_t>(i),
                                  static_cast<uint8_t>(i % 2), 0x0102030405060708ull + i, 0);
    ASSERT_EQ(Write(file_.get(), h, Pattern(lengths[i], static_cast<uint8_t>(i))), S_OK);
    total += 16 + lengths[i];
    if (i == 0) {  // buffered: neither in the file nor counted
      ULONGLONG size = 0;
      EXPECT_EQ(file_->GetFileSize(&size), S_OK);
      EXPECT_EQ(size, 60u);
      EXPECT_EQ(Position(), 60u);
      EXPECT_EQ(FileSize(path), 60);
    }
  }
  ASSERT_EQ(file_->Close(), S_OK);
  const Bytes bytes = ReadFileBytes(path);
  ASSERT_EQ(static_cast<int64_t>(bytes.size()), total);  // no zero fill behind the last block
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 28), "KRV Binary Log File V e1.01\n");
  EXPECT_EQ(Bytes(bytes.begin() + 54, bytes.begin() + 60), (Bytes{'\n', 0, 0, 0, 0, 0x1A}));

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
  EXPECT_CVR_ERROR(Write(file_.get(), MakeHeader(1, 0, 0, 0, 0), Pattern(4, 1)),
                   E_CVR_BLOCK_HEADER_WRITE_FAILED, "Block header write failed", kTag);
  EXPECT_EQ(file_->Close(), S_OK);
  EXPECT_EQ(ReadFileBytes(path), bytes);

  ComPtr<ILogFile2> viewer = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
  ASSERT_EQ(viewer->Open(Bstr(path).get(), FileAccessModeReadOnly, &v, 0), S_OK);
  EXPECT_EQ(v, FileVersionCVR_Ve101);
  for (size_t i = 0; i < blocks.size(); ++i) {
    ULONG returned = 0;
    LONG end = 0;
    LogBlockHeader h{};
    ASSERT_EQ(viewer->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &end), S_OK);
    EXPECT_EQ(h.qwTimeStamp, blocks[i].header.qwTimeStamp);
    Bytes data(h.dwDataLength + 1);
    ASSERT_EQ(viewer->ReadBlockData(data.data(), h.dwDataLength), S_OK);
    data.pop_back();
    EXPECT_EQ(data, blocks[i].data) << i;
  }
  EXPECT_EQ(viewer->Close(), S_OK);
}

// x opens before y and restarts its time base with a mode-3 block; then both
// write mode 2. The time since x's restart lies inside y's span, so x's last
// stamp cannot exceed y's.
TEST_F(LogFileApiTest, ModesTwoAndThreeStampFromTheReferenceTime) {
  const std::string px = dir_.File("x.log"), py = dir_.File("y.log");
  OpenWrite(px);
  ComPtr<ILogFile> y = Create<ILogFile>(CLSID_LogFile, IID_ILogFile);
  EnumFileVersion v = FileVersionCVR_Ve101;
  ASSERT_EQ(OpenFile(y.get(), py, FileAccessModeWriteCreateAlways, &v), S_OK);
  const uint64_t given = ~0ull;
  for (uint8_t mode : {2, 3, 2}) ASSERT_EQ(Write(file_.get(), MakeHeader(1, 0, mode, given, 0), {}), S_OK);
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

}  // namespace
}  // namespace corvane::test
