// IndexFileStream: paths, versions, fields in both byte orders, records.
#include "stream/index_file_stream.h"

#include <gtest/gtest.h>

#include "platform/byte_order.h"
#include "stream/file_format.h"
#include "support/temp_dir.h"

namespace corvane::stream {
namespace {

using platform::Disposition;
using platform::OpenOptions;

constexpr OpenOptions kCreate{platform::kAccessWrite, platform::kShareRead,
                              Disposition::kOpenAlways, false};
constexpr OpenOptions kExisting{platform::kAccessRead, platform::kShareRead,
                                Disposition::kOpenExisting, false};

TEST(IndexPathTest, ExtensionBecomesIdxUnlessThePathHasATilde) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"dir/log.a.b", "dir/log.a.idx"},
      {"C:\\dir.v2\\log", "C:\\dir.v2\\log.idx"},
      {"dir/.hidden", "dir/.hidden.idx"},
      {"dir/~log.idx", "dir/~log.idx"},
  };
  for (auto c : cases) EXPECT_EQ(IndexFileStream::IndexPathFor(c.in), c.out) << c.in;
}

class IndexFileStreamTest : public ::testing::Test {
 protected:
  // Creates the index of a log of `log_version` holding `records`.
  void MakeIndex(int log_version, uint64_t resolution, const std::vector<IndexRecord>& records,
                 uint64_t count) {
    IndexFileStream s;
    s.set_disk_buffer_size(128);
    ASSERT_TRUE(s.OpenIndex(log_, kCreate, log_version, resolution).ok());
    for (const IndexRecord& r : records) ASSERT_TRUE(s.WriteIndexRecord(r).ok());
    ASSERT_TRUE(s.FlushBuffer().ok());
    ASSERT_TRUE(s.WriteRecordCount(count).ok());
    EXPECT_EQ(s.GetPosition(), 144);
  }

  test::TempDir dir_;
  std::string log_ = dir_.File("log.cvr");
  std::string idx_ = dir_.File("log.idx");
};

TEST_F(IndexFileStreamTest, ByteOrderFollowsTheLogVersionAndRecordsReadBack) {
  const struct {
    int log_version;
    EnumFileVersion index_version;
    ByteOrder order;
  } cases[] = {{FileVersionCVR_Vu102, FileVersionIDX_Vu102, ByteOrder::kBig},
               {FileVersionCVR_V0102, FileVersionIDX_V0102, ByteOrder::kLittle},
               {FileVersionCVR_Ve102, FileVersionIDX_V0102, ByteOrder::kLittle}};
  for (auto c : cases) {
    SCOPED_TRACE(c.log_version);
    MakeIndex(c.log_version, 100, {{1000, 990, 0}, {0x0102030405060708, 7, 3}}, 250);
    std::vector<uint8_t> f = test::ReadFileBytes(idx_);
    ASSERT_EQ(f.size(), 144u + 48u);
    EXPECT_TRUE(std::equal(f.begin(), f.begin() + 128, BuildHeader(c.index_version).begin()));
    EXPECT_EQ(Decode64(c.order, &f[128]), 100u);
    EXPECT_EQ(Decode64(c.order, &f[136]), 250u);
    EXPECT_EQ(Decode64(c.order, &f[168]), 0x0102030405060708u);
    EXPECT_EQ(Decode32(c.order, &f[184]), 3u);
    EXPECT_EQ(Decode32(c.order, &f[188]), 0u);

    IndexFileStream r;
    ASSERT_TRUE(r.OpenIndex(log_, kExisting, c.log_version, 0).ok());
    EXPECT_EQ(r.version(), c.index_version);
    EXPECT_EQ(r.resolution(), 100u);
    EXPECT_EQ(r.record_count(), 250u);
    IndexRecord rec;
    ASSERT_TRUE(r.ReadIndexRecord(250, &rec).ok());  // record 2 - 1
    EXPECT_EQ(rec, (IndexRecord{0x0102030405060708, 7, 3}));
    ASSERT_TRUE(r.ReadIndexRecord(100, &rec).ok());
    EXPECT_EQ(rec, (IndexRecord{1000, 990, 0}));
    EXPECT_EQ(r.ReadIndexRecord(300, &rec).code(), kErrHandleEof) << "not written yet";
    EXPECT_EQ(rec, IndexRecord{});
    // No record lies below the resolution.
    EXPECT_EQ(r.ReadIndexRecord(99, &rec).code(), kErrInvalidParameter);
    EXPECT_EQ(r.ReadIndexRecord(UINT64_MAX, &rec).code(), kErrInvalidParameter);
  }
  IndexFileStream never_opened;
  IndexRecord rec;
  EXPECT_EQ(never_opened.ReadIndexRecord(5, &rec).code(), kErrInvalidParameter);
}

TEST_F(IndexFileStreamTest, OutdatedOrForeignIndexReadsAsMissing) {
  std::vector<uint8_t> old = BuildHeader(FileVersionIDX_V0102);
  std::copy_n("IDX V 01.02\n\0\0\0\0", 16, old.begin() + 64);
  old.resize(144 + 24, 0);
  old[128] = 1;
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {{"sub-version 0", old}, {"a log file", BuildHeader(FileVersionCVR_V0102)}, {"empty", {}}};
  for (auto& c : cases) {
    test::WriteFileBytes(idx_, c.bytes);
    IndexFileStream r;
    EXPECT_EQ(r.OpenIndex(log_, kExisting, FileVersionCVR_V0102, 0).code(), kErrFileNotFound) << c.name;
    EXPECT_TRUE(r.is_open()) << c.name;
  }
  IndexFileStream r;
  EXPECT_EQ(r.OpenIndex(dir_.File("none.cvr"), kExisting, 8, 0).code(), kErrFileNotFound);
}

TEST_F(IndexFileStreamTest, HeaderFieldReadsKeepThePositionAndTheRebuildPathIsUsedAsGiven) {
  MakeIndex(FileVersionCVR_Vu102, 7, {}, 0);
  IndexFileStream s;
  OpenOptions rw = kExisting;
  rw.access |= platform::kAccessWrite;
  ASSERT_TRUE(s.OpenIndex(log_, rw, FileVersionCVR_Vu102, 0).ok());
  ASSERT_TRUE(s.Seek(60, platform::SeekOrigin::kBegin).ok());
  EXPECT_EQ(s.ReadResolution(), 7u);
  ASSERT_TRUE(s.WriteRecordCount(12345).ok());
  EXPECT_EQ(s.ReadRecordCount(), 12345u);
  EXPECT_EQ(s.GetPosition(), 144);
  s.Close();
  EXPECT_TRUE(s.DeleteIndexFile().ok());
  EXPECT_FALSE(test::FileExists(idx_));
  EXPECT_EQ(s.DeleteIndexFile().code(), kErrFileNotFound);

  s.set_disk_buffer_size(0);  // unbuffered: the fields reach the file at once
  std::string rebuild = dir_.File("~log.idx");
  ASSERT_TRUE(s.OpenIndex(rebuild, kCreate, FileVersionCVR_V0102, 10).ok());
  EXPECT_EQ(s.path(), rebuild);
  s.Close();
  EXPECT_EQ(test::FileSize(rebuild), 144);
}

}  // namespace
}  // namespace corvane::stream
