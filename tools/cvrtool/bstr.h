// Text between the tool (UTF-8, or the ANSI code page for Windows command
// lines) and the library's BSTRs (UTF-16).
#ifndef CVRTOOL_BSTR_H_
#define CVRTOOL_BSTR_H_

#include <corvane/corvane.h>

#include <string>

namespace cvrtool {

// An owned BSTR; empty (null) by default.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(BSTR adopt) : bstr_(adopt) {}
  ~Bstr() { SysFreeString(bstr_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  Bstr(Bstr&& o) noexcept : bstr_(o.bstr_) { o.bstr_ = nullptr; }

  BSTR get() const { return bstr_; }
  BSTR* out() {  // frees the current string and hands out the slot
    SysFreeString(bstr_);
    bstr_ = nullptr;
    return &bstr_;
  }
  std::string utf8() const;

  static Bstr FromUtf8(const std::string& text);
  // A file name as the command line gave it: UTF-8 on POSIX, the ANSI code
  // page on Windows.
  static Bstr FromFileName(const std::string& name);

 private:
  BSTR bstr_ = nullptr;
};

std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const OLECHAR* text, size_t length);

}  // namespace cvrtool

#endif  // CVRTOOL_BSTR_H_
