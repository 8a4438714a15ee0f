// The made-up block headers of raw message records.
#include "stream/raw_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace corvane::stream {
namespace {

// A record of `length` bytes (at least 6) followed by `extra` bytes of the
// next record, with a stamp-shaped payload.
std::vector<uint8_t> Record(uint32_t length, uint8_t resource, uint8_t kind, uint64_t ticks,
                            uint32_t extra = 0) {
  std::vector<uint8_t> r(length + extra, 0xCC);
  r[0] = 0x10;
  r[1] = 0xFD;
  r[2] = 0x01;
  r[3] = resource;
  r[4] = static_cast<uint8_t>((length - 6) >> 8);
  r[5] = static_cast<uint8_t>(length - 6);
  if (r.size() > 9) r[9] = kind;
  for (int i = 0; i < 8 && 12u + i < r.size(); ++i) {
    r[12 + i] = static_cast<uint8_t>(ticks >> (8 * (7 - i)));
  }
  return r;
}

RawRecordBlock Decode(const std::vector<uint8_t>& bytes) {
  RawRecordBlock block;
  const uint32_t got = static_cast<uint32_t>(std::min<size_t>(bytes.size(), kRawRecordLookAhead));
  EXPECT_TRUE(DecodeRawRecord(bytes.data(), got, &block));
  return block;
}

TEST(RawRecordTest, StampedRecordConvertsTicksToNanoseconds) {
  RawRecordBlock b = Decode(Record(20, 0x7C, 0x80, 3686400));
  EXPECT_EQ(b.block_id, 0x50);
  EXPECT_EQ(b.conn_id, 0xFF);
  EXPECT_EQ(b.time_stamp_mode, 1);
  EXPECT_EQ(b.time_stamp, 1000000000u);
  EXPECT_EQ(b.record_length, 20u);
  EXPECT_EQ(b.data_length, 20u);
}

TEST(RawRecordTest, RecordIsUnstampedWithoutTheMarkTheKindOrTheRoomForAStamp) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    uint32_t got;
  };
  const Case cases[] = {
      {"kind 0x85", Record(20, 0x7C, 0x85, 1), 20},
      {"resource 0x7B", Record(20, 0x7B, 0x80, 1), 20},
      {"look-ahead cut at the end of the file", Record(20, 0x7C, 0x80, 1), 19},
      // The stamp bytes would belong to the record behind this one.
      {"record shorter than its stamp", Record(12, 0x7C, 0x80, 1, 8), 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RawRecordBlock b;
    ASSERT_TRUE(DecodeRawRecord(c.bytes.data(), c.got, &b));
    EXPECT_EQ(b.time_stamp_mode, 0);
    EXPECT_EQ(b.time_stamp, 0u);
  }
}

TEST(RawRecordTest, ShortLastRecordDecodesButACutHeadDoesNot) {
  std::vector<uint8_t> last = Record(8, 0x7C, 0x80, 0);
  RawRecordBlock b;
  EXPECT_TRUE(DecodeRawRecord(last.data(), 8, &b));
  EXPECT_EQ(b.record_length, 8u);
  EXPECT_EQ(b.data_length, 8u);
  for (uint32_t got = 0; got < 6; ++got) EXPECT_FALSE(DecodeRawRecord(last.data(), got, &b)) << got;
}

TEST(RawRecordTest, TickConversionTruncatesAndSaturates) {
  EXPECT_EQ(TicksToNanoseconds(0), 0u);
  EXPECT_EQ(TicksToNanoseconds(1), 271u);
  EXPECT_EQ(TicksToNanoseconds(36864), 10000000u);
  EXPECT_EQ(static_cast<int64_t>(TicksToNanoseconds(-1)), -271);
  EXPECT_EQ(TicksToNanoseconds(INT64_MAX), static_cast<uint64_t>(INT64_MAX));
  EXPECT_EQ(static_cast<int64_t>(TicksToNanoseconds(INT64_MIN)), INT64_MIN);
}

}  // namespace
}  // namespace corvane::stream
