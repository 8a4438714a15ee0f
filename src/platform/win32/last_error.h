// The calling thread's last system error as a Status. Windows codes are the
// library's codes, so they pass through unchanged.
#ifndef CORVANE_PLATFORM_WIN32_LAST_ERROR_H_
#define CORVANE_PLATFORM_WIN32_LAST_ERROR_H_

#include <windows.h>

#include "platform/status.h"

namespace corvane::platform::win32 {

inline Status LastErrorStatus() { return Status::Error(GetLastError()); }

// The same after a failed write, flush or resize: a volume that ran out of
// space or a used-up disk quota, whichever code the file system gives for
// it, is a full disk (112), as ENOSPC, EDQUOT and EFBIG are on POSIX.
inline Status WriteErrorStatus() {
  constexpr DWORD kDiskQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED
  const DWORD code = GetLastError();
  if (code == ERROR_HANDLE_DISK_FULL || code == kDiskQuotaExceeded) {
    return Status::Error(kErrDiskFull);
  }
  return Status::Error(code);
}

// For the registry functions, which return their code instead of setting it.
inline Status RegistryStatus(LONG code) {
  return code == ERROR_SUCCESS ? Status::Ok() : Status::Error(static_cast<uint32_t>(code));
}

}  // namespace corvane::platform::win32

#endif  // CORVANE_PLATFORM_WIN32_LAST_ERROR_H_
