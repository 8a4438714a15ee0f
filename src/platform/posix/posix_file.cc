#include "platform/posix/posix_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/posix/errno_status.h"
#include "platform/posix/share_lock.h"
#include "platform/posix/syscalls.h"

namespace corvane::platform {
namespace {

// Largest transfer per read()/write() call; Linux moves at most about 2 GiB
// at once anyway.
constexpr uint32_t kMaxChunk = 1u << 30;

class PosixFile final : public File {
 public:
  PosixFile(int fd, uint32_t access, std::unique_ptr<ShareLock> share)
      : fd_(fd), access_(access), share_(std::move(share)) {}
  ~PosixFile() override {
    if (fd_ >= 0) Sys().close(fd_);
  }

  Status Close() override {
    if (fd_ < 0) return Status::Error(kErrInvalidHandle);
    // The descriptor is gone after close() whatever it returns; EINTR means
    // only that the close was interrupted, not that data was lost, and it
    // must not be retried (the number may already name another file).
    const int r = Sys().close(std::exchange(fd_, -1));
    const int error = errno;
    share_.reset();
    return r == 0 || error == EINTR ? Status::Ok() : ErrnoStatus(error);
  }

  Status Read(void* dst, uint32_t n, uint32_t* got) override {
    *got = 0;
    if (!(access_ & kAccessRead)) return Status::Error(kErrAccessDenied);
    auto* p = static_cast<uint8_t*>(dst);
    while (*got < n) {
      ssize_t r = RetryOnEintr(
          [&] { return Sys().read(fd_, p + *got, std::min(n - *got, kMaxChunk)); });
      if (r < 0) return ErrnoStatus(errno);
      if (r == 0) break;  // end of file
      *got += static_cast<uint32_t>(r);
    }
    return Status::Ok();
  }

  Status ReadAt(int64_t offset, void* dst, uint32_t n, uint32_t* got) override {
    *got = 0;
    if (!(access_ & kAccessRead)) return Status::Error(kErrAccessDenied);
    if (offset < 0) return Status::Error(kErrNegativeSeek);
    auto* p = static_cast<uint8_t*>(dst);
    while (*got < n) {
      ssize_t r = RetryOnEintr([&] {
        return Sys().pread(fd_, p + *got, std::min(n - *got, kMaxChunk), static_cast<off_t>(offset + *got));
      });
      if (r < 0) return ErrnoStatus(errno);
      if (r == 0) break;  // end of file
      *got += static_cast<uint32_t>(r);
    }
    return Status::Ok();
  }

  Status Write(const void* src, uint32_t n, uint32_t* written) override {
    *written = 0;
    if (!(access_ & kAccessWrite)) return Status::Error(kErrAccessDenied);
    const auto* p = static_cast<const uint8_t*>(src);
    while (*written < n) {
      ssize_t r = RetryOnEintr(
          [&] { return Sys().write(fd_, p + *written, std::min(n - *written, kMaxChunk)); });
      if (r < 0) return ErrnoStatus(errno);
      if (r == 0) return Status::Error(kErrDiskFull);
      *written += static_cast<uint32_t>(r);
    }
    return Status::Ok();
  }

  Status Seek(int64_t distance, SeekOrigin origin, int64_t* new_pos) override {
    int64_t base = 0;
    switch (origin) {
      case SeekOrigin::kBegin:
        break;
      case SeekOrigin::kCurrent:
        base = Sys().lseek(fd_, 0, SEEK_CUR);
        if (base < 0) return ErrnoStatus(errno);
        break;
      case SeekOrigin::kEnd: {
        Status s = GetSize(&base);
        if (!s.ok()) return s;
        break;
      }
      default:
        return Status::Error(kErrInvalidParameter);
    }
    int64_t target;
    if (__builtin_add_overflow(base, distance, &target)) {
      return Status::Error(kErrInvalidParameter);
    }
    if (target < 0) return Status::Error(kErrNegativeSeek);
    if (Sys().lseek(fd_, static_cast<off_t>(target), SEEK_SET) < 0) return ErrnoStatus(errno);
    if (new_pos) *new_pos = target;
    return Status::Ok();
  }

  Status GetSize(int64_t* size) override {
    struct stat st;
    if (Sys().fstat(fd_, &st) != 0) return ErrnoStatus(errno);
    *size = st.st_size;
    return Status::Ok();
  }

  Status Flush() override {
    if (!(access_ & kAccessWrite)) return Status::Error(kErrAccessDenied);
    if (RetryOnEintr([&] { return Sys().fsync(fd_); }) != 0) return ErrnoStatus(errno);
    return Status::Ok();
  }

  Status SetEndOfFile() override {
    if (!(access_ & kAccessWrite)) return Status::Error(kErrAccessDenied);
    off_t pos = Sys().lseek(fd_, 0, SEEK_CUR);
    if (pos < 0) return ErrnoStatus(errno);
    if (RetryOnEintr([&] { return Sys().ftruncate(fd_, pos); }) != 0) return ErrnoStatus(errno);
    return Status::Ok();
  }

