// The library's one internal result type.
//
// Internal layers (platform, stream, readers, cipher) report success or a
// Windows system error code (2 not found, 5 access denied, 32 sharing
// violation, 112 disk full, ...). Only the components turn a Status into an
// HRESULT and an error object, where a COM method returns.
#ifndef CORVANE_PLATFORM_STATUS_H_
#define CORVANE_PLATFORM_STATUS_H_

#include <cstdint>

namespace corvane {

// Windows system error codes used by the library on every platform.
enum SysError : uint32_t {
  kErrSuccess = 0,
  kErrFileNotFound = 2,
  kErrPathNotFound = 3,
  kErrTooManyOpenFiles = 4,
  kErrAccessDenied = 5,
  kErrInvalidHandle = 6,
  kErrNotEnoughMemory = 8,
  kErrInvalidData = 13,
  kErrOutOfMemory = 14,
  kErrWriteProtect = 19,
  kErrSharingViolation = 32,
  kErrLockViolation = 33,
  kErrHandleEof = 38,
  kErrNotSupported = 50,
  kErrFileExists = 80,
  kErrInvalidParameter = 87,
  kErrDiskFull = 112,
  kErrInsufficientBuffer = 122,
  kErrInvalidName = 123,
  kErrNegativeSeek = 131,
  kErrDirNotEmpty = 145,
  kErrBusy = 170,
  kErrAlreadyExists = 183,
  kErrFilenameTooLong = 206,
  kErrMoreData = 234,
  kErrNoMoreItems = 259,
  kErrIoDevice = 1117,
  kErrNoUnicodeTranslation = 1113,
  kErrKeyNotFound = 1168,  // ERROR_NOT_FOUND
  kErrGeneric = 31,        // ERROR_GEN_FAILURE
};

class [[nodiscard]] Status {
 public:
  constexpr Status() = default;
  static constexpr Status Ok() { return Status(); }
  static constexpr Status Error(uint32_t code) { return Status(code == 0 ? kErrGeneric : code); }

  constexpr bool ok() const { return code_ == 0; }
  constexpr uint32_t code() const { return code_; }
  constexpr bool IsDiskFull() const { return code_ == kErrDiskFull; }
  // The file, or a directory on its path, does not exist.
  constexpr bool IsNotFound() const {
    return code_ == kErrFileNotFound || code_ == kErrPathNotFound;
  }

  friend constexpr bool operator==(Status a, Status b) { return a.code_ == b.code_; }

 private:
  explicit constexpr Status(uint32_t code) : code_(code) {}
  uint32_t code_ = 0;
};

}  // namespace corvane

#endif  // CORVANE_PLATFORM_STATUS_H_
