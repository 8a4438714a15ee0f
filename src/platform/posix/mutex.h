// A plain (not re-entrant) mutex that clang's thread-safety analysis knows,
// for the POSIX platform's own shared state.
#ifndef CORVANE_PLATFORM_POSIX_MUTEX_H_
#define CORVANE_PLATFORM_POSIX_MUTEX_H_

#include <mutex>

#include "platform/thread_annotations.h"

namespace corvane::platform {

class CAPABILITY("mutex") Mutex {
 public:
  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

// Holds a mutex for one scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() RELEASE() { mutex_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace corvane::platform

#endif  // CORVANE_PLATFORM_POSIX_MUTEX_H_
