// The module's exported entry points: class objects, the unload rule and
// registration.
#include <corvane/corvane.h>

#include "frame/class_table.h"
#include "frame/module.h"
#include "frame/registration.h"
#include "platform/com_server.h"

using namespace corvane;

// The declarations (Windows SDK headers, or the library's own COM base)
// carry the calling convention and make these the module's exports.
#define CORVANE_EXPORT extern "C" HRESULT STDAPICALLTYPE

CORVANE_EXPORT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  // The proxy/stub factory answers for its own class identifier first.
  HRESULT hr = platform::ProxyGetClassObject(rclsid, riid, ppv);
  if (hr == S_OK) return hr;

  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  const frame::ClassEntry* entry = frame::FindClass(rclsid);
  if (!entry) return CLASS_E_CLASSNOTAVAILABLE;
  IUnknown* class_object = frame::ClassObjectFor(*entry);
  if (!class_object) return E_OUTOFMEMORY;
  hr = class_object->QueryInterface(riid, ppv);
  if (SUCCEEDED(hr) && !*ppv) return CLASS_E_CLASSNOTAVAILABLE;
  return hr;
}

CORVANE_EXPORT DllCanUnloadNow(void) {
  if (platform::ProxiesInUse()) return S_FALSE;
  return frame::ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

CORVANE_EXPORT DllRegisterServer(void) { return frame::RegisterServer(); }

CORVANE_EXPORT DllUnregisterServer(void) { return frame::UnregisterServer(); }
