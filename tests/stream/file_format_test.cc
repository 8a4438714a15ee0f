// Header layouts byte for byte, the version table, and the text tests that
// detection is built from.
#include "stream/file_format.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane::stream {
namespace {

std::string Slice(const std::vector<uint8_t>& h, size_t at, size_t n) {
  return std::string(h.begin() + at, h.begin() + at + n);
}

TEST(HeaderTest, Generation102IsLaidOutByteForByte) {
  const struct {
    int version;
    std::string banner, field;
  } cases[] = {{7, "Binary Log File\n", "CVR V e1.02\n"},
               {8, "Binary Log File\n", "CVR V 01.02\n"},
               {9, "Binary Log File\n", "CVR V u1.02\n"},
               {10, "Binary Log Index File\n", "IDX V 01.02.001\n"},
               {11, "Binary Log Index File\n", "IDX V u1.02.001\n"},
               {12, "Binary Log Bookmark File\n", "BMK V 01.02\n"},
               {13, "Binary Log Bookmark File\n", "BMK V e1.02\n"},
               {14, "Binary Log Bookmark File\n", "BMK V u1.02\n"},
               {15, "Binary Log InfoMsg File\n", "INF V 01.02\n"},
               {16, "Binary Log InfoMsg File\n", "INF V e1.02\n"},
               {17, "Binary Log InfoMsg File\n", "INF V u1.02\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    std::vector<uint8_t> h = BuildHeader(c.version);
    ASSERT_EQ(h.size(), 128u);
    // Maker, banner, tag and notice in their places; every gap zero.
    std::string expect(128, '\0');
    expect.replace(0, 20, "Tamri Zuduva Deravi\n");
    expect.replace(32, c.banner.size(), c.banner);
    expect.replace(64, c.field.size(), c.field);
    expect.replace(96, 25, Slice(h, 96, 24) + "\n");
    expect[127] = 0x1A;
    EXPECT_EQ(Slice(h, 0, 128), expect);
    // The notice is 24 characters without line end, 0x1A, zero or tag.
    std::string notice = Slice(h, 96, 24);
    EXPECT_EQ(notice.find_first_of(std::string("\r\n\x1a\0", 4)), std::string::npos);
    EXPECT_EQ(MatchTags(notice, FullTagSet()), FileVersionUnknown);
    EXPECT_EQ(MatchTags(Slice(h, 0, 128), FullTagSet()), c.version);
  }
  for (int v : {-1, 0, 2, 3, 4, 5, 6, 18}) EXPECT_TRUE(BuildHeader(v).empty()) << v;
}

TEST(HeaderTest, BothE101FormsShareTitleAndEnd) {
  const struct {
    E101Form form;
    size_t line_end;  // the notice fills 28 up to it, zeros follow up to 58
  } cases[] = {{E101Form::kStream, 57}, {E101Form::kLogFile, 54}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line_end);
    auto a = BuildE101Header(c.form);
    std::vector<uint8_t> h(a.begin(), a.end());
    EXPECT_EQ(Slice(h, 0, 28), "KRV Binary Log File V e1.01\n");
    for (size_t i = 28; i < c.line_end; ++i) EXPECT_NE(h[i], 0) << i;
    EXPECT_EQ(h[c.line_end], '\n');
    for (size_t i = c.line_end + 1; i < 59; ++i) EXPECT_EQ(h[i], 0) << i;
    EXPECT_EQ(h[59], 0x1A);
    EXPECT_EQ(MatchTags(Slice(h, 0, 60), ReducedTagSet()), FileVersionCVR_Ve101);
    if (c.form == E101Form::kStream) {
      EXPECT_EQ(BuildHeader(1), h);
    }
  }
}

TEST(VersionTableTest, LengthsCipherAndByteOrder) {
  for (int v = -2; v <= 20; ++v) {
    uint32_t expect = v <= 0 ? 128 : v <= 3 ? 60 : v <= 6 ? 0 : 128;
    EXPECT_EQ(HeaderLength(v), expect) << v;
    bool enc = v == 1 || v == 3 || v == 7 || v == 13 || v == 16;
    EXPECT_EQ(IsEnciphered(v), enc) << v;
  }
  for (int v : {8, 10, 12, 15, 7, 13, 16}) EXPECT_EQ(NumberOrder(v), ByteOrder::kLittle) << v;
  for (int v : {1, 2, 3, 9, 11, 14, 17}) EXPECT_EQ(NumberOrder(v), ByteOrder::kBig) << v;
  EXPECT_EQ(InfoFor(2).block_header_length, 12u);
  EXPECT_EQ(InfoFor(9).block_header_length, 16u);
}

TEST(TagTest, FirstTagInFixedOrderWins) {
  const struct {
    std::string text;
    int full, reduced;
  } cases[] = {
      {"xx CVR V 01.02 and V 01.00", 2, 2},  // V 01.00 is tried first
      {"V E1.00", 3, 3},
      {"V E1.01", 1, 1},
      {"CVR V 01.02", 8, 0},  // the reduced set knows only the old generations
      {"CVR V E1.02", 7, 0},
      {"BMK V E1.02", 13, 0},
      {"INF V E1.02", 16, 0},
      {"IDX V 01.02.001", 10, 0},
      {"IDX V u1.02", 11, 0},
      {"cvr v 01.02", 0, 0},  // case-sensitive
      {std::string("\0\0CVR V u1.02", 13), 9, 0},  // zero bytes do not end the search
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchTags(c.text, FullTagSet()), c.full) << c.text;
    EXPECT_EQ(MatchTags(c.text, ReducedTagSet()), c.reduced) << c.text;
  }
  ASSERT_EQ(ReducedTagSet().size(), 5u);
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(ReducedTagSet()[i].tag, FullTagSet()[i].tag);
}

