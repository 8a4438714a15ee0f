// The calling thread's last system error as a Status. Windows codes are the
// library's codes, so they pass through unchanged.
#ifndef CORVANE_PLATFORM_WIN32_LAST_ERROR_H_
#define CORVANE_PLATFORM_WIN32_LAST_ERROR_H_

#include <windows.h>

#include "platform/status.h"

namespace corvane::platform::win32 {

inline Status LastErrorStatus() { return Status::Error(GetLastError()); }

// For the registry functions, which return their code instead of setting it.
inline Status RegistryStatus(LONG code) {
  return code == ERROR_SUCCESS ? Status::Ok() : Status::Error(static_cast<uint32_t>(code));
}

}  // namespace corvane::platform::win32

#endif  // CORVANE_PLATFORM_WIN32_LAST_ERROR_H_
