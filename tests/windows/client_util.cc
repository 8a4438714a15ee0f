#include "windows/client_util.h"

namespace corvane::test {

std::wstring ToWide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::string ToNarrow(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text) out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
  return out;
}

ErrorObject TakeErrorObject() {
  ErrorObject e;
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return e;
  e.present = true;
  BSTR text = nullptr;
  if (SUCCEEDED(info->GetDescription(&text))) e.description = ToNarrow(text);
  SysFreeString(text);
  text = nullptr;
  if (SUCCEEDED(info->GetSource(&text))) e.source = ToNarrow(text);
  SysFreeString(text);
  info->GetGUID(&e.guid);
  info->Release();
  return e;
}

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace corvane::test
