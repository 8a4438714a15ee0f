// The one way in which every failing method reports.
//
// RaiseError posts an error object for the calling thread whose description
// is "<text>;<tag>=0x<code in lower-case hexadecimal>", whose interface
// identifier is `iid` and whose source is the ProgID registered for `clsid`
// (none when the class is not registered), and returns `code` unchanged.
// It touches no object state and takes no lock.
#ifndef CORVANE_FRAME_ERROR_H_
#define CORVANE_FRAME_ERROR_H_

#include <corvane/corvane.h>

#include <string>

namespace corvane::frame {

HRESULT RaiseError(const char* text, const char* tag, REFIID iid, REFCLSID clsid, HRESULT code);

// The description alone, as RaiseError builds it.
std::string ErrorDescription(const char* text, const char* tag, HRESULT code);

// Per-class fixed inputs of RaiseError.
struct ErrorSource {
  const char* tag;
  const IID* iid;
  const CLSID* clsid;

  HRESULT Raise(const char* text, HRESULT code) const {
    return RaiseError(text, tag, *iid, *clsid, code);
  }
};

}  // namespace corvane::frame

#endif  // CORVANE_FRAME_ERROR_H_
