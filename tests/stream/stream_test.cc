// LogFileStream and IndexFileStream on real files, the settings rules and the
// time base. Reads after seeks in any order are checked against the file by
// fuzz/log_file_stream_fuzz.cc.
#include <gtest/gtest.h>

#include "platform/byte_order.h"
#include "platform/registry.h"
#include "stream/file_format.h"
#include "stream/index_file_stream.h"
#include "stream/log_file_stream.h"
#include "stream/settings.h"
#include "stream/time_base.h"
#include "support/fault_file_system.h"
#include "support/log_bytes.h"
#include "support/temp_dir.h"

namespace corvane::stream {
namespace {

using platform::Disposition;
using platform::SeekOrigin;
using test::Pattern;
namespace registry = platform::registry;
constexpr uint32_t kRead = platform::kAccessRead, kWrite = platform::kAccessWrite;

platform::OpenOptions Opts(uint32_t access, Disposition d = Disposition::kOpenExisting) {
  return {access, platform::kShareRead | platform::kShareWrite, d, false};
}

class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override { (void)registry::DeleteTree(platform::Hive::kCurrentUser, kSettingsKey); }
  // Under Wine every test program shares the registry: a size left behind
  // would change the next program's opens.
  void TearDown() override { SetUp(); }

  // Everything behind the header, read through a stream that detects the version.
  std::vector<uint8_t> ReadBody() {
    LogFileStream r;
    std::vector<uint8_t> out(1 << 16);
    uint32_t got = 0;
    EXPECT_TRUE(r.Open(path_, Opts(kRead), 0).ok());
    EXPECT_TRUE(r.Seek(r.header_length(), SeekOrigin::kBegin).ok());
    EXPECT_TRUE(r.Read(out.data(), static_cast<uint32_t>(out.size()), &got).ok());
    out.resize(got);
    return out;
  }
  static uint32_t Stored(const char* name) {
    uint8_t data[4] = {};
    uint32_t size = sizeof data, type = 0;
    EXPECT_TRUE(registry::QueryValue(platform::Hive::kCurrentUser, kSettingsKey, name, data, &size, &type).ok());
    return DecodeLE32(data);
  }
  std::vector<uint8_t> ReadAt(LogFileStream& s, int64_t pos, uint32_t n) {
    EXPECT_TRUE(s.Seek(pos, SeekOrigin::kBegin).ok());
    std::vector<uint8_t> out(n);
    EXPECT_TRUE(s.Read(out.data(), n, &n).ok());
    out.resize(n);
    return out;
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("log.cvr");
};

// Open reports the system's code, also on success; a refused open keeps the
// file, a failed one closes it; an empty file takes the version passed in.
TEST_F(StreamTest, OpenReportsTheSystemCode) {
  test::WriteFileBytes(path_, {});
  LogFileStream s;
  uint32_t err = 0;
  ASSERT_TRUE(s.Open(path_, Opts(kRead), FileVersionCVR_Vu102).ok());
  EXPECT_EQ(s.version(), FileVersionCVR_Vu102);
  EXPECT_FALSE(s.Open(path_, Opts(kWrite, Disposition::kCreateAlways), FileVersionCVR_V0100).ok());
  EXPECT_TRUE(s.is_open());
  ASSERT_TRUE(s.Open(path_, Opts(kWrite, Disposition::kOpenAlways), FileVersionCVR_V0102, &err).ok())
      << "the file still open on this stream does not stand in the way of its reopening";
  EXPECT_EQ(err, kErrAlreadyExists);
  EXPECT_EQ(s.Open(dir_.File("missing"), Opts(kRead), 0, &err).code(), kErrFileNotFound);
  EXPECT_EQ(err, kErrFileNotFound);
  EXPECT_FALSE(s.is_open());
  EXPECT_EQ(s.Open(std::string(platform::MaxPathLength() + 1, 'a'), Opts(kRead), 8, &err).code(), kErrFilenameTooLong);
  EXPECT_EQ(err, kErrFilenameTooLong);
}

// A record or flush that meets a full disk is taken back whole: unbuffered,
// in the buffer it fills, in a later one, or at the flush. The retry leaves
// no partial record behind; a kept buffer is written again, not appended.
TEST_F(StreamTest, FailedWriteIsTakenBackWholeAndARetryWorks) {
  // budget: bytes the disk takes once the fault is armed; length: of the
  // failing record (0: the flush fails).
  const struct { int version; uint32_t buffer; int64_t budget; uint32_t length; } cases[] = {
      {FileVersionCVR_V0102, 0, 10, 600},    {FileVersionCVR_V0102, 256, 0, 600},
      {FileVersionCVR_V0102, 256, 300, 600}, {FileVersionCVR_Ve102, 256, 300, 600},
      {FileVersionCVR_V0102, 256, 100, 200}, {FileVersionCVR_Ve102, 256, 0, 200},
      {FileVersionCVR_V0102, 256, 100, 0},   {FileVersionCVR_Ve102, 256, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.version << " " << c.buffer << " " << c.budget << " " << c.length);
    test::FaultFileSystem fs;
    platform::ScopedFileSystemOverride use(&fs);
    LogFileStream s;
    s.set_disk_buffer_size(c.buffer);
    ASSERT_TRUE(s.Open(path_, Opts(kWrite, Disposition::kCreateAlways), c.version).ok());
    std::vector<uint8_t> expected;
    auto write = [&](uint8_t seed, uint32_t length) {
      std::vector<uint8_t> record = Pattern(16 + length, seed);
      Status st = s.WriteRecord(record.data(), 16, record.data() + 16, length);
      if (st.ok()) expected.insert(expected.end(), record.begin(), record.end());
      return st;
    };
    ASSERT_TRUE(write(1, 100).ok());
    ASSERT_TRUE(write(2, 50).ok());
    fs.write_budget = c.budget;
    EXPECT_EQ((c.length ? write(3, c.length) : s.FlushBuffer()).code(), kErrDiskFull);
    fs.write_budget = -1;
    EXPECT_TRUE(!c.length || write(3, c.length).ok()) << "the retry";
    ASSERT_TRUE(write(5, 10).ok());
    ASSERT_TRUE(s.FlushBuffer().ok());
    s.Close();
    EXPECT_EQ(test::FileSize(path_), static_cast<int64_t>(128 + expected.size()));
    EXPECT_EQ(ReadBody(), expected);
  }
}

// ReadView hands out what Read would, across window refills and steps back
// (a file still growing: the viewer test of tests/hardening).
TEST_F(StreamTest, ReadViewHandsOutTheFileAcrossRefillsAndStepsBack) {
  std::vector<uint8_t> file = BuildHeader(FileVersionCVR_V0102);
  test::PutBytes(file, Pattern(150000, 5));
  test::WriteFileBytes(path_, file);
  LogFileStream s;
  ASSERT_TRUE(s.Open(path_, Opts(kRead), 0).ok());
  ASSERT_TRUE(s.Seek(100, SeekOrigin::kBegin).ok());
  const uint8_t* data = nullptr;
  uint32_t got = 0;
  size_t at = 100;
  while (s.ReadView(2000, &data, &got).ok() && got) {
    ASSERT_LE(at + got, file.size());
    ASSERT_TRUE(std::equal(data, data + got, file.begin() + at)) << "at " << at;
    at += got;
    if (got == 2000) {  // as the indexing walk does for an item cut off at the chunk's end
      ASSERT_TRUE(s.Seek(-7, SeekOrigin::kCurrent).ok());
      at -= 7;
    }
  }
  EXPECT_EQ(at, file.size());
}

// A write through the stream leaves nothing stale in the read window and goes
// where the logical pointer stands.
TEST_F(StreamTest, NothingStaleAfterAWriteThroughTheSameStream) {
  std::vector<uint8_t> file = BuildHeader(FileVersionCVR_V0102);
  test::PutBytes(file, Pattern(4000, 5));
  test::WriteFileBytes(path_, file);
  LogFileStream s;
  ASSERT_TRUE(s.Open(path_, Opts(kRead | kWrite), 0).ok());
  ReadAt(s, 500, 10);
  ASSERT_TRUE(s.Seek(500, SeekOrigin::kBegin).ok());
  uint8_t patch[4] = {9, 9, 9, 9};
  uint32_t written = 0;
  ASSERT_TRUE(s.Write(patch, 4, &written).ok());
  EXPECT_EQ(s.GetPosition(), 504);
  std::fill(file.begin() + 500, file.begin() + 504, 9);
  EXPECT_EQ(ReadAt(s, 498, 8), std::vector<uint8_t>(file.begin() + 498, file.begin() + 506));
  ReadAt(s, 1000, 50);
  ASSERT_TRUE(s.Write(patch, 4, &written).ok());
  EXPECT_EQ(test::ReadFileBytes(path_)[1050], 9);
}

TEST(IndexPathTest, ExtensionBecomesIdxUnlessThePathHasATilde) {
  const std::pair<const char*, const char*> cases[] = {{"dir/log.a.b", "dir/log.a.idx"},
                                                       {"C:\\dir.v2\\log", "C:\\dir.v2\\log.idx"},
                                                       {"dir/.hidden", "dir/.hidden.idx"},
                                                       {"dir/~log.idx", "dir/~log.idx"}};
  for (auto [in, out] : cases) EXPECT_EQ(IndexFileStream::IndexPathFor(in), out) << in;
}

// The stream's sizes are stored when missing, and read from the first four
// bytes of a value of any type; a value longer than 260 bytes is replaced.
// LogFile's rule: a created key gives 128, a missing value 0 (used as 128), a
// stored value is rounded up to a multiple of 128, never wrapping, and is
// not rewritten.
TEST_F(StreamTest, Settings) {
  EXPECT_EQ(ReadStreamSettings().indexing_buffer_size, 2048u);
  EXPECT_EQ(Stored(kIndexingBufferSizeName), 2048u);
  ASSERT_TRUE(registry::SetString(platform::Hive::kCurrentUser, kSettingsKey, kIndexingBufferSizeName,
                                  std::string("\x00\x10\x00\x00zz", 6)).ok());
  EXPECT_EQ(ReadStreamSettings().indexing_buffer_size, 4096u);
  ASSERT_TRUE(registry::SetString(platform::Hive::kCurrentUser, kSettingsKey, kDiskBufferSizeName,
                                  std::string(300, 'x')).ok());
  EXPECT_EQ(ReadStreamSettings().disk_buffer_size, 0u);
  EXPECT_EQ(Stored(kDiskBufferSizeName), 0u);

  ASSERT_TRUE(registry::DeleteTree(platform::Hive::kCurrentUser, kSettingsKey).ok());
  EXPECT_EQ(ReadLogFileDiskBufferSetting(), 128u);
  ASSERT_TRUE(registry::DeleteValue(platform::Hive::kCurrentUser, kSettingsKey, kDiskBufferSizeName).ok());
  EXPECT_EQ(std::make_pair(ReadLogFileDiskBufferSetting(), LogFileDiskBufferSize()), std::make_pair(0u, 128u));
  for (auto [stored, used] : {std::pair{0u, 0u}, {1u, 128u}, {256u, 256u}, {0xFFFFFF81u, 0xFFFFFF80u}}) {
    StoreDiskBufferSize(stored);
    EXPECT_EQ(std::make_pair(ReadLogFileDiskBufferSetting(), Stored(kDiskBufferSizeName)), std::make_pair(used, stored));
  }
}

// Counter spans become nanoseconds without overflow; a counter that went
// back gives 0 rather than a huge stamp.
TEST(TimeBaseTest, CounterSpansBecomeNanosecondsWithoutOverflow) {
  const struct { int64_t span, frequency; uint64_t nanoseconds; } cases[] = {
      {1, 3, 333333333},
      {int64_t{20} * 1000000000, 1000000000, uint64_t{20} * 1000000000},  // x 10^9 passes 2^64
      {864000000000, 10000000, 86400000000000},                          // x 10^9 passes 2^63
      {int64_t{3579545} * 31536000, 3579545, uint64_t{31536000} * 1000000000},
      {-5, 10000000, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(TimeBase::CounterToNanoseconds(c.span, c.frequency), c.nanoseconds) << c.span;
}

}  // namespace
}  // namespace corvane::stream
