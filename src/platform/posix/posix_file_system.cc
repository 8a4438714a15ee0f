// The real file system of a POSIX system.
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/errno_status.h"
#include "platform/posix/syscalls.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/share_lock.h"

namespace corvane::platform {
namespace {

// True when the gate shows a handle that holds the file without delete
// sharing. A gate that could not reach the file sees nothing; the system
// call that follows reports why.
bool DeleteDenied(ShareGate& gate) {
  return gate.status().ok() && gate.Enter().ok() && gate.DeleteDenied();
}

class PosixFileSystem final : public FileSystem {
 public:
  Status Open(const std::string& path, const OpenOptions& options, std::unique_ptr<File>* out,
              uint32_t* last_error) override {
    return OpenPosixFile(path, options, out, last_error);
  }

  Status Remove(const std::string& path) override {
    if (path.empty()) return Status::Error(kErrPathNotFound);
    ShareGate gate(-1, path);
    if (DeleteDenied(gate)) return Status::Error(kErrSharingViolation);
    // The gate is still held: no handle can open the file in between.
    if (Sys().unlink(path.c_str()) != 0) return ErrnoStatus(errno, path);
    return Status::Ok();
  }

  Status Rename(const std::string& from, const std::string& to, bool replace) override {
    if (from.empty() || to.empty()) return Status::Error(kErrPathNotFound);
    ShareGate source(-1, from);
    ShareGate target(-1, to);
    // Two renames in opposite directions must not wait for each other: take
    // the gates in the order of the files' identities.
    ShareGate* gates[2] = {&source, &target};
    struct stat a, b;
    bool both = source.status().ok() && target.status().ok() &&
                Sys().fstat(source.lock_fd(), &a) == 0 && Sys().fstat(target.lock_fd(), &b) == 0;
    if (both && a.st_dev == b.st_dev && a.st_ino == b.st_ino) {
      gates[1] = nullptr;  // the same file under two names
    } else if (both && (b.st_dev < a.st_dev || (b.st_dev == a.st_dev && b.st_ino < a.st_ino))) {
      std::swap(gates[0], gates[1]);
    }
    for (ShareGate* gate : gates) {
      if (gate && DeleteDenied(*gate)) return Status::Error(kErrSharingViolation);
    }
    int r;
    if (replace) {
      r = Sys().rename(from.c_str(), to.c_str());
    } else {
      r = Sys().rename_noreplace(from.c_str(), to.c_str());
      if (r != 0 && errno == EINVAL) {
        // A file system without the no-replace flag: check, then rename (the
        // small window is the best such a file system allows).
        struct stat st;
        if (Sys().lstat(to.c_str(), &st) == 0) {
          errno = EEXIST;
        } else {
          r = Sys().rename(from.c_str(), to.c_str());
        }
      }
      // Moving onto an existing name: ERROR_ALREADY_EXISTS, as MoveFileEx.
      if (r != 0 && errno == EEXIST) return Status::Error(kErrAlreadyExists);
    }
    if (r != 0) {
      int err = errno;
      if (err == ENOENT && ::access(from.c_str(), F_OK) == 0) return ErrnoStatus(err, to);
      return ErrnoStatus(err, from);
    }
    return Status::Ok();
  }

  Status BytesPerSector(const std::string& path, uint32_t* bytes) override {
    return LogicalSectorSize(path, bytes);
  }
};

}  // namespace

FileSystem* FileSystem::Real() {
  static PosixFileSystem* fs = new PosixFileSystem;  // never destroyed
  return fs;
}

uint32_t MaxPathLength() { return PATH_MAX - 1; }

}  // namespace corvane::platform
