#include "bstr.h"

namespace cvrtool {

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    char32_t cp = 0xFFFD;
    size_t extra = 0;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F, extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F, extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07, extra = 3;
    }
    size_t j = 1;
    for (; j <= extra; ++j) {
      if (i + j >= text.size() || (static_cast<unsigned char>(text[i + j]) & 0xC0) != 0x80) break;
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + j]) & 0x3F);
    }
    if (j <= extra) cp = 0xFFFD;  // truncated sequence: one replacement character
    i += j;
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp > 0xFFFF ? 0xFFFD : cp));
    }
  }
  return out;
}

std::string Utf16ToUtf8(const OLECHAR* text, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    char32_t cp = static_cast<char16_t>(text[i]);
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < length) {
      const char32_t low = static_cast<char16_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::string Bstr::utf8() const {
  return bstr_ ? Utf16ToUtf8(bstr_, SysStringLen(bstr_)) : std::string();
}

Bstr Bstr::FromUtf8(const std::string& text) {
  const std::u16string wide = Utf8ToUtf16(text);
  // OLECHAR is wchar_t (16 bits) on Windows and char16_t elsewhere.
  std::basic_string<OLECHAR> ole(wide.begin(), wide.end());
  return Bstr(SysAllocStringLen(ole.data(), static_cast<unsigned>(ole.size())));
}

Bstr Bstr::FromFileName(const std::string& name) {
#ifdef _WIN32
  const int n = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), wide.data(), n);
  }
  return Bstr(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
#else
  return FromUtf8(name);
#endif
}

}  // namespace cvrtool
