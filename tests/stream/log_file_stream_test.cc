// LogFileStream: opening, buffering and failed writes.
#include "stream/log_file_stream.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "stream/settings.h"
#include "stream_test_util.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace corvane::stream {
namespace {

using namespace files;
using platform::SeekOrigin;

class LogFileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    (void)platform::registry::DeleteTree(platform::Hive::kCurrentUser, kSettingsKey);
  }
  std::string Path(const char* name = "log.cvr") { return dir_.File(name); }
  test::TempDir dir_;
};

TEST_F(LogFileStreamTest, OpenReportsTheSystemCodeAlsoOnSuccess) {
  test::WriteFileBytes(Path(), {1, 2, 3});
  LogFileStream s;
  uint32_t err = 0;
  platform::OpenOptions always = ForWriting();
  always.disposition = platform::Disposition::kOpenAlways;
  ASSERT_TRUE(s.Open(Path(), always, FileVersionCVR_V0102, &err).ok());
  EXPECT_EQ(err, kErrAlreadyExists);
  EXPECT_EQ(s.Open(Path("missing"), ForReading(), 0, &err).code(), kErrFileNotFound);
  EXPECT_EQ(err, kErrFileNotFound);
  EXPECT_FALSE(s.is_open()) << "the earlier file is closed in any case";
  std::string overlong(platform::MaxPathLength() + 1, 'a');
  EXPECT_EQ(s.Open(overlong, ForWriting(), 8, &err).code(), kErrFilenameTooLong);
  EXPECT_EQ(err, kErrFilenameTooLong);

  test::WriteFileBytes(Path(), {});
  ASSERT_TRUE(s.Open(Path(), ForReading(), FileVersionCVR_Vu102).ok());
  EXPECT_EQ(s.version(), FileVersionCVR_Vu102) << "an empty file takes the version passed in";
  EXPECT_FALSE(s.Open(Path(), ForWriting(), FileVersionCVR_V0100).ok()) << "no header writer";
  EXPECT_TRUE(s.is_open());
  EXPECT_TRUE(s.Open(Path(), ForWriting(), FileVersionCVR_V0102).ok())
      << "the file still open on this stream does not stand in the way of its reopening";
}

// The buffer size is read from the settings at construction and used from
// the next open on (enciphered versions round it up to a multiple of 128);
// a full buffer is written only when the next byte arrives.
TEST_F(LogFileStreamTest, BufferSizeFromTheSettingsAndFullBufferWrittenByTheNextByte) {
  StoreDiskBufferSize(256);
  LogFileStream s;
  EXPECT_EQ(s.disk_buffer_size(), 256u);
  ASSERT_TRUE(s.Open(Path(), ForWriting(), FileVersionCVR_V0102).ok());
  s.set_disk_buffer_size(200);
  EXPECT_EQ(s.disk_buffer_capacity(), 256u);
  std::vector<uint8_t> data = Pattern(300);
  ASSERT_TRUE(s.WriteBuffered(data.data(), 100).ok());
  ASSERT_TRUE(s.WriteBuffered(data.data() + 100, 156).ok());
  EXPECT_EQ(s.GetSize(), 128);
  EXPECT_EQ(s.GetPosition(), 128) << "buffered bytes are not counted";
  EXPECT_EQ(s.buffered_bytes(), 256u);
  ASSERT_TRUE(s.WriteBuffered(data.data() + 256, 1).ok());
  EXPECT_EQ(s.GetSize(), 128 + 256);
  EXPECT_EQ(s.buffered_bytes(), 1u);
  ASSERT_TRUE(s.WriteBuffered(data.data() + 257, 43).ok());
  ASSERT_TRUE(s.FlushBuffer().ok());
  EXPECT_EQ(s.buffered_bytes(), 0u);
  s.Close();
  EXPECT_EQ(ReadBody(Path()), data);

  ASSERT_TRUE(s.Open(Path(), ForWriting(), FileVersionCVR_Ve102).ok());
  EXPECT_EQ(s.disk_buffer_capacity(), 256u) << "200 rounded up";
  s.set_disk_buffer_size(0);  // writes every call through
  ASSERT_TRUE(s.Open(Path(), ForWriting(), FileVersionCVR_V0102).ok());
  ASSERT_TRUE(s.WriteBuffered(data.data(), 3).ok());
  EXPECT_EQ(s.GetSize(), 131);
  EXPECT_EQ(s.buffered_bytes(), 0u);
  EXPECT_EQ(ReadLogFileDiskBufferSetting(), 256u) << "the setting is not changed";
}

