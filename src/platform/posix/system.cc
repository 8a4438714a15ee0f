// Error texts and the module's own path.
#include "platform/system.h"

#include <dlfcn.h>
#include <limits.h>

#include <cstdio>
#include <cstdlib>

#include "platform/status.h"

namespace corvane::platform {
namespace {

struct ErrorText {
  uint32_t code;
  const char* text;
};

// The texts that Windows gives for the codes the library reports.
constexpr ErrorText kErrorTexts[] = {
    {kErrSuccess, "The operation completed successfully."},
    {kErrFileNotFound, "The system cannot find the file specified."},
    {kErrPathNotFound, "The system cannot find the path specified."},
    {kErrTooManyOpenFiles, "The system cannot open the file."},
    {kErrAccessDenied, "Access is denied."},
    {kErrInvalidHandle, "The handle is invalid."},
    {kErrNotEnoughMemory, "Not enough memory resources are available to process this command."},
    {kErrInvalidData, "The data is invalid."},
    {kErrOutOfMemory, "Not enough memory resources are available to complete this operation."},
    {kErrWriteProtect, "The media is write protected."},
    {17, "The system cannot move the file to a different disk drive."},
    {kErrGeneric, "A device attached to the system is not functioning."},
    {kErrSharingViolation,
     "The process cannot access the file because it is being used by another process."},
    {kErrLockViolation,
     "The process cannot access the file because another process has locked a portion of "
     "the file."},
    {kErrHandleEof, "Reached the end of the file."},
    {kErrNotSupported, "The request is not supported."},
    {kErrFileExists, "The file exists."},
    {kErrInvalidParameter, "The parameter is incorrect."},
    {kErrDiskFull, "There is not enough space on the disk."},
    {kErrInsufficientBuffer, "The data area passed to a system call is too small."},
    {kErrInvalidName, "The filename, directory name, or volume label syntax is incorrect."},
    {kErrNegativeSeek,
     "An attempt was made to move the file pointer before the beginning of the file."},
    {kErrDirNotEmpty, "The directory is not empty."},
    {kErrBusy, "The requested resource is in use."},
    {kErrAlreadyExists, "Cannot create a file when that file already exists."},
    {kErrFilenameTooLong, "The filename or extension is too long."},
    {kErrMoreData, "More data is available."},
    {kErrNoMoreItems, "No more data is available."},
    {kErrNoUnicodeTranslation,
     "No mapping for the Unicode character exists in the target multi-byte code page."},
    {kErrIoDevice, "The request could not be performed because of an I/O device error."},
    {kErrKeyNotFound, "Element not found."},
};

}  // namespace

std::string SystemErrorText(uint32_t code) {
  for (const ErrorText& e : kErrorTexts) {
    if (e.code == code) return e.text;
  }
  char text[48];
  std::snprintf(text, sizeof text, "Unknown error %u (0x%x).", code, code);
  return text;
}

std::string ModulePath() {
  Dl_info info;
  if (::dladdr(reinterpret_cast<void*>(&ModulePath), &info) == 0 || !info.dli_fname) {
    return std::string();
  }
  char resolved[PATH_MAX];
  if (::realpath(info.dli_fname, resolved)) return resolved;
  return info.dli_fname;
}

}  // namespace corvane::platform
