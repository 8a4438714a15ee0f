// UTF-16 <-> 8-bit conversions. ASCII and surrogate handling hold for every
// code page; the UTF-8 cases are those of POSIX systems.
#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

namespace corvane::platform {
namespace {

TEST(TextTest, RoundTrips) {
  const std::pair<std::u16string, std::string> cases[] = {
      {u"C:\\logs\\trace 01.clg", "C:\\logs\\trace 01.clg"},
#ifndef _WIN32  // UTF-8 is the narrow form of POSIX systems only
      {u"\u00e9\u20ac\U0001F600z", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"},
#endif
  };
  for (const auto& [wide, expected] : cases) {
    std::string narrow;
    ASSERT_TRUE(WideToNarrow(wide.data(), wide.size(), &narrow));
    EXPECT_EQ(narrow, expected);
    std::u16string back;
    ASSERT_TRUE(NarrowToWide(narrow, &back));
    EXPECT_EQ(back, wide);
  }
}

TEST(TextTest, EmbeddedZeroAndEmptyInputConvert) {
  std::string narrow = "x";
  ASSERT_TRUE(WideToNarrow(nullptr, 0, &narrow));
  EXPECT_EQ(narrow, "");
  const char16_t with_zero[] = {u'a', 0, u'b'};
  ASSERT_TRUE(WideToNarrow(with_zero, 3, &narrow));
  EXPECT_EQ(narrow, std::string("a\0b", 3));
}

TEST(TextTest, UnpairedSurrogatesAreRefused) {
  const std::u16string cases[] = {
      {u'a', char16_t(0xD800)},                   // high at the end
      {char16_t(0xD800), u'b'},                   // high before a normal character
      {char16_t(0xDC00), u'c'},                   // low without high
  };
  for (const std::u16string& wide : cases) {
    std::string narrow;
    EXPECT_FALSE(WideToNarrow(wide.data(), wide.size(), &narrow)) << std::hex << static_cast<unsigned>(wide[0]);
  }
}

#ifndef _WIN32
TEST(TextTest, InvalidUtf8IsRefused) {
  const char* cases[] = {
      "\x80",              // continuation byte first
      "\xC3",              // truncated sequence
      "\xC0\xAF",          // overlong '/'
      "\xED\xA0\x80",      // encoded surrogate
      "\xF4\x90\x80\x80",  // beyond U+10FFFF
  };
  for (const char* c : cases) {
    std::u16string wide = u"old";
    EXPECT_FALSE(NarrowToWide(c, &wide)) << c;
    EXPECT_TRUE(wide.empty());
  }
}
#endif

}  // namespace
}  // namespace corvane::platform
