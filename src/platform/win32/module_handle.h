// The handle of the module that holds the library's code.
#ifndef CORVANE_PLATFORM_WIN32_MODULE_HANDLE_H_
#define CORVANE_PLATFORM_WIN32_MODULE_HANDLE_H_

#include <windows.h>

namespace corvane::platform::win32 {

// Called by DllMain on process attach.
void RememberModuleHandle(HMODULE module);

// True once DllMain has remembered the module handle (false in a program
// that links the static core).
bool ModuleHandleRemembered();

// corvane.dll once DllMain has run; before that (and in a program that links
// the static core) the module that contains this code.
HMODULE ModuleHandle();

}  // namespace corvane::platform::win32

#endif  // CORVANE_PLATFORM_WIN32_MODULE_HANDLE_H_
