// Steps of an in-process COM server that only Windows has: the generated
// proxy/stub code and the type library. Elsewhere these answer as a module
// without them would (nothing served, nothing to register).
#ifndef CORVANE_PLATFORM_COM_SERVER_H_
#define CORVANE_PLATFORM_COM_SERVER_H_

#include <corvane/corvane.h>

namespace corvane::platform {

// Offers a class request to the proxy/stub factory; CLASS_E_CLASSNOTAVAILABLE
// for every other class identifier (and always where there is no proxy code).
HRESULT ProxyGetClassObject(REFCLSID clsid, REFIID iid, void** out);
// True while proxies or stubs of this module are alive.
bool ProxiesInUse();

HRESULT RegisterProxyStub();
HRESULT UnregisterProxyStub();
// Registers the type library embedded in the module (or the .tlb beside it).
HRESULT RegisterTypeLibrary();
HRESULT UnregisterTypeLibrary();

}  // namespace corvane::platform

#endif  // CORVANE_PLATFORM_COM_SERVER_H_
