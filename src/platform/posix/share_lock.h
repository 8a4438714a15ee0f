// Windows share modes among the file handles of the library, in one process
// and across processes.
//
// Protocol. Every handle with read or write access owns a second descriptor
// of its file, the lock descriptor (its own open file description, opened
// read-only). On it the handle holds shared open-file-description locks
// (F_OFD_SETLK) on single marker bytes far beyond any real data, one per
// fact about the handle:
//
//   kMarkBase + 0   has read access       kMarkBase + 2   denies read
//   kMarkBase + 1   has write access      kMarkBase + 3   denies write
//                                         kMarkBase + 4   denies delete
//
// ("denies X" = its share mode lacks X.) Open-file-description locks belong
// to the description, not to the process: two handles of one process
// conflict just as two processes do, and closing some other descriptor of
// the file does not drop them. A marker is "held" when an exclusive lock on
// it would conflict (F_OFD_GETLK from a description that holds nothing yet).
//
// A new handle conflicts when it wants read (write) and a marker "denies
// read (write)" is held, or when it denies read (write) and a marker "has
// read (write) access" is held. Deleting or renaming conflicts while "denies
// delete" is held. So that check and take happen as one step across
// processes, both run under the gate: an exclusive flock() on the lock
// descriptor, which is held only for these few calls. (flock and fcntl locks
// are independent on Linux, so the gate never disturbs the markers.)
//
// A handle without read and write access takes part in nothing, as on
// Windows. Closing the lock descriptor releases the handle's markers.
#ifndef CORVANE_PLATFORM_POSIX_SHARE_LOCK_H_
#define CORVANE_PLATFORM_POSIX_SHARE_LOCK_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/status.h"

namespace corvane::platform {

// Holds the gate of one file while alive.
class ShareGate {
 public:
  // Opens a lock descriptor for the file behind `fd` (or for `path` when fd
  // is -1). !status().ok() when the file cannot be reached; it tells why.
  ShareGate(int fd, const std::string& path);
  // Takes the gate (waiting while another handle's open holds it); it is
  // released by Leave (an unlock interrupted by a signal is retried) or by
  // the destructor.
  Status Enter();
  Status Leave();
  ~ShareGate();
  ShareGate(const ShareGate&) = delete;
  ShareGate& operator=(const ShareGate&) = delete;

  const Status& status() const { return status_; }
  int lock_fd() const { return lock_fd_; }
  // True while some handle holds the file without delete sharing.
  bool DeleteDenied() const;
  // Checks the handle's access and share against the held markers and, if
  // they agree, takes the handle's markers. kErrSharingViolation otherwise.
  Status Acquire(uint32_t access, uint32_t share);
  // Hands the lock descriptor (with its markers) to the caller; the gate is
  // still released by the destructor.
  int ReleaseLockFd();

 private:
  Status status_;
  int lock_fd_ = -1;
  bool own_fd_ = true;
  bool entered_ = false;
};

// The markers of one open handle; released when destroyed.
class ShareLock {
 public:
  // Checks and takes the markers for a handle on data descriptor `fd`
  // (opened from `path`). Succeeds with a null lock for handles without read
  // and write access.
  static Status Acquire(int fd, const std::string& path, uint32_t access, uint32_t share,
                        std::unique_ptr<ShareLock>* out);
  ~ShareLock();
  ShareLock(const ShareLock&) = delete;
  ShareLock& operator=(const ShareLock&) = delete;

 private:
  explicit ShareLock(int lock_fd) : lock_fd_(lock_fd) {}
  int lock_fd_;
};

}  // namespace corvane::platform

#endif  // CORVANE_PLATFORM_POSIX_SHARE_LOCK_H_
