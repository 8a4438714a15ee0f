#include "platform/posix/share_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file.h"
#include "platform/posix/errno_status.h"
#include "platform/posix/syscalls.h"

namespace corvane::platform {
namespace {

constexpr off_t kMarkBase = off_t{1} << 62;
constexpr off_t kHasRead = kMarkBase + 0;
constexpr off_t kHasWrite = kMarkBase + 1;
constexpr off_t kDeniesRead = kMarkBase + 2;
constexpr off_t kDeniesWrite = kMarkBase + 3;
constexpr off_t kDeniesDelete = kMarkBase + 4;

struct flock MarkerLock(short type, off_t marker) {
  struct flock lk = {};
  lk.l_type = type;
  lk.l_whence = SEEK_SET;
  lk.l_start = marker;
  lk.l_len = 1;
  return lk;
}

// True when another open file description holds the marker.
bool MarkerHeld(int lock_fd, off_t marker) {
  struct flock lk = MarkerLock(F_WRLCK, marker);
  if (RetryOnEintr([&] { return Sys().fcntl_lock(lock_fd, F_OFD_GETLK, &lk); }) != 0) return false;
  return lk.l_type != F_UNLCK;
}

bool TakeMarker(int lock_fd, off_t marker) {
  struct flock lk = MarkerLock(F_RDLCK, marker);
  return RetryOnEintr([&] { return Sys().fcntl_lock(lock_fd, F_OFD_SETLK, &lk); }) == 0;
}

// A read-only description of the file behind fd (or path). Reopening through
// /proc names the very file that fd refers to, even if it was renamed.
int OpenLockFd(int fd, const std::string& path) {
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  if (fd >= 0) {
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    int lfd = RetryOnEintr([&] { return Sys().open(self.c_str(), kFlags, 0); });
    if (lfd >= 0 || errno != ENOENT) return lfd;
  }
  return RetryOnEintr([&] { return Sys().open(path.c_str(), kFlags, 0); });
}

}  // namespace

ShareGate::ShareGate(int fd, const std::string& path) {
  lock_fd_ = OpenLockFd(fd, path);
  if (lock_fd_ < 0) status_ = ErrnoStatus(errno, path);
}

Status ShareGate::Enter() {
  if (RetryOnEintr([&] { return Sys().flock(lock_fd_, LOCK_EX); }) != 0) return ErrnoStatus(errno);
  entered_ = true;
  return Status::Ok();
}

Status ShareGate::Leave() {
  if (!entered_) return Status::Ok();
  if (RetryOnEintr([&] { return Sys().flock(lock_fd_, LOCK_UN); }) != 0) return ErrnoStatus(errno);
  entered_ = false;
  return Status::Ok();
}

ShareGate::~ShareGate() {
  if (lock_fd_ < 0) return;
  // Closing the gate's own description lets the gate go whatever the unlock
  // did; a description handed on has been let go already (ShareLock).
  (void)Leave();
  if (own_fd_) Sys().close(lock_fd_);
}

bool ShareGate::DeleteDenied() const {
  return lock_fd_ >= 0 && MarkerHeld(lock_fd_, kDeniesDelete);
}

Status ShareGate::Acquire(uint32_t access, uint32_t share) {
  const bool read = access & kAccessRead;
  const bool write = access & kAccessWrite;
  const bool denies_read = !(share & kShareRead);
  const bool denies_write = !(share & kShareWrite);
  const bool conflict = (read && MarkerHeld(lock_fd_, kDeniesRead)) ||
                        (write && MarkerHeld(lock_fd_, kDeniesWrite)) ||
                        (denies_read && MarkerHeld(lock_fd_, kHasRead)) ||
                        (denies_write && MarkerHeld(lock_fd_, kHasWrite));
  if (conflict) return Status::Error(kErrSharingViolation);

  const struct {
    bool wanted;
    off_t marker;
  } markers[] = {{read, kHasRead},
                 {write, kHasWrite},
                 {denies_read, kDeniesRead},
                 {denies_write, kDeniesWrite},
                 {!(share & kShareDelete), kDeniesDelete}};
  for (const auto& m : markers) {
    // A shared lock cannot conflict with the shared markers of others, and
    // nobody holds an exclusive one; failing here means the system refused
    // the lock itself (e.g. out of lock memory).
    if (m.wanted && !TakeMarker(lock_fd_, m.marker)) return ErrnoStatus(errno);
  }
  return Status::Ok();
}

int ShareGate::ReleaseLockFd() {
  own_fd_ = false;
  return lock_fd_;
}

Status ShareLock::Acquire(int fd, const std::string& path, uint32_t access, uint32_t share,
                          std::unique_ptr<ShareLock>* out) {
  out->reset();
  if (!(access & (kAccessRead | kAccessWrite))) return Status::Ok();
  ShareGate gate(fd, path);
  if (!gate.status().ok()) {
    // A file that we may write but not read cannot get a read-only lock
    // descriptor; such a handle goes without share enforcement rather than
    // being refused.
    return gate.status().code() == kErrAccessDenied ? Status::Ok() : gate.status();
  }
  Status s = gate.Enter();
  if (s.ok()) s = gate.Acquire(access, share);
  // The lock descriptor outlives the gate here, so the gate must really be
  // let go: held on, every later open of the file would wait for it
  // forever. If it cannot be, the open fails and closing the descriptor
  // lets it go.
  if (s.ok()) s = gate.Leave();
  if (!s.ok()) return s;
  out->reset(new ShareLock(gate.ReleaseLockFd()));
  return Status::Ok();
}

ShareLock::~ShareLock() { Sys().close(lock_fd_); }

}  // namespace corvane::platform
