// LogFile with the library's internals at hand: enciphered files crafted with
// the cipher, the "Disk Buffer Size" setting, tick stamps of raw records, and
// writes that fail on a full disk (a file system that cuts writes short).
#include <gtest/gtest.h>

#include "logfile/log_file_test_util.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "stream/cipher.h"
#include "stream/cipher_parameters.h"
#include "stream/file_format.h"
#include "stream/raw_record.h"
#include "stream/settings.h"
#include "support/fault_file_system.h"

namespace corvane::test {
namespace {

Bytes Cipher(int version, Bytes bytes, bool encipher) {
  stream::CipherParameters p;
  EXPECT_TRUE(p.Load(version).ok());
  auto transform = encipher ? stream::EncipherInPlace : stream::DecipherInPlace;
  EXPECT_TRUE(transform(p, bytes.data(), bytes.size()).ok());
  return bytes;
}

class LogFileCoreTest : public LogFileTest {
 protected:
  void SetDiskBufferSize(uint32_t size) {
    ASSERT_TRUE(platform::registry::SetDword(platform::Hive::kCurrentUser, stream::kSettingsKey,
                                             stream::kDiskBufferSizeName, size).ok());
  }
  // Writes a block and appends its plain form to `plain`.
  HRESULT WriteTracked(uint16_t id, uint32_t length, Bytes* plain) {
    const Bytes data = Pattern(length, static_cast<uint8_t>(id));
    HRESULT hr = Write(file_.get(), MakeHeader(id, 1, 0, 1000u * id, 0), data);
    if (SUCCEEDED(hr)) PutBytes(*plain, LongBlock(id, 1, 0, 1000u * id, data));
    return hr;
  }
  // The file must be the LogFile header and `plain` enciphered, nothing more.
  void ExpectLog(const std::string& path, const Bytes& plain) {
    Bytes bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 60 + plain.size());
    const auto header = stream::BuildE101Header(stream::E101Form::kLogFile);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 60), Bytes(header.begin(), header.end()));
    EXPECT_EQ(Cipher(FileVersionCVR_Ve101, Bytes(bytes.begin() + 60, bytes.end()), false), plain);
  }
};

// e1.00 blocks have the 12-byte header (milliseconds), e1.01 the 16-byte one;
// the tag is recognised in either case.
TEST_F(LogFileCoreTest, ReadsCraftedEncipheredGenerations) {
  const std::pair<const char*, EnumFileVersion> cases[] = {{"V e1.00", FileVersionCVR_Ve100},
                                                           {"V E1.01", FileVersionCVR_Ve101}};
  const std::vector<Bytes> datas = {Pattern(3, 1), {}, Pattern(200, 2)};
  for (auto [tag, version] : cases) {
    SCOPED_TRACE(tag);
    const bool short_form = version == FileVersionCVR_Ve100;
    Bytes plain;
    for (size_t i = 0; i < datas.size(); ++i) {
      const uint16_t id = static_cast<uint16_t>(0x20 + i);
      PutBytes(plain, short_form ? ShortBlock(id, 9, 500 + i, datas[i])
                                 : LongBlock(id, 9, 3, 0x1122334455667788ull + i, datas[i]));
    }
    Bytes file = TitledHeader(tag);
    PutBytes(file, Cipher(version, plain, true));
    EXPECT_EQ(OpenRead(Craft("crafted.log", file)), version);
    std::vector<ReadBack> blocks = ReadAll(file_.get());
    ASSERT_EQ(blocks.size(), datas.size());
    for (size_t i = 0; i < datas.size(); ++i) {
      EXPECT_EQ(blocks[i].header.wBlockID, 0x20 + i);
      EXPECT_EQ(blocks[i].header.byConnID, 9);
      EXPECT_EQ(blocks[i].header.byTimeStampMode, short_form ? 1 : 3);
      EXPECT_EQ(blocks[i].header.qwTimeStamp, short_form ? (500 + i) * 1000000ull : 0x1122334455667788ull + i);
      EXPECT_EQ(blocks[i].data, datas[i]);
    }
    EXPECT_EQ(file_->Close(), S_OK);
  }
}

// A buffer of the setting rounded up to 128 (128 for 0) is written when full
// and another byte comes; Close writes the rest up to the last cipher block,
// no fill.
TEST_F(LogFileCoreTest, WritesFlushInBufferSizedPiecesAndEndWithTheLastCipherBlock) {
  const std::pair<uint32_t, uint32_t> cases[] = {{200, 256}, {0, 128}};  // setting, buffer
  for (auto [setting, buffer] : cases) {
    SCOPED_TRACE(setting);
    SetDiskBufferSize(setting);
    const std::string path = dir_.File("sized.log");
    OpenWrite(path);
    Bytes plain;
    ASSERT_EQ(WriteTracked(1, buffer - 16, &plain), S_OK);  // exactly a full buffer
    EXPECT_EQ(FileSize(path), 60);
    ASSERT_EQ(WriteTracked(2, 5, &plain), S_OK);
    EXPECT_EQ(FileSize(path), 60 + buffer);
    ASSERT_EQ(WriteTracked(3, 3 * buffer + 7, &plain), S_OK);
    ASSERT_EQ(WriteTracked(4, 1, &plain), S_OK);
    EXPECT_EQ(FileSize(path) % buffer, 60 % buffer);
    ASSERT_EQ(file_->Close(), S_OK);
    ASSERT_NE(plain.size() % 128, 0u);
    ExpectLog(path, plain);
  }
  SetDiskBufferSize(128);
}

