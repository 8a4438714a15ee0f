// Helpers for the Windows client tests. They reach the module the way a
// Windows client does, through the registry (CoCreateInstance), and never
// link it.
#ifndef CORVANE_TESTS_WINDOWS_CLIENT_UTIL_H_
#define CORVANE_TESTS_WINDOWS_CLIENT_UTIL_H_

#include <corvane/corvane.h>

#include <string>

#include "support/com_test_util.h"

namespace corvane::test {

// COM initialised for the calling thread for one scope.
class Apartment {
 public:
  explicit Apartment(DWORD model) : hr_(CoInitializeEx(nullptr, model)) {}
  ~Apartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  HRESULT result() const { return hr_; }

 private:
  HRESULT hr_;
};

// An owned BSTR made from wide text.
class WideBstr {
 public:
  explicit WideBstr(const std::wstring& text)
      : bstr_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~WideBstr() { SysFreeString(bstr_); }
  WideBstr(const WideBstr&) = delete;
  WideBstr& operator=(const WideBstr&) = delete;
  BSTR get() const { return bstr_; }

 private:
  BSTR bstr_;
};

std::wstring ToWide(const std::string& ascii);
std::string ToNarrow(const wchar_t* text);

// The calling thread's error object, taken out of its slot.
struct ErrorObject {
  bool present = false;
  std::string description;
  std::string source;
  GUID guid = {};
};
ErrorObject TakeErrorObject();

// Under Wine (its ntdll exports wine_get_version), not on Windows.
bool RunningUnderWine();

}  // namespace corvane::test

#endif  // CORVANE_TESTS_WINDOWS_CLIENT_UTIL_H_
