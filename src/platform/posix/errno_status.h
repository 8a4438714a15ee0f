// Translation of POSIX errors into the Windows system error codes that the
// library reports on every platform.
#ifndef CORVANE_PLATFORM_POSIX_ERRNO_STATUS_H_
#define CORVANE_PLATFORM_POSIX_ERRNO_STATUS_H_

#include <cerrno>
#include <string>

#include "platform/status.h"

namespace corvane::platform {

// The one translation of an errno value. `path` is the name the failing
// call was given, if any: ENOENT becomes kErrPathNotFound (3) instead of
// kErrFileNotFound (2) when a directory on the way to it is missing.
Status ErrnoStatus(int err, const std::string& path = std::string());

// Retries a system call that was interrupted by a signal.
template <class Fn>
auto RetryOnEintr(Fn fn) -> decltype(fn()) {
  decltype(fn()) r;
  do {
    r = fn();
  } while (r == -1 && errno == EINTR);
  return r;
}

}  // namespace corvane::platform

#endif  // CORVANE_PLATFORM_POSIX_ERRNO_STATUS_H_
