// A thin RAII layer over the library's objects, and the tool's failures.
//
// Every call into the library goes through Check(), which turns a failed
// HRESULT into a LibraryError carrying the error object's description (or a
// text of our own when the method posted none, as E_NOTIMPL stubs do).
#ifndef CVRTOOL_COM_H_
#define CVRTOOL_COM_H_

#include <corvane/corvane.h>

#include <stdexcept>
#include <string>

namespace cvrtool {

// Exit codes of every subcommand.
enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,      // the library failed, or the log is damaged
  kExitUsage = 2,        // wrong arguments
  kExitUnavailable = 3,  // the library does not implement what was asked (E_NOTIMPL)
};

// Wrong arguments: main prints the text and a hint to --help, exits 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Any other failure: main prints the text and exits with `code`.
struct ToolError : std::runtime_error {
  ToolError(const std::string& text, int code = kExitFailure)
      : std::runtime_error(text), exit_code(code) {}
  int exit_code;
};

// A failed library call: "what: description".
struct LibraryError : ToolError {
  LibraryError(const std::string& what, HRESULT hr, const std::string& description);
  HRESULT hr;
  std::string description;  // the library's text, without "what"
};

// Takes the calling thread's error object and formats it; falls back to a
// name for well-known codes. Always ends with the code in hex.
std::string DescribeFailure(HRESULT hr);

// Throws LibraryError when `hr` failed; `what` names the call or the step.
void Check(HRESULT hr, const std::string& what);
// Drops the calling thread's error object (after a failure the tool handles).
void ClearError();

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) {
      Reset();
      p_ = o.p_;
      o.p_ = nullptr;
    }
    return *this;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void** out_void() {
    Reset();
    return reinterpret_cast<void**>(&p_);
  }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// An object straight from the module's class object; no registration needed.
ComPtr<ILogFile2> CreateLogFile2();
ComPtr<ILogFile> CreateLogFile();

// Windows: initialise COM for the process. Everywhere: answer the indexing
// thread's message boxes on standard error instead of blocking on a window.
void InitLibrary();

// How many message boxes the library has shown so far: each one reports a
// failure of the indexing thread (it was answered with Cancel or OK).
int LibraryBoxesShown();
// Names the files a box of the library may be about ("indexing LOG into
// IDX"), printed with each box; empty for none. Set it only while no
// library thread runs.
void SetLibraryContext(const std::string& files);

}  // namespace cvrtool

#endif  // CVRTOOL_COM_H_
