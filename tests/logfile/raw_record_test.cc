// The made-up block headers of raw message records.
#include "stream/raw_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace corvane::stream {
namespace {

// A record of `length` bytes (at least 6) followed by `extra` bytes of the
// next record, with a stamp-shaped payload (kind at 9, ticks at 12..19).
std::vector<uint8_t> Record(uint32_t length, uint8_t resource, uint8_t kind, uint64_t ticks,
                            uint32_t extra = 0) {
  std::vector<uint8_t> r(length + extra, 0xCC);
  const uint8_t head[] = {0x10, 0xFD, 0x01, resource, static_cast<uint8_t>((length - 6) >> 8),
                          static_cast<uint8_t>(length - 6)};
  std::copy(head, head + 6, r.begin());
  if (r.size() > 9) r[9] = kind;
  for (int i = 0; i < 8 && 12u + i < r.size(); ++i) r[12 + i] = static_cast<uint8_t>(ticks >> (8 * (7 - i)));
  return r;
}

// Only resource 0x7C with kind 0x80 and room for the ticks inside the
// record itself carries a stamp.
TEST(RawRecordTest, MadeUpHeaderCarriesTheStampOnlyWhereTheRecordHoldsOne) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    uint32_t got;  // bytes of look-ahead available
    uint8_t mode;
    uint64_t stamp;
    uint32_t length;
  };
  const Case cases[] = {
      {"stamped", Record(20, 0x7C, 0x80, 3686400), 20, 1, 1000000000u, 20},
      {"kind 0x85", Record(20, 0x7C, 0x85, 1), 20, 0, 0, 20},
      {"resource 0x7B", Record(20, 0x7B, 0x80, 1), 20, 0, 0, 20},
      {"look-ahead cut at the end of the file", Record(20, 0x7C, 0x80, 1), 19, 0, 0, 20},
      {"record shorter than its stamp", Record(12, 0x7C, 0x80, 1, 8), 20, 0, 0, 12},
      {"short last record", Record(8, 0x7C, 0x80, 0), 8, 0, 0, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RawRecordBlock b;
    ASSERT_TRUE(DecodeRawRecord(c.bytes.data(), c.got, &b));
    EXPECT_EQ(b.block_id, 0x50);
    EXPECT_EQ(b.conn_id, 0xFF);
    EXPECT_EQ(b.time_stamp_mode, c.mode);
    EXPECT_EQ(b.time_stamp, c.stamp);
    EXPECT_EQ(b.record_length, c.length);
    EXPECT_EQ(b.data_length, c.length);
  }
  RawRecordBlock b;
  for (uint32_t got = 0; got < 6; ++got) EXPECT_FALSE(DecodeRawRecord(cases[0].bytes.data(), got, &b)) << got;
}

TEST(RawRecordTest, TickConversionTruncatesAndSaturates) {
  const std::pair<int64_t, int64_t> cases[] = {
      {0, 0}, {1, 271}, {36864, 10000000}, {-1, -271}, {INT64_MAX, INT64_MAX}, {INT64_MIN, INT64_MIN}};
  for (auto [ticks, ns] : cases) EXPECT_EQ(static_cast<int64_t>(TicksToNanoseconds(ticks)), ns) << ticks;
}

}  // namespace
}  // namespace corvane::stream
