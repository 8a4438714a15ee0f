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

// Every byte not covered by [from, to) ranges is zero.
void ExpectZeroOutside(const std::vector<uint8_t>& h,
                       std::initializer_list<std::pair<size_t, size_t>> used) {
  for (size_t i = 0; i < h.size(); ++i) {
    bool covered = false;
    for (auto [a, b] : used) covered |= i >= a && i < b;
    if (!covered) {
      EXPECT_EQ(h[i], 0) << "offset " << i;
    }
  }
}

struct Header102Case {
  int version;
  const char* banner;
  const char* field;
};

class Header102Test : public ::testing::TestWithParam<Header102Case> {};

TEST_P(Header102Test, IsLaidOutByteForByte) {
  const Header102Case& c = GetParam();
  std::vector<uint8_t> h = BuildHeader(c.version);
  ASSERT_EQ(h.size(), 128u);
  EXPECT_EQ(Slice(h, 0, 20), "Tamri Zuduva Deravi\n");
  std::string banner = c.banner, field = c.field;
  EXPECT_EQ(Slice(h, 32, banner.size()), banner);
  EXPECT_EQ(Slice(h, 64, field.size()), field);
  EXPECT_EQ(Slice(h, 96, 25).size(), 25u);
  EXPECT_EQ(h[120], '\n');
  EXPECT_EQ(h[127], 0x1A);
  ExpectZeroOutside(h, {{0, 20}, {32, 32 + banner.size()}, {64, 64 + field.size()}, {96, 121},
                        {127, 128}});
  // The notice may hold no line end, no 0x1A and no tag.
  std::string notice = Slice(h, 96, 24);
  EXPECT_EQ(notice.find_first_of("\r\n\x1a"), std::string::npos);
  EXPECT_EQ(MatchTags(notice, FullTagSet()), FileVersionUnknown);
  // The header detects as its own version.
  std::string text(h.begin(), h.end());
  EXPECT_EQ(MatchTags(text, FullTagSet()), c.version);
}

INSTANTIATE_TEST_SUITE_P(
    AllWriters, Header102Test,
    ::testing::Values(Header102Case{7, "Binary Log File\n", "CVR V e1.02\n"},
                      Header102Case{8, "Binary Log File\n", "CVR V 01.02\n"},
                      Header102Case{9, "Binary Log File\n", "CVR V u1.02\n"},
                      Header102Case{10, "Binary Log Index File\n", "IDX V 01.02.001\n"},
                      Header102Case{11, "Binary Log Index File\n", "IDX V u1.02.001\n"},
                      Header102Case{12, "Binary Log Bookmark File\n", "BMK V 01.02\n"},
                      Header102Case{13, "Binary Log Bookmark File\n", "BMK V e1.02\n"},
                      Header102Case{14, "Binary Log Bookmark File\n", "BMK V u1.02\n"},
                      Header102Case{15, "Binary Log InfoMsg File\n", "INF V 01.02\n"},
                      Header102Case{16, "Binary Log InfoMsg File\n", "INF V e1.02\n"},
                      Header102Case{17, "Binary Log InfoMsg File\n", "INF V u1.02\n"}));

TEST(HeaderE101Test, BothFormsShareTitleAndEnd) {
  for (E101Form form : {E101Form::kStream, E101Form::kLogFile}) {
    auto a = BuildE101Header(form);
    std::vector<uint8_t> h(a.begin(), a.end());
    EXPECT_EQ(Slice(h, 0, 27), "KRV Binary Log File V e1.01");
    EXPECT_EQ(h[27], '\n');
    EXPECT_EQ(h[59], 0x1A);
    EXPECT_EQ(MatchTags(std::string(h.begin(), h.end()), ReducedTagSet()), FileVersionCVR_Ve101);
  }
}

TEST(HeaderE101Test, StreamFormHas29NoticeCharacters) {
  std::vector<uint8_t> h = BuildHeader(1);
  ASSERT_EQ(h.size(), 60u);
  for (size_t i = 28; i <= 56; ++i) EXPECT_NE(h[i], 0) << i;
  EXPECT_EQ(h[57], '\n');
  EXPECT_EQ(h[58], 0);
}

