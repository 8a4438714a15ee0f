#include "support/com_test_util.h"

#include <cstdio>

namespace corvane::test {

std::basic_string<OLECHAR> Widen(const std::string& s) {
  std::basic_string<OLECHAR> out;
  for (size_t i = 0; i < s.size();) {
    uint32_t c = static_cast<uint8_t>(s[i]);
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    if (extra) c &= (0x3F >> extra);
    ++i;
    for (int k = 0; k < extra && i < s.size(); ++k, ++i) c = (c << 6) | (s[i] & 0x3F);
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<OLECHAR>(0xD800 + (c >> 10)));
      out.push_back(static_cast<OLECHAR>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<OLECHAR>(c));
    }
  }
  return out;
}

std::string Narrow(const OLECHAR* text, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    uint32_t c = static_cast<uint16_t>(text[i]);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < length) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(text[++i]) - 0xDC00);
    }
    const int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    // Lead byte: 0xxxxxxx, 110xxxxx, 1110xxxx or 11110xxx; then 10xxxxxx each.
    out.push_back(static_cast<char>((extra ? 0xFF00 >> (extra + 1) : 0) | (c >> (6 * extra))));
    for (int k = extra - 1; k >= 0; --k) out.push_back(static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F)));
  }
  return out;
}

HRESULT CreateInstance(REFCLSID clsid, IUnknown* outer, REFIID iid, void** out) {
  *out = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(outer, iid, out);
  factory->Release();
  return hr;
}

ErrorRecord TakeError() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return {};
  Bstr description, source;
  GUID guid = {};
  info->GetDescription(description.out());
  info->GetSource(source.out());
  info->GetGUID(&guid);
  info->Release();
  return {true, description.utf8(), source.utf8(), guid};
}

std::string Description(const std::string& text, const std::string& tag, HRESULT code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(code));
  return text + ";" + tag + "=0x" + hex;
}

}  // namespace corvane::test
