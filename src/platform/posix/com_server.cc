// There is no proxy/stub code and no type library outside Windows: nothing
// to serve and nothing to register.
#include "platform/com_server.h"

namespace corvane::platform {

HRESULT ProxyGetClassObject(REFCLSID, REFIID, void** out) {
  if (out) *out = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

bool ProxiesInUse() { return false; }

HRESULT RegisterProxyStub() { return S_OK; }
HRESULT UnregisterProxyStub() { return S_OK; }
HRESULT RegisterTypeLibrary() { return S_OK; }
HRESULT UnregisterTypeLibrary() { return S_OK; }

}  // namespace corvane::platform
