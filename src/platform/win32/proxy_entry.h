// Entry points of the widl-generated proxy/stub code (dlldata.c compiled with
// REGISTER_PROXY_DLL and ENTRY_PREFIX=Prx), to which the module's own entry
// points hand off.
#ifndef CORVANE_PLATFORM_WIN32_PROXY_ENTRY_H_
#define CORVANE_PLATFORM_WIN32_PROXY_ENTRY_H_

#include <windows.h>
#include <ole2.h>

extern "C" {
BOOL WINAPI PrxDllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
HRESULT WINAPI PrxDllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
HRESULT WINAPI PrxDllCanUnloadNow(void);
HRESULT WINAPI PrxDllRegisterServer(void);
HRESULT WINAPI PrxDllUnregisterServer(void);
}

#endif  // CORVANE_PLATFORM_WIN32_PROXY_ENTRY_H_
