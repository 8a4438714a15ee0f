// The read-ahead window beneath Read keeps the results of unbuffered reads.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/file.h"
#include "stream/file_format.h"
#include "stream/log_file_stream.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace corvane::stream {
namespace {

using platform::Disposition;
using platform::OpenOptions;
using platform::SeekOrigin;

constexpr uint32_t kShareAll = platform::kShareRead | platform::kShareWrite;

std::vector<uint8_t> Plain102(size_t body) {
  std::vector<uint8_t> f = BuildHeader(FileVersionCVR_V0102);
  for (size_t i = 0; i < body; ++i) f.push_back(static_cast<uint8_t>(i * 13 + 5));
  return f;
}

class ReadAheadTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  std::string path_ = dir_.File("log.cvr");

  std::vector<uint8_t> ReadAt(LogFileStream& s, int64_t pos, uint32_t n) {
    EXPECT_TRUE(s.Seek(pos, SeekOrigin::kBegin).ok());
    std::vector<uint8_t> out(n);
    uint32_t got = 0;
    EXPECT_TRUE(s.Read(out.data(), n, &got).ok());
    out.resize(got);
    return out;
  }
};

TEST_F(ReadAheadTest, SmallReadsDoNotCostASystemCallEach) {
  test::WriteFileBytes(path_, Plain102(200000));
  test::FaultFileSystem fs;
  platform::ScopedFileSystemOverride use(&fs);
  LogFileStream s;
  ASSERT_TRUE(s.Open(path_, {platform::kAccessRead, kShareAll, Disposition::kOpenExisting}, 0).ok());
  ASSERT_TRUE(s.Seek(128, SeekOrigin::kBegin).ok());
  int before = fs.reads;
  uint8_t rec[80];
  uint32_t got = 0, total = 0;
  do {
    ASSERT_TRUE(s.Read(rec, 16, &got).ok());
    total += got;
    ASSERT_TRUE(s.Read(rec, 64, &got).ok());
    total += got;
  } while (got);
  EXPECT_EQ(total, 200000u);
  EXPECT_LT(fs.reads - before, 10);
}

// ReadView hands out the same bytes as Read, in place for plain versions,
// also across window refills, at the end of the file and after it grew.
TEST_F(ReadAheadTest, ReadViewDeliversWhatReadWouldAndSeesTheFileGrow) {
  std::vector<uint8_t> file = Plain102(150000);
  test::WriteFileBytes(path_, file);
  LogFileStream s;
  ASSERT_TRUE(s.Open(path_, {platform::kAccessRead, kShareAll, Disposition::kOpenExisting}, 0).ok());
  ASSERT_TRUE(s.Seek(100, SeekOrigin::kBegin).ok());
  size_t at = 100;
  for (;;) {
    const uint8_t* data = nullptr;
    uint32_t got = 0;
    ASSERT_TRUE(s.ReadView(2000, &data, &got).ok());
    if (got == 0) break;
    ASSERT_LE(at + got, file.size());
    ASSERT_TRUE(std::equal(data, data + got, file.begin() + at)) << "at " << at;
    at += got;
    // Step back a little, as the indexing walk does for an item that did
    // not fit the chunk.
    if (got == 2000) {
      ASSERT_TRUE(s.Seek(-7, SeekOrigin::kCurrent).ok());
      at -= 7;
    }
  }
  EXPECT_EQ(at, file.size());

  // Appended by another writer: the view reaches the new end.
  std::vector<uint8_t> more = Plain102(300);
  test::WriteFileBytes(path_, [&] {
    std::vector<uint8_t> grown = file;
    grown.insert(grown.end(), more.begin(), more.end());
    return grown;
  }());
  const uint8_t* data = nullptr;
  uint32_t got = 0;
  ASSERT_TRUE(s.ReadView(2000, &data, &got).ok());
  ASSERT_EQ(got, more.size());
  EXPECT_TRUE(std::equal(data, data + got, more.begin()));
}

