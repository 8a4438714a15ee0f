// COM plumbing of the targets that go through the public interfaces:
// objects straight from the class object (no registration), owned
// interface pointers and names.
#ifndef CORVANE_FUZZ_COM_UTIL_H_
#define CORVANE_FUZZ_COM_UTIL_H_

#include <corvane/corvane.h>

#include <string>

namespace corvane::fuzz {

// An owned interface pointer, released at the end of the scope.
template <class T>
class Owned {
 public:
  Owned() = default;
  ~Owned() {
    if (p_) p_->Release();
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  void** out() { return reinterpret_cast<void**>(&p_); }

 private:
  T* p_ = nullptr;
};

// A new object of `clsid` asked for `iid`; null when that fails.
template <class T>
void CreateObject(REFCLSID clsid, REFIID iid, Owned<T>* out) {
  IClassFactory* factory = nullptr;
  if (FAILED(DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return;
  (void)factory->CreateInstance(nullptr, iid, out->out());
  factory->Release();
}

// An owned BSTR of 8-bit text (bytes taken as code units: names and
// comments of the targets are ASCII or arbitrary bytes alike).
class OwnedBstr {
 public:
  explicit OwnedBstr(const std::string& text) {
    std::basic_string<OLECHAR> wide(text.begin(), text.end());
    for (size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text[i]);
    b_ = SysAllocStringLen(wide.data(), static_cast<uint32_t>(wide.size()));
  }
  ~OwnedBstr() { SysFreeString(b_); }
  OwnedBstr(const OwnedBstr&) = delete;
  OwnedBstr& operator=(const OwnedBstr&) = delete;
  BSTR get() const { return b_; }

 private:
  BSTR b_ = nullptr;
};

// Drops the error object a failed call left in the thread's slot.
inline void ClearErrorInfo() { SetErrorInfo(0, nullptr); }

}  // namespace corvane::fuzz

#endif  // CORVANE_FUZZ_COM_UTIL_H_
