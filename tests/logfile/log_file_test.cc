// ILogFile (and LogFile2 on an empty log) through the public interface:
// checks and their texts, opening, reading every format from crafted bytes,
// writing e1.01 logs.
#include <corvane/corvane.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "platform/file.h"
#include "platform/registry.h"
#include "stream/cipher.h"
#include "stream/cipher_parameters.h"
#include "stream/raw_record.h"
#include "stream/settings.h"
#include "support/com_test_util.h"
#include "support/fault_file_system.h"
#include "support/log_bytes.h"
#include "support/temp_dir.h"

namespace corvane::test {
namespace {

constexpr char kTag[] = "LOGFILE"; constexpr int kShort = 12, kLong = 16;


// A block with the 12-byte header (milliseconds) or the 16-byte one, big-endian.
Bytes Block(int form, uint16_t id, uint8_t conn, uint8_t mode, uint64_t stamp, const Bytes& data) {
  Bytes b;
  for (auto [value, n] : {std::pair<uint64_t, int>{id, 2}, {uint32_t{conn} << 8 | mode, 2}, {stamp, form - 8}, {data.size(), 4}}) PutBE(b, value, n);
  return PutBytes(b, data), b;
}

Bytes Cipher(int version, Bytes bytes, bool encipher) {
  stream::CipherParameters p;
  EXPECT_TRUE(p.Load(version).ok() && (encipher ? stream::EncipherInPlace : stream::DecipherInPlace)(p, bytes.data(), bytes.size()).ok());
  return bytes;
}

struct ReadBack { LogBlockHeader header{}; Bytes data; };

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override { SetDiskBufferSize(128); }
  void SetDiskBufferSize(uint32_t size) {
    ASSERT_TRUE(platform::registry::SetDword(platform::Hive::kCurrentUser, stream::kSettingsKey, stream::kDiskBufferSizeName, size).ok());
  }
  std::string Craft(const std::string& name, const Bytes& bytes) { return WriteFileBytes(dir_.File(name), bytes), dir_.File(name); }
  HRESULT Open(const std::string& path, int mode, EnumFileVersion* v) { return file_->Open(Bstr(path).get(), EnumFileAccessMode(mode), v); }
  EnumFileVersion OpenRead(const std::string& path) {
    EnumFileVersion v = FileVersionUnknown;
    EXPECT_EQ(Open(path, FileAccessModeReadOnly, &v), S_OK) << path;
    return v;
  }
  void OpenWrite(const std::string& path, ILogFile* f = nullptr) {
    EnumFileVersion v = FileVersionCVR_Ve101;
    ASSERT_EQ((f ? f : file_.get())->Open(Bstr(path).get(), FileAccessModeWriteCreateAlways, &v), S_OK);
  }
  // Reads the next header (its end flag into eof_), and its data unless told otherwise.
  ReadBack Next(bool data = true) {
    ReadBack b;
    EXPECT_EQ(file_->ReadBlockHeader(reinterpret_cast<BYTE*>(&b.header), sizeof b.header, &returned_, &eof_), S_OK);
    b.data.assign(b.header.dwDataLength + 1, 0);  // +1: a buffer even for 0 bytes
    EXPECT_TRUE(!data || eof_ || file_->ReadBlockData(b.data.data(), b.header.dwDataLength) == S_OK);
    b.data.pop_back();
    return b;
  }
  // Writes a block of mode 0 and appends its file form to `plain`.
  HRESULT WriteTracked(uint16_t id, uint32_t length, Bytes* plain) {
    Bytes data = Pattern(length + 1, static_cast<uint8_t>(id));  // +1: the method wants a buffer even for 0 bytes
    LogBlockHeader h = MakeHeader(id, 1, 0, 1000u * id, length);
    HRESULT hr = file_->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, data.data(), length);
    data.pop_back();
    if (SUCCEEDED(hr)) PutBytes(*plain, Block(kLong, id, 1, 0, 1000u * id, data));
    return hr;
  }
  // The file must be the e1.01 header and `plain` enciphered, nothing more.
  void ExpectLog(const std::string& path, const Bytes& plain) {
    Bytes bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 60 + plain.size());
    EXPECT_EQ(Cipher(FileVersionCVR_Ve101, Bytes(bytes.begin() + 60, bytes.end()), false), plain);
  }

  BYTE buf_[64] = {}; ULONG returned_ = 0; LONG eof_ = 0; ULONGLONG value_ = 0;
  TempDir dir_;
  ComPtr<ILogFile> file_ = Create<ILogFile>(CLSID_LogFile, IID_ILogFile);
};