// Raw record ticks (3.6864 MHz) become nanoseconds, truncated and saturated.
TEST(RawRecordTicksTest, TickConversionTruncatesAndSaturates) {
  const std::pair<int64_t, int64_t> cases[] = {{1, 271}, {-1, -271}, {INT64_MAX, INT64_MAX}, {INT64_MIN, INT64_MIN}};
  for (auto [ticks, ns] : cases) EXPECT_EQ(static_cast<int64_t>(stream::TicksToNanoseconds(ticks)), ns) << ticks;
}

// ---- Failed flushes ----

class LogFileFaultTest : public LogFileCoreTest {
 protected:
  void SetUp() override {
    LogFileCoreTest::SetUp();
    SetDiskBufferSize(128);
  }
  test::FaultFileSystem fs_;
  platform::ScopedFileSystemOverride override_{&fs_};
};

// A block that meets a full disk is taken back whole: later blocks follow the
// one before it, and the log holds no part of it.
TEST_F(LogFileFaultTest, FailedBlockIsTakenBackWholeAndLaterBlocksFollowIt) {
  struct Case {
    const char* what;
    uint32_t before, failing;  // data bytes of the block written first and of the failing one
    int64_t budget;            // bytes the disk takes once the first block is in
    uint32_t error;
    HRESULT code;
    const char* text;
  };
  const Case cases[] = {
      {"header fills the buffer", 100, 10, 20, kErrDiskFull, E_CVR_DISK_FULL, "Block header write failed, disk full"},
      {"a later buffer", 10, 600, 300, kErrDiskFull, E_CVR_DISK_FULL, "Block data write failed, disk full"},
      {"other error", 10, 600, 300, kErrAccessDenied, E_CVR_BLOCK_DATA_WRITE_FAILED, "Block data write failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir_.File("fault.log");
    fs_.write_budget = -1;
    fs_.write_error = c.error;
    OpenWrite(path);
    Bytes plain;
    ASSERT_EQ(WriteTracked(1, c.before, &plain), S_OK);
    fs_.write_budget = c.budget;
    EXPECT_CVR_ERROR(WriteTracked(2, c.failing, &plain), c.code, c.text, kTag);
    fs_.write_budget = -1;
    ASSERT_EQ(WriteTracked(3, 150, &plain), S_OK);
    ASSERT_EQ(WriteTracked(4, 3, &plain), S_OK);
    ASSERT_EQ(file_->Close(), S_OK);
    ExpectLog(path, plain);
  }
}

TEST_F(LogFileFaultTest, FailedCloseKeepsTheFileOpenAndCanBeRepeated) {
  const std::string path = dir_.File("close.log");
  OpenWrite(path);
  Bytes plain;
  ASSERT_EQ(WriteTracked(1, 300, &plain), S_OK);
  ASSERT_EQ(WriteTracked(2, 50, &plain), S_OK);
  fs_.write_budget = 5;
  EXPECT_CVR_ERROR(file_->Close(), E_CVR_DISK_FULL, "Out of disk space", kTag);
  fs_.write_error = kErrAccessDenied;
  fs_.write_budget = 0;
  EXPECT_CVR_ERROR(file_->Close(), E_CVR_BUFFER_FLUSH_FAILED, "Cannot flush buffered data to disk", kTag);
  fs_.write_budget = -1;
  ASSERT_EQ(WriteTracked(3, 7, &plain), S_OK);  // still open
  ASSERT_EQ(file_->Close(), S_OK);
  ExpectLog(path, plain);
}

// A buffer whose failed write cannot be cut back takes no more blocks, and
// Close gives the file up rather than writing after bytes of unknown state.
TEST_F(LogFileFaultTest, BufferThatCannotBeCutBackTakesNoMoreBlocks) {
  const std::string path = dir_.File("broken.log");
  OpenWrite(path);
  Bytes plain;
  ASSERT_EQ(WriteTracked(1, 10, &plain), S_OK);
  fs_.write_budget = 10;
  fs_.fail_cut = true;
  EXPECT_CVR_ERROR(WriteTracked(2, 100, &plain), E_CVR_DISK_FULL, "Block data write failed, disk full", kTag);
  fs_.write_budget = -1;
  EXPECT_CVR_ERROR(WriteTracked(3, 1, &plain), E_CVR_BLOCK_HEADER_WRITE_FAILED, "Block header write failed", kTag);
  EXPECT_CVR_ERROR(file_->Close(), E_CVR_BUFFER_FLUSH_FAILED, "Cannot flush buffered data to disk", kTag);
  EXPECT_CVR_ERROR(file_->Close(), E_CVR_FILE_NOT_OPEN, "File not open", kTag);
  fs_.fail_cut = false;
  EXPECT_EQ(FileSize(path), 60 + 10);
}

}  // namespace
}  // namespace corvane::test
