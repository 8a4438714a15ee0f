// Header layouts byte for byte, and the text rules that detection builds on
// (tag order and case are checked through detection).
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
    // Maker, banner, tag and a 24-character notice in their places; gaps zero.
    std::string expect(128, '\0');
    expect.replace(0, 20, "Tamri Zuduva Deravi\n");
    expect.replace(32, c.banner.size(), c.banner);
    expect.replace(64, c.field.size(), c.field);
    expect.replace(96, 25, Slice(h, 96, 24) + "\n");
    expect[127] = 0x1A;
    EXPECT_EQ(Slice(h, 0, 128), expect);
    std::string notice = Slice(h, 96, 24);
    EXPECT_EQ(notice.find_first_of(std::string("\r\n\x1a\0", 4)), std::string::npos);
    EXPECT_EQ(MatchTags(notice, FullTagSet()), FileVersionUnknown);
  }
  for (int v : {-1, 0, 2, 6, 18}) EXPECT_TRUE(BuildHeader(v).empty()) << v;
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
    if (c.form == E101Form::kStream) {
      EXPECT_EQ(BuildHeader(1), h);
    }
  }
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
      {76, 4, "  +7", 7},
      {76, 4, "-3x\n", -3},
      {76, 4, "999999999999999", INT32_MAX},
      {70, 1, std::string(1, '\0'), 0},  // a zero byte within 64..75
  };
  for (const auto& c : cases) {
    std::string t = text;
    EXPECT_EQ(ParseIndexSubVersion(t.replace(c.at, c.count, c.by)), c.expect) << c.by;
  }
  EXPECT_EQ(ParseIndexSubVersion(text.substr(0, 76)), 0);
}

TEST(HexDumpTest, FirstLineRules) {
  const struct {
    const char* line;
    int version;
  } cases[] = {{">> 1A 10", 6}, {">> 00 10", 5}, {"<anything", 6}, {"<x>00", 5},
               {"x> 0g", 0},    {">>  00", 0},   {"", 0}};
  for (const auto& c : cases) EXPECT_EQ(ClassifyHexDump(c.line), c.version) << c.line;
}

}  // namespace
}  // namespace corvane::stream