TEST_F(LogFileTest, NullPointersComeBeforeTheOpenFileCheckAndEachCallHasItsText) {
  EnumFileVersion v = FileVersionCVR_Ve101; ILogFile* f = file_.get();
  const HRESULT kNull = E_POINTER, kClosed = E_CVR_FILE_NOT_OPEN;
  const std::tuple<std::function<HRESULT()>, HRESULT, const char*> calls[] = {
      {[&] { return f->Open(nullptr, FileAccessModeReadOnly, &v); }, kNull, "One ore more Open method parameters are NULL"},
      {[&] { return f->GetFilePointerPos(nullptr); }, kNull, "GetFilePointerPos method parameter is NULL"},
      {[&] { return f->GetFileSize(nullptr); }, kNull, "One ore more GetFileSize method parameters are NULL"},
      {[&] { return f->ReadBlockHeader(buf_, 24, nullptr, &eof_); }, kNull, "One or more ReadBlockHeader method parameters are NULL"},
      {[&] { return f->ReadBlockData(nullptr, 10); }, kNull, "One ore more ReadBlockData method parameters are NULL"},
      {[&] { return f->WriteBlock(buf_, 24, nullptr, 1); }, kNull, "One or more WriteBlock method parameters are NULL"},
      {[&] { return f->WriteBlock(buf_, 24, buf_, 1); }, kClosed, "File not open"},
  };
  for (const auto& [call, code, text] : calls) EXPECT_CVR_ERROR(call(), code, text, kTag);
}

// Refused opens leave the file as it was (or absent) and the object closed.
TEST_F(LogFileTest, RefusedOpensTouchNoFileAndLeaveTheObjectClosed) {
  Bytes gen102(128, 0), other = Pattern(100, 3);
  std::copy_n("CVR V 01.02\n", 12, gen102.begin() + 64);
  gen102[127] = 0x1A;
  const int kRead = FileAccessModeReadOnly, kNew = FileAccessModeWriteCreateNew, kE101 = FileVersionCVR_Ve101;
  // content null: no file; format_after -1: unchecked.
  const struct { int mode, format; const Bytes* content; HRESULT code; int format_after; } cases[] = {
      {0, kE101, nullptr, E_CVR_INVALID_FILE_ACCESS_MODE, kE101}, {kRead, FileVersionUnknown, nullptr, E_CVR_FILE_CREATION_FAILS, -1},
      {kNew, FileVersionCVR_V0100, nullptr, E_CVR_INVALID_FILE_FORMAT_PARAM, FileVersionCVR_V0100},
      {kNew, kE101, &other, E_CVR_FILE_CREATION_FAILS, -1}, {kRead, kE101, &gen102, E_CVR_FILE_HEADER_INFO_WRONG_VERSION, FileVersionUnknown},
  };
  const std::string path = dir_.File("refused.log");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    std::filesystem::remove(path);
    if (c.content) WriteFileBytes(path, *c.content);
    EnumFileVersion v = static_cast<EnumFileVersion>(c.format);
    EXPECT_CVR_ERROR(Open(path, c.mode, &v), c.code, "File creation failed", kTag);
    EXPECT_TRUE(c.format_after == -1 || v == c.format_after) << v;
    EXPECT_EQ(FileExists(path) ? ReadFileBytes(path) : Bytes{1}, c.content ? *c.content : Bytes{1});
    EXPECT_EQ(file_->GetFileSize(&value_), E_CVR_FILE_NOT_OPEN);
    TakeError();
  }
}

