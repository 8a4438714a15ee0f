// The parts of the COM runtime that clients of libcorvane.so use: BSTR
// strings, the task allocator and the ProgID lookup.
//
// A BSTR points at its first character; the four bytes before it hold the
// string's length in bytes, and a zero character follows it, as on Windows.
#include <corvane/corvane.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/task_mem.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace corvane::platform {

void* TaskMemAlloc(size_t bytes) { return std::malloc(bytes ? bytes : 1); }

}  // namespace corvane::platform

namespace {

constexpr HRESULT kClassNotRegistered = static_cast<HRESULT>(0x80040154);  // REGDB_E_CLASSNOTREG
// Longest BSTR: its byte length must fit the 32-bit prefix.
constexpr uint32_t kMaxBstrChars = (0xFFFFFFFFu - sizeof(uint32_t) - sizeof(OLECHAR)) / 2;

uint32_t* Prefix(BSTR s) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(s) - sizeof(uint32_t));
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", the registry's spelling.
std::string GuidString(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

}  // namespace

CORVANE_API BSTR SysAllocStringLen(const OLECHAR* strIn, uint32_t ui) {
  if (ui > kMaxBstrChars) return nullptr;
  const size_t bytes = size_t{ui} * sizeof(OLECHAR);
  auto* block = static_cast<char*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  const uint32_t length = static_cast<uint32_t>(bytes);
  std::memcpy(block, &length, sizeof length);
  BSTR s = reinterpret_cast<BSTR>(block + sizeof(uint32_t));
  // Without a source the characters are the caller's to fill; they start
  // as zeros rather than as whatever the heap held.
  if (strIn) {
    std::memcpy(s, strIn, bytes);
  } else {
    std::memset(s, 0, bytes);
  }
  s[ui] = 0;
  return s;
}

CORVANE_API BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz) return nullptr;
  size_t n = 0;
  while (psz[n]) ++n;
  if (n > kMaxBstrChars) return nullptr;
  return SysAllocStringLen(psz, static_cast<uint32_t>(n));
}

CORVANE_API void SysFreeString(BSTR bstrString) {
  if (bstrString) std::free(Prefix(bstrString));
}

CORVANE_API uint32_t SysStringLen(BSTR pbstr) {
  if (!pbstr) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, Prefix(pbstr), sizeof bytes);
  return bytes / sizeof(OLECHAR);
}

CORVANE_API void CoTaskMemFree(void* pv) { std::free(pv); }

CORVANE_API HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
  if (!lplpszProgID) return E_INVALIDARG;
  *lplpszProgID = nullptr;
  std::string progid;
  const std::string key = "CLSID\\" + GuidString(clsid) + "\\ProgID";
  if (!corvane::platform::registry::QueryString(corvane::platform::Hive::kClassesRoot, key, "",
                                                &progid)
           .ok()) {
    return kClassNotRegistered;
  }
  std::u16string wide;
  if (!corvane::platform::NarrowToWide(progid, &wide)) return kClassNotRegistered;
  auto* out = static_cast<OLECHAR*>(
      corvane::platform::TaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
  if (!out) return E_OUTOFMEMORY;
  std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(OLECHAR));
  *lplpszProgID = out;
  return S_OK;
}