TEST(IndexSubVersionTest, ParsesLikeAtoiAtOffset76) {
  std::vector<uint8_t> h = BuildHeader(10);
  const std::string text(h.begin(), h.end());
  const struct {
    size_t at, count;
    std::string by;
    int32_t expect;
  } cases[] = {
      {64, 0, "", 1},
      {64, 16, std::string("IDX V 01.02\n\0\0\0\0", 16), 0},
      {76, 4, "  +7", 7},
      {76, 4, "-3x\n", -3},
      {76, 4, "999999999999999", INT32_MAX},
      {70, 1, std::string(1, '\0'), 0},  // a zero byte within 64..75
  };
  for (const auto& c : cases) {
    std::string t = text;
    EXPECT_EQ(ParseIndexSubVersion(t.replace(c.at, c.count, c.by)), c.expect) << c.by;
  }
  EXPECT_EQ(ParseIndexSubVersion(text.substr(0, 76)), 0);  // 76 bytes or shorter
}

TEST(HexDumpTest, FirstLineRules) {
  const struct {
    const char* line;
    int version;
  } cases[] = {
      {">> 1A 10", 6}, {">> 00 10", 5}, {"<anything", 6}, {"<x>00", 5},
      {"><", 6},       {"x> 0a", 6},    {"x> 0g", 0},     {">>  00", 0},
      {"> 00", 0},     {"", 0},         {"<", 6},
  };
  for (const auto& c : cases) EXPECT_EQ(ClassifyHexDump(c.line), c.version) << c.line;
}

TEST(FerrowHeadTest, MediaAndReceiverSets) {
  for (uint8_t media : {0x1D, 0x1B, 0x10}) {
    for (uint8_t receiver : {0x10, 0xFD}) {
      uint8_t head[6] = {media, receiver, 0, 0, 0x01, 0x02};
      EXPECT_TRUE(IsFerrowHead(head));
      EXPECT_EQ(FerrowPayloadLength(head), 0x0102);
    }
  }
  uint8_t bad_media[6] = {0x1C, 0x10}, bad_receiver[6] = {0x10, 0xFE};
  EXPECT_FALSE(IsFerrowHead(bad_media));
  EXPECT_FALSE(IsFerrowHead(bad_receiver));
}

}  // namespace
}  // namespace corvane::stream
