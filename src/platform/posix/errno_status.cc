#include "platform/posix/errno_status.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/posix/syscalls.h"

namespace corvane::platform {
namespace {

// True when the directory that would hold `path` exists.
bool ParentDirectoryExists(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return true;  // the current directory
  std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
  struct stat st;
  return Sys().stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

Status ErrnoStatus(int err, const std::string& path) {
  switch (err) {
    case 0: return Status::Error(kErrGeneric);
    case ENOENT:
      return Status::Error(!path.empty() && !ParentDirectoryExists(path) ? kErrPathNotFound
                                                                         : kErrFileNotFound);
    case ENOTDIR: return Status::Error(kErrPathNotFound);
    case EACCES:
    case EPERM:
    case EISDIR:
    case ETXTBSY: return Status::Error(kErrAccessDenied);
    case EROFS: return Status::Error(kErrWriteProtect);
    case EEXIST: return Status::Error(kErrFileExists);
    case ENOTEMPTY: return Status::Error(kErrDirNotEmpty);
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return Status::Error(kErrDiskFull);
    case EMFILE:
    case ENFILE: return Status::Error(kErrTooManyOpenFiles);
    case ENAMETOOLONG: return Status::Error(kErrFilenameTooLong);
    case EINVAL:
    case EOVERFLOW: return Status::Error(kErrInvalidParameter);
    case EBADF: return Status::Error(kErrInvalidHandle);
    case ENOMEM: return Status::Error(kErrNotEnoughMemory);
    case EIO: return Status::Error(kErrIoDevice);
    case EBUSY: return Status::Error(kErrBusy);
    case EILSEQ: return Status::Error(kErrInvalidName);
    case ELOOP: return Status::Error(kErrInvalidName);
    case EXDEV: return Status::Error(17);  // ERROR_NOT_SAME_DEVICE
    case EAGAIN: return Status::Error(kErrLockViolation);
    case ENOTSUP: return Status::Error(kErrNotSupported);
    default: return Status::Error(kErrGeneric);
  }
}

}  // namespace corvane::platform
