// Helpers for the Windows client tests, which reach the module through the
// registry (CoCreateInstance) and never link it.
#ifndef CORVANE_TESTS_WINDOWS_CLIENT_UTIL_H_
#define CORVANE_TESTS_WINDOWS_CLIENT_UTIL_H_

#include <corvane/corvane.h>

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

// Under Wine (its ntdll exports wine_get_version), not on Windows.
inline bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace corvane::test

#endif  // CORVANE_TESTS_WINDOWS_CLIENT_UTIL_H_
