// Locks and threads.
//
// CriticalSection is re-entrant, like a Windows critical section: the thread
// that holds it may enter again and must leave as often as it entered. The
// thread-safety analysis does not model re-entry: code that already holds a
// lock calls helpers marked REQUIRES rather than entering again.
#ifndef CORVANE_PLATFORM_SYNC_H_
#define CORVANE_PLATFORM_SYNC_H_

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/thread_annotations.h"

namespace corvane::platform {

class CAPABILITY("mutex") CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() ACQUIRE();
  void Leave() RELEASE();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Holds a critical section for one scope.
class SCOPED_CAPABILITY CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CriticalSection& cs) ACQUIRE(cs) : cs_(cs) { cs_.Enter(); }
  ~CriticalSectionLock() RELEASE() { cs_.Leave(); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CriticalSection& cs_;
};

// A thread of the library's own. Start runs fn on a new thread; Join waits
// for it and releases the thread handle. The destructor joins a thread that
// is still running.
class Thread {
 public:
  Thread();
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  bool Start(std::function<void()> fn);
  void Join();
  bool Joinable() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

void SleepMilliseconds(uint32_t ms);

}  // namespace corvane::platform

#endif  // CORVANE_PLATFORM_SYNC_H_