// 12-byte block headers (V 01.00, e1.00) carry milliseconds and report mode
// 1, also in the zeroed header of the end; tags are recognised in either
// case. A second Open fails and keeps the first file open.
TEST_F(LogFileTest, ReadsCraftedGenerationsUpToAnEmptyEnd) {
  const struct { const char* tag; EnumFileVersion version; int form; } cases[] = {
      {"V 01.00", FileVersionCVR_V0100, kShort}, {"V e1.00", FileVersionCVR_Ve100, kShort}, {"V E1.01", FileVersionCVR_Ve101, kLong}};
  const std::vector<Bytes> datas = {Pattern(5, 1), {}, Pattern(300, 2)};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag);
    Bytes plain, file = TitledHeader("KRV Binary Log File " + std::string(c.tag));
    for (size_t i = 0; i < datas.size(); ++i) PutBytes(plain, Block(c.form, 0x40 + i, 7, 3, 1000 + i, datas[i]));
    PutBytes(file, c.version == FileVersionCVR_V0100 ? plain : Cipher(c.version, plain, true));
    const std::string path = Craft("crafted.log", file);
    EXPECT_EQ(OpenRead(path), c.version);
    EnumFileVersion v = FileVersionUnknown;
    EXPECT_CVR_ERROR(Open(path, FileAccessModeReadOnly, &v), E_CVR_FILE_ALREADY_OPEN, "File is already open", kTag);
    for (size_t i = 0; i < datas.size(); ++i) {
      ReadBack b = Next();
      EXPECT_EQ(std::make_tuple(b.header.wBlockID, b.header.byConnID, b.header.byTimeStampMode, b.header.qwTimeStamp),
                std::make_tuple(0x40 + i, 7, c.form == kShort ? 1 : 3, (1000 + i) * (c.form == kShort ? 1000000 : 1)));
      EXPECT_EQ(b.data, datas[i]);
    }
    ReadBack end = Next();
    EXPECT_EQ(std::make_tuple(eof_, end.header.wBlockID, end.header.byTimeStampMode, end.header.qwTimeStamp, end.header.dwDataLength),
              std::make_tuple(1, 0, c.form == kShort ? 1 : 0, 0, 0));
    BYTE sentinel = 0xEE;
    EXPECT_TRUE(file_->ReadBlockData(&sentinel, 0) == S_OK && sentinel == 0xEE);
    EXPECT_EQ(file_->Close(), S_OK);
  }
}

// Data before any header is refused; data larger than the caller's buffer
// fails with no byte written (skipping and pending data: fuzz target
// log_file). A length announced beyond the end of the file or the limit is
// corrupt: the pointer stays behind that header, whose data is not readable.
TEST_F(LogFileTest, DataNeedsItsHeaderABufferThatHoldsItAndALengthThatFits) {
  const std::pair<uint32_t, size_t> cases[] = {{11, 10}, {32769, 32769}};  // announced, present
  for (auto [announced, present] : cases) {
    SCOPED_TRACE(announced);
    Bytes b = TitledHeader("KRV Binary Log File V 01.00"), out(16, 0xEE);
    PutBytes(b, Block(kShort, 0x41, 7, 0, 2, Pattern(10, 4)));
    PutBE(b, 0x42, 8);
    PutBE(b, announced, 4);
    PutBytes(b, Bytes(present, 0x55));
    OpenRead(Craft("corrupt.log", b));
    EXPECT_CVR_ERROR(file_->ReadBlockData(out.data(), 16), E_CVR_BLOCK_HEADER_NOT_READ, "Block header not read", kTag);
    Next(false);
    EXPECT_CVR_ERROR(file_->ReadBlockData(out.data(), 9), E_CVR_BLOCK_DATA_READ_FAILED, "Block data read failed", kTag);
    EXPECT_EQ(out, Bytes(16, 0xEE));
    EXPECT_CVR_ERROR(file_->ReadBlockHeader(buf_, 24, &returned_, &eof_), E_CVR_BLOCK_HEADER_DATA_CORRUPT,
                     "Corrupt Block header, data length exceeds end of file", kTag);
    EXPECT_TRUE(file_->GetFilePointerPos(&value_) == S_OK && value_ == 94u) << "behind the header";
    EXPECT_CVR_ERROR(file_->ReadBlockData(buf_, 1), E_CVR_BLOCK_HEADER_NOT_READ, "Block header not read", kTag);
    EXPECT_EQ(file_->Close(), S_OK);
  }
}

