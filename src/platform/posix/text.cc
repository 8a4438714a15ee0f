// UTF-16 <-> UTF-8, the 8-bit encoding of POSIX systems. Strict both ways:
// unpaired surrogates, overlong forms, encoded surrogates, code points past
// U+10FFFF and truncated sequences are refused, never replaced.
#include "platform/text.h"

#include <cstdint>

namespace corvane::platform {
namespace {

void AppendUtf8(uint32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool IsHighSurrogate(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

bool WideToNarrow(const char16_t* text, size_t length, std::string* out) {
  out->clear();
  if (length && !text) return false;
  std::string result;
  result.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    uint32_t c = text[i];
    if (IsHighSurrogate(c)) {
      if (i + 1 >= length || !IsLowSurrogate(text[i + 1])) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
    } else if (IsLowSurrogate(c)) {
      return false;
    }
    AppendUtf8(c, &result);
  }
  *out = std::move(result);
  return true;
}

bool NarrowToWide(const std::string& text, std::u16string* out) {
  out->clear();
  std::u16string result;
  result.reserve(text.size());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const uint8_t lead = static_cast<uint8_t>(text[i]);
    int extra;
    uint32_t c, min;
    if (lead < 0x80) {
      extra = 0, c = lead, min = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, c = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, c = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, c = lead & 0x07, min = 0x10000;
    } else {
      return false;  // a continuation byte or 0xF8..0xFF as lead
    }
    if (n - i <= static_cast<size_t>(extra)) return false;
    for (int k = 1; k <= extra; ++k) {
      const uint8_t b = static_cast<uint8_t>(text[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || IsHighSurrogate(c) || IsLowSurrogate(c)) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(c));
    }
    i += extra + 1;
  }
  *out = std::move(result);
  return true;
}

}  // namespace corvane::platform