TEST_F(ReadAheadTest, PositionsAreThoseOfTheLogicalPointer) {
  std::vector<uint8_t> file = Plain102(5000);
  test::WriteFileBytes(path_, file);
  LogFileStream s;
  ASSERT_TRUE(s.Open(path_, {platform::kAccessRead, kShareAll, Disposition::kOpenExisting}, 0).ok());
  uint8_t b[10];
  uint32_t got = 0;
  ASSERT_TRUE(s.Read(b, 10, &got).ok());
  EXPECT_EQ(s.GetPosition(), 10);
  ASSERT_TRUE(s.Seek(-4, SeekOrigin::kCurrent).ok());
  EXPECT_EQ(s.GetPosition(), 6);
  ASSERT_TRUE(s.Read(b, 2, &got).ok());
  EXPECT_EQ(b[0], file[6]);
  ASSERT_TRUE(s.Seek(-3, SeekOrigin::kEnd).ok());
  EXPECT_EQ(s.GetPosition(), static_cast<int64_t>(file.size()) - 3);
  ASSERT_TRUE(s.Read(b, 10, &got).ok());
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(s.Seek(-1, SeekOrigin::kBegin).code(), kErrNegativeSeek);
  EXPECT_EQ(s.GetPosition(), static_cast<int64_t>(file.size()));
  // Seeks in any order read what the file holds there.
  for (int64_t pos : {4000, 3, 4999, 128, 70000, 0}) {
    std::vector<uint8_t> got_bytes = ReadAt(s, pos, 100);
    size_t expect = pos >= static_cast<int64_t>(file.size())
                        ? 0
                        : std::min<size_t>(100, file.size() - pos);
    ASSERT_EQ(got_bytes.size(), expect) << pos;
    EXPECT_TRUE(std::equal(got_bytes.begin(), got_bytes.end(), file.begin() + std::min<int64_t>(pos, file.size())));
  }
}

TEST_F(ReadAheadTest, AGrowingFileIsReadToItsNewEnd) {
  std::vector<uint8_t> file = Plain102(1000);
  test::WriteFileBytes(path_, file);
  LogFileStream viewer;
  ASSERT_TRUE(viewer.Open(path_, {platform::kAccessRead, kShareAll, Disposition::kOpenExisting}, 0).ok());
  std::vector<uint8_t> first = ReadAt(viewer, 128, 5000);
  EXPECT_EQ(first.size(), 1000u);

  std::unique_ptr<platform::File> writer;
  ASSERT_TRUE(platform::OpenFile(path_, {platform::kAccessWrite, kShareAll, Disposition::kOpenExisting},
                                 &writer)
                  .ok());
  ASSERT_TRUE(writer->Seek(0, SeekOrigin::kEnd, nullptr).ok());
  std::vector<uint8_t> more(300, 0xAB);
  uint32_t written = 0;
  ASSERT_TRUE(writer->Write(more.data(), 300, &written).ok());

  uint8_t b[400];
  uint32_t got = 0;
  ASSERT_TRUE(viewer.Read(b, 400, &got).ok());  // continues at the old end
  EXPECT_EQ(got, 300u);
  EXPECT_EQ(b[0], 0xAB);
  // Reading across the old end, starting inside the window.
  std::vector<uint8_t> across = ReadAt(viewer, 128 + 990, 20);
  ASSERT_EQ(across.size(), 20u);
  EXPECT_EQ(across[9], file[128 + 999]);
  EXPECT_EQ(across[10], 0xAB);
}

TEST_F(ReadAheadTest, NothingStaleAfterAWriteThroughTheSameStream) {
  test::WriteFileBytes(path_, Plain102(4000));
  LogFileStream s;
  ASSERT_TRUE(s.Open(path_, {platform::kAccessRead | platform::kAccessWrite, kShareAll,
                              Disposition::kOpenExisting},
                     0)
                  .ok());
  std::vector<uint8_t> before = ReadAt(s, 500, 10);  // fills the window
  ASSERT_TRUE(s.Seek(500, SeekOrigin::kBegin).ok());
  uint8_t patch[4] = {9, 9, 9, 9};
  uint32_t written = 0;
  ASSERT_TRUE(s.Write(patch, 4, &written).ok());
  EXPECT_EQ(s.GetPosition(), 504);
  std::vector<uint8_t> after = ReadAt(s, 498, 8);
  EXPECT_EQ(after[2], 9);
  EXPECT_EQ(after[5], 9);
  EXPECT_EQ(after[6], before[4]);
  // A write behind reads goes where the logical pointer stands.
  ReadAt(s, 1000, 50);
  ASSERT_TRUE(s.Write(patch, 4, &written).ok());
  std::vector<uint8_t> file = test::ReadFileBytes(path_);
  EXPECT_EQ(file[1050], 9);
}

}  // namespace
}  // namespace corvane::stream
