// Helpers for tests that go through the public COM surface.
#ifndef CORVANE_TESTS_SUPPORT_COM_TEST_UTIL_H_
#define CORVANE_TESTS_SUPPORT_COM_TEST_UTIL_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <string>

namespace corvane::test {

// UTF-8 <-> UTF-16 for OLECHAR strings (wchar_t on Windows, char16_t elsewhere).
std::basic_string<OLECHAR> Widen(const std::string& utf8);
std::string Narrow(const OLECHAR* text, size_t length);
inline std::string Narrow(const OLECHAR* text) {
  return text ? Narrow(text, std::char_traits<OLECHAR>::length(text)) : std::string();
}

// An owned BSTR.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::string& utf8) {
    const std::basic_string<OLECHAR> w = Widen(utf8);
    bstr_ = SysAllocStringLen(w.data(), static_cast<unsigned>(w.size()));
  }
  ~Bstr() { SysFreeString(bstr_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return bstr_; }
  BSTR* out() { return SysFreeString(bstr_), &(bstr_ = nullptr); }  // frees the string, then hands out the slot
  std::string utf8() const { return bstr_ ? Narrow(bstr_, SysStringLen(bstr_)) : std::string(); }

 private:
  BSTR bstr_ = nullptr;
};

// A reference-counted interface pointer.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr& o) : p_(o.p_) { if (p_) p_->AddRef(); }
  ComPtr& operator=(const ComPtr& o) {
    if (o.p_) o.p_->AddRef();
    Reset();
    return p_ = o.p_, *this;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** out() { return Reset(), &p_; }
  void** out_void() { return reinterpret_cast<void**>(out()); }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// Gets a class object straight from the module (DllGetClassObject) and asks
// it for an object; the same on every platform, no registration needed.
HRESULT CreateInstance(REFCLSID clsid, IUnknown* outer, REFIID iid, void** out);

template <class T>
ComPtr<T> Create(REFCLSID clsid, REFIID iid) {
  ComPtr<T> p;
  CreateInstance(clsid, nullptr, iid, p.out_void());
  return p;
}

// The error object the calling thread holds, taken out of its slot.
struct ErrorRecord {
  bool present = false;
  std::string description, source;
  GUID guid = {};
};
ErrorRecord TakeError();

// "text;TAG=0x<lower-case hex of code>"
std::string Description(const std::string& text, const std::string& tag, HRESULT code);

}  // namespace corvane::test

// Expect a failure with a given code and error description.
#define EXPECT_CVR_ERROR(expr, code, text, tag)                                    \
  do {                                                                             \
    HRESULT hr_ = (expr);                                                          \
    EXPECT_EQ(static_cast<uint32_t>(hr_), static_cast<uint32_t>(code)) << #expr;   \
    ::corvane::test::ErrorRecord er_ = ::corvane::test::TakeError();               \
    EXPECT_TRUE(er_.present) << #expr;                                             \
    EXPECT_EQ(er_.description, ::corvane::test::Description(text, tag, code)) << #expr; \
  } while (0)

#endif  // CORVANE_TESTS_SUPPORT_COM_TEST_UTIL_H_
