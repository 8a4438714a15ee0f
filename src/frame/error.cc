#include "frame/error.h"

#include <cstdio>
#include <new>

#include "platform/text.h"

namespace corvane::frame {

std::string ErrorDescription(const char* text, const char* tag, HRESULT code) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(static_cast<uint32_t>(code)));
  std::string description(text ? text : "");
  description += ';';
  description += tag ? tag : "";
  description += "=0x";
  description += hex;
  return description;
}

HRESULT RaiseError(const char* text, const char* tag, REFIID iid, REFCLSID clsid, HRESULT code) {
  std::u16string wide;
  try {
    std::string narrow = ErrorDescription(text, tag, code);
    if (!platform::NarrowToWide(narrow, &wide)) wide = u"Unknown Error";
  } catch (const std::bad_alloc&) {
    wide = u"Unknown Error";
  }

  ICreateErrorInfo* create = nullptr;
  if (FAILED(CreateErrorInfo(&create)) || !create) return code;
  create->SetGUID(iid);

  LPOLESTR prog_id = nullptr;
  if (ProgIDFromCLSID(clsid, &prog_id) == S_OK && prog_id) {
    create->SetSource(prog_id);
    CoTaskMemFree(prog_id);
  }
  create->SetDescription(reinterpret_cast<LPOLESTR>(const_cast<char16_t*>(wide.c_str())));

  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))) &&
      info) {
    SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
  return code;
}

}  // namespace corvane::frame