// Raw message records get made-up headers (id 0x50, connection 0xFF) and
// lengths rounded up to 4 with zero fill; a converted hex dump carries block
// headers, a record dump raw records ("1B10" forms 1B B1 10). The first
// block's data is left unread: it is skipped, by decoding in hex text.
TEST_F(LogFileTest, RawRecordsAndHexDumpsYieldTheirRecordsAndSkipUnreadOnes) {
  Bytes raw, conv, records;
  PutBytes(raw, RawRecord(0x1D, 0x10, 0, {0x0D}));  // detection wants a carriage return
  PutBytes(raw, StampedRecord(0x80, 3686400));     // one second of ticks
  for (int i = 0; i < 8; ++i) PutBytes(raw, RawRecord(0x1B, 0x10, 0, {0xA, 0xB, 0xC}));  // and ten records
  PutText(conv, ">> 00 01 05 00 00 00 00 07 00 00 00 03\r\n>> AA BB cc\r\n" "<< 00 02 06 00 00 00 01 00 00 00 00 02\r\n<<DD-EE>>\r\n");
  PutText(records, "< 1B10 7C 00 02 AA BB\r\n< 10 FD 01 7C 00 0E A0 A1 A2 80 A4 A5 00 00 00 00 00 38 40 00\r\n");
  const Bytes stamped = {0x10, 0xFD, 0x01, 0x7C, 0x00, 0x0E};
  // want: mode, stamp, length, first bytes of each record.
  using Want = std::tuple<uint8_t, uint64_t, uint32_t, Bytes>;
  const struct { const Bytes* bytes; EnumFileVersion version; std::vector<Want> want; } cases[] = {
      {&raw, FileVersionFerrow,
       {{0, 0, 8, {}}, {1, 1000000000, 20, stamped}, {0, 0, 12, {0x1B, 0x10, 0x01, 0x00, 0x00, 0x03, 0xA, 0xB, 0xC, 0, 0, 0}}}},
      {&conv, FileVersionCvrConvHex, {{1, 7000000, 3, {}}, {1, 256000000, 2, {0xDD, 0xEE}}}},
      {&records, FileVersionVantrelHex, {{0, 0, 8, {}}, {1, 1000000000, 20, stamped}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    EXPECT_EQ(OpenRead(Craft("records", *c.bytes)), c.version);
    for (size_t i = 0; i < c.want.size(); ++i) {
      const auto& [mode, stamp, length, data] = c.want[i];
      ReadBack b = Next(i > 0);
      const bool conv = c.version == FileVersionCvrConvHex;
      EXPECT_EQ(std::make_tuple(b.header.wBlockID, b.header.byConnID, b.header.byTimeStampMode, b.header.qwTimeStamp,
                                b.header.dwDataLength), std::make_tuple(conv ? 1 + i : 0x50, conv ? 5 + i : 0xFF, mode, stamp, length)) << i;
      EXPECT_EQ(Bytes(b.data.begin(), b.data.begin() + (i ? data.size() : 0)), data) << i;
    }
    ASSERT_EQ(file_->Close(), S_OK);
  }
  PutBytes(raw, {0x1D, 0x10, 0});  // a record cut inside its head
  OpenRead(Craft("cut.raw", raw));
  for (int i = 0; i < 10; ++i) Next();
  EXPECT_CVR_ERROR(file_->ReadBlockHeader(buf_, 24, &returned_, &eof_), E_CVR_BLOCK_HEADER_READ_FAILED, "Block header read failed", kTag);
}

// Raw record ticks (3.6864 MHz) become nanoseconds, truncated and saturated.
TEST(RawRecordTicksTest, TickConversionTruncatesAndSaturates) {
  const std::pair<int64_t, int64_t> cases[] = {{1, 271}, {-1, -271}, {INT64_MAX, INT64_MAX}, {INT64_MIN, INT64_MIN}};
  for (auto [ticks, ns] : cases) EXPECT_EQ(static_cast<int64_t>(stream::TicksToNanoseconds(ticks)), ns) << ticks;
}

// A buffer of the setting rounded up to 128 (128 for 0) is written when full
// and another byte comes: a new log holds only its header until then, and
// the sizes do not count buffered bytes. Close writes the rest up to the
// last byte, no fill (reading e1.01 back: the crafted-generations test);
// opened for reading, the log takes no blocks.
TEST_F(LogFileTest, WritesFlushInBufferSizedPiecesAndTheLogEndsWithTheLastByte) {
  const std::pair<uint32_t, uint32_t> cases[] = {{200, 256}, {0, 128}};  // setting, buffer
  for (auto [setting, buffer] : cases) {
    SCOPED_TRACE(setting);
    SetDiskBufferSize(setting);
    const std::string path = dir_.File("sized.log");
    OpenWrite(path);
    Bytes plain;
    ASSERT_EQ(WriteTracked(1, buffer - 16, &plain), S_OK);  // exactly a full buffer
    ULONGLONG size = 0, pos = 0;
    EXPECT_TRUE(file_->GetFileSize(&size) == S_OK && file_->GetFilePointerPos(&pos) == S_OK);
    EXPECT_EQ(std::make_tuple(FileSize(path), size, pos), std::make_tuple(int64_t{60}, 60ull, 60ull));
    ASSERT_EQ(WriteTracked(2, 0, &plain), S_OK);
    EXPECT_EQ(FileSize(path), 60 + buffer);
    for (uint32_t length : {15u, 112u, 113u, 3 * buffer + 7, 1u}) ASSERT_EQ(WriteTracked(3, length, &plain), S_OK);
    EXPECT_EQ(FileSize(path) % buffer, 60 % buffer);
    ASSERT_EQ(file_->Close(), S_OK);
    ASSERT_NE(plain.size() % 128, 0u);
    ExpectLog(path, plain);

    EXPECT_EQ(OpenRead(path), FileVersionCVR_Ve101);
    EXPECT_CVR_ERROR(WriteTracked(1, 4, &plain), E_CVR_BLOCK_HEADER_WRITE_FAILED, "Block header write failed", kTag);
    EXPECT_EQ(file_->Close(), S_OK);
  }
}

// Blocks of every size up to the limit, across the 64 KiB windows of read
// and deciphered bytes, some with their data skipped: an e1.01 log written
// here, and the same blocks with 12-byte headers, plain and enciphered.
TEST_F(LogFileTest, RecordsAcrossTheWindowReadBackWithTheirPositions) {
  const auto size = [](uint32_t i) -> ULONG { return i % 300 == 299 ? 32768 : i * 37 % 500; };
  const std::string written = dir_.File("window.log");
  OpenWrite(written);
  Bytes plain, short_form;
  for (uint32_t i = 0; i < 900; ++i) {
    ASSERT_EQ(WriteTracked(uint16_t(0x100 + i), size(i), &plain), S_OK);
    PutBytes(short_form, Block(kShort, uint16_t(0x100 + i), 1, 0, i, Pattern(size(i), uint8_t(0x100 + i))));
  }
  ASSERT_EQ(file_->Close(), S_OK);
  const auto titled = [](const char* tag, const Bytes& blocks) {
    Bytes b = TitledHeader(std::string("KRV Binary Log File ") + tag);
    return PutBytes(b, blocks), b;
  };
  const std::pair<std::string, int> cases[] = {
      {written, kLong},
      {Craft("plain.log", titled("V 01.00", short_form)), kShort},
      {Craft("e100.log", titled("V e1.00", Cipher(FileVersionCVR_Ve100, short_form, true))), kShort}};
  for (const auto& [path, form] : cases) {
    SCOPED_TRACE(path);
    OpenRead(path);
    ULONGLONG at = 60, pos = 0;
    for (uint32_t i = 0; i < 900; ++i) {
      const bool skipped = i % 5 == 0;
      const ReadBack b = Next(!skipped);
      at += form;
      ASSERT_EQ(file_->GetFilePointerPos(&pos), S_OK);
      ASSERT_EQ(std::tuple(b.header.wBlockID, b.header.dwDataLength, pos), std::tuple(0x100 + i, size(i), at + (skipped ? 0 : size(i)))) << i;
      at += size(i);
      if (!skipped) ASSERT_EQ(b.data, Pattern(size(i), uint8_t(0x100 + i))) << i;
    }
    Next();
    EXPECT_EQ(eof_, 1);
    EXPECT_EQ(file_->Close(), S_OK);
  }
}

// Modes 2 and 3 take their stamp from the log's reference time, and mode 3
// restarts it: x restarts after y opened, so x's next stamp cannot exceed y's.
// The mode byte is stored as given.
TEST_F(LogFileTest, ModesTwoAndThreeStampFromTheReferenceTime) {
  ComPtr<ILogFile> y = Create<ILogFile>(CLSID_LogFile, IID_ILogFile);
  OpenWrite(dir_.File("x.log"));
  OpenWrite(dir_.File("y.log"), y.get());
  for (auto [f, mode] : {std::pair{file_.get(), 3}, {file_.get(), 2}, {y.get(), 2}}) {
    LogBlockHeader h = MakeHeader(1, 0, static_cast<uint8_t>(mode), ~0ull, 0);
    ASSERT_EQ(f->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, buf_, 0), S_OK);
  }
  ASSERT_TRUE(y->Close() == S_OK && file_->Close() == S_OK);
  OpenRead(dir_.File("x.log"));
  const LogBlockHeader x3 = Next().header, x2 = Next().header;
  ASSERT_EQ(file_->Close(), S_OK);
  OpenRead(dir_.File("y.log"));
  const uint64_t y_stamp = Next().header.qwTimeStamp;
  EXPECT_EQ(std::make_tuple(x3.byTimeStampMode, x2.byTimeStampMode, x3.qwTimeStamp == ~0ull, y_stamp == ~0ull), std::make_tuple(3, 2, false, false));
  EXPECT_LE(x2.qwTimeStamp, y_stamp);
}

// Per writer ('2' LogFile2, '1' LogFile, 'c' Corvane), the code and text of a
// write or a Close whose file writes fail from the `at`-th on, after `before` blocks.
TEST_F(LogFileTest, FailedWritesAndClosesGiveTheirCodesAndTexts) {
  const Fault kFull = Fault::kDiskFull;
  const struct { char writer; ULONG buffer, length; int before, at; Fault fault; bool close; HRESULT code; const char* text; } cases[] = {
      {'2', 0, 100, 0, 1, kFull, false, E_CVR_DISK_FULL, "Insufficient disk space"},
      {'2', 65536, 100, 1, 1, kFull, true, E_CVR_DISK_FULL, "Insufficient disk space, final buffer flush failed"},
      {'1', 128, 112, 1, 1, kFull, false, E_CVR_DISK_FULL, "Block header write failed, disk full"},  // the buffer was full
      {'1', 128, 300, 0, 1, kFull, false, E_CVR_DISK_FULL, "Block data write failed, disk full"},
      {'1', 128, 300, 0, 1, Fault::kDenied, false, E_CVR_BLOCK_DATA_WRITE_FAILED, "Block data write failed"},
      {'1', 128, 100, 1, 1, Fault::kIo, true, E_CVR_BUFFER_FLUSH_FAILED, "Cannot flush buffered data to disk"},
      {'c', 0, 100, 0, 1, Fault::kIo, false, E_CVR_BLOCK_HEADER_WRITE_FAILED, "Block header write failed"},
      {'c', 0, 100, 0, 2, Fault::kIo, false, E_CVR_BLOCK_DATA_WRITE_FAILED, "Block data write failed"},
  };
  Bytes data(300, 7);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    FaultFileSystem disk;
    disk.armed = false;
    platform::ScopedFileSystemOverride use(&disk);
    auto log2 = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    auto legacy = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
    log2->SetDiskBufferSize(c.buffer);  // LogFile takes it from the settings
    const Bstr path(dir_.File("failing.log"));
    EnumFileVersion v = c.writer == '2' ? FileVersionCVR_V0102 : FileVersionCVR_Ve101;  // plain: unbuffered at 0
    LogBlockHeader h = MakeHeader(1, 1, 0, 0, c.length); auto* hb = reinterpret_cast<BYTE*>(&h);
    ASSERT_EQ(c.writer == '2' ? log2->Open(path.get(), FileAccessModeWriteCreateAlways, &v, 0)
              : c.writer == 'c' ? legacy->Open(path.get(), CVRFileAccessModeWrite, CVRFileCreateModeAlways)
                                : file_->Open(path.get(), FileAccessModeWriteCreateAlways, &v), S_OK);
    const auto write = [&] {
      return c.writer == '2' ? log2->WriteBlock(hb, sizeof h, data.data(), c.length, 0)
             : c.writer == 'c' ? legacy->WriteBlock(1, 1, data.data(), c.length) : file_->WriteBlock(hb, sizeof h, data.data(), c.length);
    };
    const auto close = [&] { return c.writer == '2' ? log2->Close() : c.writer == 'c' ? legacy->Close() : file_->Close(); };
    for (int i = 0; i < c.before; ++i) ASSERT_EQ(write(), S_OK);
    disk.family = Call::kWrite, disk.fault = c.fault, disk.sticky = true, disk.fail_at = c.at, disk.armed = true;
    EXPECT_CVR_ERROR(c.close ? close() : write(), c.code, c.text, c.writer == 'c' ? "CORVANE" : kTag);
    disk.armed = false;
    close(), TakeError();
  }
}

