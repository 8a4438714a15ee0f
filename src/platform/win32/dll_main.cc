// The module's entry point.
#include <windows.h>

#include "frame/module.h"
#include "platform/win32/module_handle.h"
#include "platform/win32/proxy_entry.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      corvane::platform::win32::RememberModuleHandle(instance);
      DisableThreadLibraryCalls(instance);
      // The proxy/stub part needs the module handle for its registration.
      PrxDllMain(instance, reason, reserved);
      break;
    case DLL_PROCESS_DETACH:
      // On FreeLibrary, release the cached class objects. When the process
      // is ending (reserved is non-null) other threads have been stopped
      // wherever they were, possibly inside a lock that the teardown would
      // wait for; the system reclaims everything anyway.
      if (reserved == nullptr) corvane::frame::OnProcessDetach();
      break;
    default:
      break;
  }
  return TRUE;
}
