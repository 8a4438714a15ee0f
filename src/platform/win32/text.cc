// UTF-16 <-> the system's ANSI code page.
#include "platform/text.h"

#include <windows.h>

#include <climits>

namespace corvane::platform {

bool WideToNarrow(const char16_t* text, size_t length, std::string* out) {
  out->clear();
  if (length == 0) return true;
  if (length > INT_MAX) return false;
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text);
  const int n = static_cast<int>(length);
  // Where the code page is UTF-8 the default-character check is not
  // available; invalid (unpaired) surrogates are refused instead.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* used_default_ptr = utf8 ? nullptr : &used_default;
  int size = WideCharToMultiByte(CP_ACP, flags, wide, n, nullptr, 0, nullptr, used_default_ptr);
  if (size <= 0 || used_default) return false;
  std::string result(static_cast<size_t>(size), '\0');
  size = WideCharToMultiByte(CP_ACP, flags, wide, n, result.data(), size, nullptr,
                             used_default_ptr);
  if (size <= 0 || used_default) return false;
  result.resize(static_cast<size_t>(size));
  *out = std::move(result);
  return true;
}

bool NarrowToWide(const std::string& text, std::u16string* out) {
  out->clear();
  if (text.empty()) return true;
  if (text.size() > INT_MAX) return false;
  const int n = static_cast<int>(text.size());
  int size = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), n, nullptr, 0);
  if (size <= 0) return false;
  std::u16string result(static_cast<size_t>(size), u'\0');
  size = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), n,
                             reinterpret_cast<wchar_t*>(result.data()), size);
  if (size <= 0) return false;
  result.resize(static_cast<size_t>(size));
  *out = std::move(result);
  return true;
}

}  // namespace corvane::platform
