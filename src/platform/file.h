// Files with Windows semantics on every platform.
//
// Access rights, share modes and creation dispositions carry the Windows
// values. Share modes are honoured among all handles that the library opens,
// in one process and across processes: an open that an existing handle's
// share mode forbids, or whose own share mode forbids an existing handle's
// access, fails with kErrSharingViolation (32), and so does removing or
// renaming a file that a handle holds without kShareDelete.
//
// Every call goes through the current FileSystem, which tests may replace to
// inject faults (see ScopedFileSystemOverride).
#ifndef CORVANE_PLATFORM_FILE_H_
#define CORVANE_PLATFORM_FILE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/status.h"

namespace corvane::platform {

// Desired access (GENERIC_READ, GENERIC_WRITE).
inline constexpr uint32_t kAccessRead = 0x80000000u;
inline constexpr uint32_t kAccessWrite = 0x40000000u;

// Share modes (FILE_SHARE_*). 0 means exclusive use.
inline constexpr uint32_t kShareNone = 0;
inline constexpr uint32_t kShareRead = 1;
inline constexpr uint32_t kShareWrite = 2;
inline constexpr uint32_t kShareDelete = 4;

// Creation dispositions (CREATE_NEW ... TRUNCATE_EXISTING).
enum class Disposition : uint32_t {
  kCreateNew = 1,
  kCreateAlways = 2,
  kOpenExisting = 3,
  kOpenAlways = 4,
  kTruncateExisting = 5,
};

enum class SeekOrigin : uint32_t { kBegin = 0, kCurrent = 1, kEnd = 2 };

struct OpenOptions {
  uint32_t access = kAccessRead;
  uint32_t share = kShareNone;
  Disposition disposition = Disposition::kOpenExisting;
  bool write_through = false;
};

// An open file handle. Not thread-safe: callers serialise their calls.
class File {
 public:
  virtual ~File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Reads up to n bytes at the file pointer. *got is 0 at the end of the file
  // (which is not an error). Fails with kErrAccessDenied without read access.
  virtual Status Read(void* dst, uint32_t n, uint32_t* got) = 0;
  // Reads up to n bytes at `offset`, as Read would there. Where the system
  // reads at an offset in one call (POSIX pread) the file pointer stays
  // where it was; elsewhere this is a move and a read, which leave it
  // behind the bytes read. Callers that read this way track their own
  // position and move the pointer before they write.
  virtual Status ReadAt(int64_t offset, void* dst, uint32_t n, uint32_t* got) {
    *got = 0;
    Status st = Seek(offset, SeekOrigin::kBegin, nullptr);
    return st.ok() ? Read(dst, n, got) : st;
  }
  // Writes n bytes at the file pointer; *written tells how many reached the
  // file (fewer on a full disk, which also fails with kErrDiskFull).
  // Fails with kErrAccessDenied without write access.
  virtual Status Write(const void* src, uint32_t n, uint32_t* written) = 0;
  // Moves the file pointer; a resulting negative position fails with
  // kErrNegativeSeek and leaves the pointer unchanged. new_pos may be null.
  virtual Status Seek(int64_t distance, SeekOrigin origin, int64_t* new_pos) = 0;
  virtual Status GetSize(int64_t* size) = 0;
  // Writes the system's buffers to the disk. Needs write access, as on
  // Windows (kErrAccessDenied otherwise).
  virtual Status Flush() = 0;
  // Cuts or extends the file at the file pointer.
  virtual Status SetEndOfFile() = 0;
  // Lets the handle go and reports what the system said: some file systems
  // (network shares above all) report a failed write-back only here, so the
  // owner of a file it wrote checks it. Every later call fails with
  // kErrInvalidHandle. Destroying an open handle closes it silently.
  virtual Status Close() = 0;

 protected:
  File() = default;
};

// The file functions of the platform, replaceable as a whole by tests.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens or creates `path` (8-bit, the system code page). On success *out
  // holds the handle and *last_error (if given) the code the system leaves
  // behind: kErrAlreadyExists (183) when kCreateAlways or kOpenAlways met an
  // existing file, else 0.
  virtual Status Open(const std::string& path, const OpenOptions& options,
                      std::unique_ptr<File>* out, uint32_t* last_error) = 0;
  // Deletes a file; kErrSharingViolation while a handle holds it without
  // kShareDelete.
  virtual Status Remove(const std::string& path) = 0;
  // Renames a file, replacing an existing target when asked to.
  virtual Status Rename(const std::string& from, const std::string& to, bool replace) = 0;
  // Logical sector size of the disk that holds `path` (or the current
  // directory for a bare name); 512 where there is no block device.
  virtual Status BytesPerSector(const std::string& path, uint32_t* bytes) = 0;

  // The file system in use (the real one unless a test replaced it).
  static FileSystem* Current();
  // The platform's real file system.
  static FileSystem* Real();
};

// Installs a replacement file system for the lifetime of the object.
class ScopedFileSystemOverride {
 public:
  explicit ScopedFileSystemOverride(FileSystem* fs);
  ~ScopedFileSystemOverride();
  ScopedFileSystemOverride(const ScopedFileSystemOverride&) = delete;
  ScopedFileSystemOverride& operator=(const ScopedFileSystemOverride&) = delete;

 private:
  FileSystem* previous_;
};

// Shorthands for FileSystem::Current().
inline Status OpenFile(const std::string& path, const OpenOptions& options,
                       std::unique_ptr<File>* out, uint32_t* last_error = nullptr) {
  return FileSystem::Current()->Open(path, options, out, last_error);
}
inline Status RemoveFile(const std::string& path) { return FileSystem::Current()->Remove(path); }
inline Status RenameFile(const std::string& from, const std::string& to, bool replace) {
  return FileSystem::Current()->Rename(from, to, replace);
}

// Longest path (in 8-bit characters, without the terminator) that the
// platform's file functions accept.
uint32_t MaxPathLength();

}  // namespace corvane::platform

#endif  // CORVANE_PLATFORM_FILE_H_