TEST_F(LogFileStreamTest, ShortWriteMovesBackAndFails) {
  test::FaultFileSystem fs;
  platform::ScopedFileSystemOverride use(&fs);
  LogFileStream s;
  ASSERT_TRUE(s.Open(Path(), ForWriting(), FileVersionCVR_V0102).ok());
  fs.write_budget = 10;
  std::vector<uint8_t> data = Pattern(50);
  uint32_t written = 0;
  EXPECT_EQ(s.Write(data.data(), 50, &written).code(), kErrDiskFull);
  EXPECT_EQ(written, 10u);
  EXPECT_EQ(s.GetPosition(), 128) << "back where the write began";
  fs.write_budget = -1;
  ASSERT_TRUE(s.Write(data.data(), 50, &written).ok());
  s.Close();
  EXPECT_EQ(test::ReadFileBytes(Path()).size(), 178u);
}

TEST_F(LogFileStreamTest, FailedFlushKeepsTheBytesForARetry) {
  for (int v : {FileVersionCVR_V0102, FileVersionCVR_Ve102}) {
    SCOPED_TRACE(v);
    test::FaultFileSystem fs;
    platform::ScopedFileSystemOverride use(&fs);
    LogFileStream s;
    s.set_disk_buffer_size(256);
    ASSERT_TRUE(s.Open(Path(), ForWriting(), v).ok());
    std::vector<uint8_t> data = Pattern(600);
    fs.write_budget = 100;
    EXPECT_EQ(s.WriteBuffered(data.data(), 300).code(), kErrDiskFull);
    EXPECT_EQ(s.buffered_bytes(), 256u) << "the full buffer is kept";
    EXPECT_EQ(s.GetPosition(), 128);
    fs.write_budget = -1;
    ASSERT_TRUE(s.FlushBuffer().ok()) << "the kept buffer is written again, not appended";
    ASSERT_TRUE(s.WriteBuffered(data.data() + 256, 344).ok());
    fs.write_budget = 0;
    EXPECT_FALSE(s.FlushBuffer().ok());
    EXPECT_EQ(s.buffered_bytes(), 88u);
    fs.write_budget = -1;
    ASSERT_TRUE(s.FlushBuffer().ok());
    s.Close();
    EXPECT_EQ(ReadBody(Path()), data);
  }
}

// A record whose write fails part way is taken back whole, so its retry
// leaves no partial record behind (a fault fixed earlier).
TEST_F(LogFileStreamTest, FailedRecordIsTakenBackWhole) {
  struct Case {
    int version;
    uint32_t buffer;
    int64_t budget;   // bytes the disk takes once the faulty record starts
    uint32_t length;  // of its data: 200 needs one buffer write, 600 two or more
  };
  const Case cases[] = {
      {FileVersionCVR_V0102, 0, 10, 600},    {FileVersionCVR_V0102, 256, 0, 600},
      {FileVersionCVR_V0102, 256, 300, 600}, {FileVersionCVR_Ve102, 256, 300, 600},
      {FileVersionCVR_V0102, 256, 100, 200}, {FileVersionCVR_Ve102, 256, 0, 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "version " << c.version << " buffer " << c.buffer
                                      << " budget " << c.budget << " length " << c.length);
    test::FaultFileSystem fs;
    platform::ScopedFileSystemOverride use(&fs);
    LogFileStream s;
    s.set_disk_buffer_size(c.buffer);
    ASSERT_TRUE(s.Open(Path(), ForWriting(), c.version).ok());
    std::vector<uint8_t> expected;
    auto write = [&](uint8_t seed, uint32_t length) {
      std::vector<uint8_t> head = Pattern(16, seed), data = Pattern(length, seed + 1);
      Status st = s.WriteRecord(head.data(), 16, data.data(), length);
      if (st.ok()) {
        expected.insert(expected.end(), head.begin(), head.end());
        expected.insert(expected.end(), data.begin(), data.end());
      }
      return st;
    };
    ASSERT_TRUE(write(1, 100).ok());
    ASSERT_TRUE(write(2, 50).ok());
    fs.write_budget = c.budget;
    EXPECT_EQ(write(3, c.length).code(), kErrDiskFull);
    fs.write_budget = -1;
    ASSERT_TRUE(write(3, c.length).ok()) << "the retry";
    ASSERT_TRUE(write(5, 10).ok());
    ASSERT_TRUE(s.FlushBuffer().ok());
    s.Close();
    EXPECT_EQ(test::ReadFileBytes(Path()).size(), 128 + expected.size());
    EXPECT_EQ(ReadBody(Path()), expected);
  }
}

}  // namespace
}  // namespace corvane::stream