// An empty log opened for reading by LogFile2 takes the caller's generation
// when readable (1 to 9), and its first header read is the end; any other
// value is refused. The file stays empty.
TEST_F(LogFileTest, AnEmptyLogTakesTheCallersReadableGenerationInLogFile2) {
  const std::string path = Craft("empty.log", {});
  for (int32_t given : {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 17, 18}) {
    SCOPED_TRACE(given);
    auto log = Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
    EnumFileVersion version;  // a caller may store any number there
    std::memcpy(&version, &given, sizeof given);
    const bool readable = given >= 1 && given <= 9;
    ASSERT_EQ(log->Open(Bstr(path).get(), FileAccessModeReadOnly, &version, 0), readable ? S_OK : HRESULT{E_CVR_FILE_HEADER_INFO_WRONG_VERSION});
    EXPECT_TRUE(!readable || version == given);
    eof_ = 0;
    EXPECT_TRUE(!readable || log->ReadBlockHeader(buf_, 24, &returned_, &eof_) == S_OK);
    EXPECT_EQ(std::make_pair(eof_, log->Close()), std::make_pair(LONG{readable ? 1 : 0}, readable ? S_OK : HRESULT{E_CVR_FILE_NOT_OPEN}));
    TakeError();
    EXPECT_EQ(FileSize(path), 0);
  }
}

}  // namespace
}  // namespace corvane::test
