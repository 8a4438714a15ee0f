#include "frame/registration.h"

#include <cstdio>

#include "frame/class_table.h"
#include "platform/com_server.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace corvane::frame {
namespace {

using platform::Hive;
namespace registry = platform::registry;

// Same value as a Windows error code wrapped in an HRESULT.
HRESULT FromStatus(Status status) {
  if (status.ok()) return S_OK;
  return static_cast<HRESULT>(0x80070000u | (status.code() & 0xFFFFu));
}

// Writes a key's default value, creating the key as needed.
Status SetDefault(const std::string& key, const std::string& value) {
  return registry::SetString(Hive::kClassesRoot, key, "", value);
}

// The entries of one class. The class key is removed with its subkeys first
// (it is owned by this module); ProgID keys are written into whatever exists.
HRESULT RegisterClass(const ClassEntry& entry, const std::string& module_path) {
  const std::string clsid = GuidToString(*entry.clsid);
  const std::string libid = GuidToString(LIBID_KRVCmnCorvaneLib);
  const std::string class_key = "CLSID\\" + clsid;
  const std::string versioned = entry.prog_id;
  const std::string independent = entry.version_independent_prog_id;

  Status s = SetDefault(versioned, entry.description);
  if (s.ok()) s = SetDefault(versioned + "\\CLSID", clsid);
  if (s.ok()) s = SetDefault(independent, entry.description);
  if (s.ok()) s = SetDefault(independent + "\\CLSID", clsid);
  if (s.ok()) s = SetDefault(independent + "\\CurVer", versioned);
  if (!s.ok()) return FromStatus(s);

  Status removed = registry::DeleteTree(Hive::kClassesRoot, class_key);
  if (!removed.ok() && removed.code() != kErrFileNotFound) return FromStatus(removed);
  s = SetDefault(class_key, entry.description);
  if (s.ok()) s = SetDefault(class_key + "\\ProgID", versioned);
  if (s.ok()) s = SetDefault(class_key + "\\VersionIndependentProgID", independent);
  if (s.ok()) s = SetDefault(class_key + "\\InprocServer32", module_path);
  if (s.ok()) {
    s = registry::SetString(Hive::kClassesRoot, class_key + "\\InprocServer32", "ThreadingModel",
                            "Both");
  }
  if (s.ok()) s = SetDefault(class_key + "\\TypeLib", libid);
  return FromStatus(s);
}

void UnregisterClass(const ClassEntry& entry) {
  (void)registry::DeleteTree(Hive::kClassesRoot, entry.prog_id);
  (void)registry::DeleteTree(Hive::kClassesRoot, entry.version_independent_prog_id);
  (void)registry::DeleteTree(Hive::kClassesRoot, "CLSID\\" + GuidToString(*entry.clsid));
}

}  // namespace

std::string GuidToString(REFGUID g) {
  char text[39];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

HRESULT RegisterServer() {
  HRESULT hr = platform::RegisterProxyStub();
  if (FAILED(hr)) return hr;
  // Without a path that names the module, the classes would be registered
  // with a server that cannot be found.
  const std::string module_path = platform::ModulePath();
  if (module_path.empty()) return E_FAIL;
  for (size_t i = 0; i < ClassCount(); ++i) {
    hr = RegisterClass(ClassTable()[i], module_path);
    if (FAILED(hr)) return hr;
  }
  return platform::RegisterTypeLibrary();
}

HRESULT UnregisterServer() {
  (void)platform::UnregisterProxyStub();
  for (size_t i = 0; i < ClassCount(); ++i) UnregisterClass(ClassTable()[i]);
  (void)platform::UnregisterTypeLibrary();
  return S_OK;
}

}  // namespace corvane::frame