TEST(HeaderE101Test, LogFileFormHas26NoticeCharacters) {
  auto h = BuildE101Header(E101Form::kLogFile);
  for (size_t i = 28; i <= 53; ++i) EXPECT_NE(h[i], 0) << i;
  EXPECT_EQ(h[54], '\n');
  for (size_t i = 55; i <= 58; ++i) EXPECT_EQ(h[i], 0) << i;
}

TEST(HeaderTest, VersionsWithoutWriterGiveNothing) {
  for (int v : {-1, 0, 2, 3, 4, 5, 6, 18}) EXPECT_TRUE(BuildHeader(v).empty()) << v;
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
  struct Case {
    std::string text;
    int version;
  } cases[] = {
      {"xx CVR V 01.02 and V 01.00", 2},  // V 01.00 is tried first
      {"V E1.00", 3},
      {"CVR V E1.02", 7},
      {"BMK V E1.02", 13},
      {"INF V E1.02", 16},
      {"IDX V 01.02.001", 10},
      {"IDX V u1.02", 11},
      {"cvr v 01.02", 0},  // case-sensitive
      {std::string("\0\0CVR V u1.02", 13), 9},  // zero bytes do not end the search
  };
  for (const Case& c : cases) EXPECT_EQ(MatchTags(c.text, FullTagSet()), c.version) << c.text;
}

TEST(TagTest, ReducedSetKnowsOnlyTheOldGenerations) {
  ASSERT_EQ(ReducedTagSet().size(), 5u);
  EXPECT_EQ(MatchTags("CVR V 01.02", ReducedTagSet()), FileVersionUnknown);
  EXPECT_EQ(MatchTags("V E1.01", ReducedTagSet()), FileVersionCVR_Ve101);
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(ReducedTagSet()[i].tag, FullTagSet()[i].tag);
}

TEST(IndexSubVersionTest, ParsesLikeAtoiAtOffset76) {
  std::vector<uint8_t> h = BuildHeader(10);
  std::string text(h.begin(), h.end());
  EXPECT_EQ(ParseIndexSubVersion(text), 1);
  std::string old = text;
  old.replace(64, 16, std::string("IDX V 01.02\n\0\0\0\0", 16));
  EXPECT_EQ(ParseIndexSubVersion(old), 0);
  std::string padded = text;
  padded.replace(76, 4, "  +7");
  EXPECT_EQ(ParseIndexSubVersion(padded), 7);
  std::string negative = text;
  negative.replace(76, 4, "-3x\n");
  EXPECT_EQ(ParseIndexSubVersion(negative), -3);
  std::string huge = text;
  huge.replace(76, 4, "9999");
  huge.insert(80, "99999999999");
  EXPECT_EQ(ParseIndexSubVersion(huge), INT32_MAX);
  EXPECT_EQ(ParseIndexSubVersion(text.substr(0, 76)), 0);  // 76 bytes or shorter
  std::string hole = text;
  hole[70] = '\0';
  EXPECT_EQ(ParseIndexSubVersion(hole), 0);
}

TEST(HexDumpTest, FirstLineRules) {
  struct Case {
    const char* line;
    int version;
  } cases[] = {
      {">> 1A 10", 6}, {">> 00 10", 5}, {"<anything", 6}, {"<x>00", 5},
      {"><", 6},       {"x> 0a", 6},    {"x> 0g", 0},     {">>  00", 0},
      {"> 00", 0},     {"", 0},         {"<", 6},
  };
  for (const Case& c : cases) EXPECT_EQ(ClassifyHexDump(c.line), c.version) << c.line;
}

TEST(FerrowHeadTest, MediaAndReceiverSets) {
  for (uint8_t media : {0x1D, 0x1B, 0x10}) {
    for (uint8_t receiver : {0x10, 0xFD}) {
      uint8_t head[6] = {media, receiver, 0, 0, 0x01, 0x02};
      EXPECT_TRUE(IsFerrowHead(head));
      EXPECT_EQ(FerrowPayloadLength(head), 0x0102);
    }
  }
  uint8_t bad_media[6] = {0x1C, 0x10};
  uint8_t bad_receiver[6] = {0x10, 0xFE};
  EXPECT_FALSE(IsFerrowHead(bad_media));
  EXPECT_FALSE(IsFerrowHead(bad_receiver));
}

}  // namespace
}  // namespace corvane::stream