 private:
  int fd_;
  const uint32_t access_;
  std::unique_ptr<ShareLock> share_;
};

int OpenFlags(const OpenOptions& options) {
  const bool read = options.access & kAccessRead;
  const bool write = options.access & kAccessWrite;
  // O_NONBLOCK keeps a FIFO from blocking the open; such files are refused
  // right after, and regular files ignore the flag (cleared anyway).
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  if (options.write_through) flags |= O_DSYNC;
  return flags;
}

// Opens the data descriptor as the disposition asks. *existed tells whether
// the file was there before.
int OpenDescriptor(const std::string& path, const OpenOptions& options, bool* existed) {
  const int flags = OpenFlags(options);
  constexpr mode_t kMode = 0666;  // narrowed by the umask
  *existed = true;
  switch (options.disposition) {
    case Disposition::kOpenExisting:
    case Disposition::kTruncateExisting:
      return RetryOnEintr([&] { return Sys().open(path.c_str(), flags, 0); });
    case Disposition::kCreateNew:
      *existed = false;
      return RetryOnEintr([&] { return Sys().open(path.c_str(), flags | O_CREAT | O_EXCL, kMode); });
    case Disposition::kCreateAlways:
    case Disposition::kOpenAlways:
      // Try to create first, so that the caller learns whether the file was
      // there; retry if it vanishes or appears in between.
      for (int attempt = 0; attempt < 16; ++attempt) {
        int fd = RetryOnEintr([&] { return Sys().open(path.c_str(), flags | O_CREAT | O_EXCL, kMode); });
        if (fd >= 0 || errno != EEXIST) {
          *existed = false;
          return fd;
        }
        fd = RetryOnEintr([&] { return Sys().open(path.c_str(), flags, 0); });
        if (fd >= 0 || errno != ENOENT) return fd;
      }
      errno = EBUSY;
      return -1;
  }
  errno = EINVAL;
  return -1;
}

// Cuts the file to zero length, also for a handle opened without write
// access (CREATE_ALWAYS on Windows truncates whatever the access).
Status Truncate(int fd, const OpenOptions& options) {
  if (options.access & kAccessWrite) {
    if (RetryOnEintr([&] { return Sys().ftruncate(fd, 0); }) != 0) return ErrnoStatus(errno);
    return Status::Ok();
  }
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  int wfd = RetryOnEintr([&] { return Sys().open(self.c_str(), O_WRONLY | O_CLOEXEC, 0); });
  if (wfd < 0) return ErrnoStatus(errno);
  int r = RetryOnEintr([&] { return Sys().ftruncate(wfd, 0); });
  int err = errno;
  Sys().close(wfd);
  return r == 0 ? Status::Ok() : ErrnoStatus(err);
}

// Reads and writes block, whatever flag the open needed. Both calls are
// checked: a failed F_GETFL written back would switch on every flag.
bool ClearNonBlocking(int fd) {
  const int flags = Sys().fcntl_flags(fd, F_GETFL, 0);
  return flags != -1 && Sys().fcntl_flags(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

Status Fail(Status s, uint32_t* last_error) {
  if (last_error) *last_error = s.code();
  return s;
}

}  // namespace

Status OpenPosixFile(const std::string& path, const OpenOptions& options,
                     std::unique_ptr<File>* out, uint32_t* last_error) {
  out->reset();
  if (last_error) *last_error = 0;
  const uint32_t disposition = static_cast<uint32_t>(options.disposition);
  if (disposition < 1 || disposition > 5) {
    return Fail(Status::Error(kErrInvalidParameter), last_error);
  }
  if (options.disposition == Disposition::kTruncateExisting &&
      !(options.access & kAccessWrite)) {
    return Fail(Status::Error(kErrInvalidParameter), last_error);
  }
  if (path.empty()) return Fail(Status::Error(kErrPathNotFound), last_error);
  if (path.find('\0') != std::string::npos) {
    return Fail(Status::Error(kErrInvalidName), last_error);
  }

  bool existed = false;
  int fd = -1;
  Status s;
  std::unique_ptr<ShareLock> share;
  for (int attempt = 0;; ++attempt) {
    fd = OpenDescriptor(path, options, &existed);
    if (fd < 0) return Fail(ErrnoStatus(errno, path), last_error);

    // Only regular files: a directory opened read-only would otherwise
    // succeed, where Windows denies access.
    struct stat st;
    if (Sys().fstat(fd, &st) != 0) {
      s = ErrnoStatus(errno);
    } else if (!S_ISREG(st.st_mode)) {
      s = Status::Error(kErrAccessDenied);
    } else if (!ClearNonBlocking(fd)) {
      s = ErrnoStatus(errno);
    }
    if (s.ok()) s = ShareLock::Acquire(fd, path, options.access, options.share, &share);
    // A remove or rename checks the share markers, and this handle had none
    // until now: one that came in between took the name away from this
    // file. Open again, as if it had come first; otherwise a create-always
    // open would go on to write a file that no longer has a name.
    struct stat named;
    if (!s.ok() || attempt == 8 ||
        (Sys().stat(path.c_str(), &named) == 0 && named.st_dev == st.st_dev &&
         named.st_ino == st.st_ino)) {
      break;
    }
    share.reset();
    Sys().close(fd);
  }
  const bool truncate = existed && (options.disposition == Disposition::kCreateAlways ||
                                    options.disposition == Disposition::kTruncateExisting);
  if (s.ok() && truncate) s = Truncate(fd, options);
  if (!s.ok()) {
    share.reset();
    Sys().close(fd);
    // A file this call created and could not finish opening is removed, as
    // a failed CreateFile leaves none; unless someone else holds it by now.
    const bool created = options.disposition != Disposition::kOpenExisting &&
                         options.disposition != Disposition::kTruncateExisting && !existed;
    if (created && s.code() != kErrSharingViolation) Sys().unlink(path.c_str());
    return Fail(s, last_error);
  }

  if (last_error && existed && (options.disposition == Disposition::kCreateAlways ||
                                options.disposition == Disposition::kOpenAlways)) {
    *last_error = kErrAlreadyExists;
  }
  out->reset(new PosixFile(fd, options.access, std::move(share)));
  return Status::Ok();
}

}  // namespace corvane::platform
