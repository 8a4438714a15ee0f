// The read-ahead window beneath LogFileStream::Read. Reads after seeks in any
// order are checked against the file by fuzz/log_file_stream_fuzz.cc; the
// cost of small reads is measured by bench/.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/file.h"
#include "stream/file_format.h"
#include "stream/log_file_stream.h"
#include "stream_test_util.h"
#include "support/temp_dir.h"

namespace corvane::stream {
namespace {

using namespace files;
using platform::SeekOrigin;

std::vector<uint8_t> Plain102(size_t body) {
  std::vector<uint8_t> f = BuildHeader(FileVersionCVR_V0102);
  for (size_t i = 0; i < body; ++i) f.push_back(static_cast<uint8_t>(i * 13 + 5));
  return f;
}

class ReadAheadTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> ReadAt(LogFileStream& s, int64_t pos, uint32_t n) {
    EXPECT_TRUE(s.Seek(pos, SeekOrigin::kBegin).ok());
    std::vector<uint8_t> out(n);
    uint32_t got = 0;
    EXPECT_TRUE(s.Read(out.data(), n, &got).ok());
    out.resize(got);
    return out;
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("log.cvr");
};

// ReadView hands out the same bytes as Read, also across window refills and
// steps back, at the end of the file and after another writer appended.
TEST_F(ReadAheadTest, ReadViewDeliversWhatReadWouldAndAGrowingFileIsReadToItsNewEnd) {
  std::vector<uint8_t> file = Plain102(150000);
  test::WriteFileBytes(path_, file);
  LogFileStream s;
  ASSERT_TRUE(s.Open(path_, ForReading(), 0).ok());
  ASSERT_TRUE(s.Seek(100, SeekOrigin::kBegin).ok());
  const uint8_t* data = nullptr;
  uint32_t got = 0;
  size_t at = 100;
  for (;;) {
    ASSERT_TRUE(s.ReadView(2000, &data, &got).ok());
    if (got == 0) break;
    ASSERT_LE(at + got, file.size());
    ASSERT_TRUE(std::equal(data, data + got, file.begin() + at)) << "at " << at;
    at += got;
    if (got == 2000) {  // as the indexing walk does for an item cut off at the chunk's end
      ASSERT_TRUE(s.Seek(-7, SeekOrigin::kCurrent).ok());
      at -= 7;
    }
  }
  EXPECT_EQ(at, file.size());

  std::unique_ptr<platform::File> writer;
  ASSERT_TRUE(platform::OpenFile(path_, ForReading(platform::kAccessWrite), &writer).ok());
  ASSERT_TRUE(writer->Seek(0, SeekOrigin::kEnd, nullptr).ok());
  std::vector<uint8_t> more(300, 0xAB);
  uint32_t written = 0;
  ASSERT_TRUE(writer->Write(more.data(), 150, &written).ok());
  ASSERT_TRUE(s.ReadView(2000, &data, &got).ok());
  ASSERT_EQ(got, 150u);
  EXPECT_TRUE(std::equal(data, data + got, more.begin()));
  ASSERT_TRUE(writer->Write(more.data(), 150, &written).ok());
  uint8_t b[400];
  ASSERT_TRUE(s.Read(b, 400, &got).ok());  // Read as well continues at the old end
  EXPECT_EQ(got, 150u);
  EXPECT_EQ(b[0], 0xAB);
  // Across the old end, starting inside the window.
  std::vector<uint8_t> across = ReadAt(s, file.size() - 10, 20);
  ASSERT_EQ(across.size(), 20u);
  EXPECT_TRUE(std::equal(file.end() - 10, file.end(), across.begin()));
  EXPECT_EQ(across[10], 0xAB);
}

TEST_F(ReadAheadTest, NothingStaleAfterAWriteThroughTheSameStream) {
  std::vector<uint8_t> file = Plain102(4000);
  test::WriteFileBytes(path_, file);
  LogFileStream s;
  ASSERT_TRUE(s.Open(path_, ForReading(platform::kAccessRead | platform::kAccessWrite), 0).ok());
  ReadAt(s, 500, 10);  // fills the window
  ASSERT_TRUE(s.Seek(500, SeekOrigin::kBegin).ok());
  uint8_t patch[4] = {9, 9, 9, 9};
  uint32_t written = 0;
  ASSERT_TRUE(s.Write(patch, 4, &written).ok());
  EXPECT_EQ(s.GetPosition(), 504);
  std::vector<uint8_t> expect(file.begin() + 498, file.begin() + 506);
  std::fill(expect.begin() + 2, expect.begin() + 6, 9);
  EXPECT_EQ(ReadAt(s, 498, 8), expect);
  // A write behind reads goes where the logical pointer stands.
  ReadAt(s, 1000, 50);
  ASSERT_TRUE(s.Write(patch, 4, &written).ok());
  EXPECT_EQ(test::ReadFileBytes(path_)[1050], 9);
}

}  // namespace
}  // namespace corvane::stream
