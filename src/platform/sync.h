// Locks and threads.
//
// CriticalSection is re-entrant, like a Windows critical section: the thread
// that holds it may enter again and must leave as often as it entered. The
// thread-safety analysis does not model re-entry: code that already holds a
// lock calls helpers marked REQUIRES rather than entering again.
#ifndef CORVANE_PLATFORM_SYNC_H_
#define CORVANE_PLATFORM_SYNC_H_

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#if !defined(_WIN32)
#include <thread>
#endif

#include "platform/thread_annotations.h"

namespace corvane::platform {

#if defined(_WIN32)
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
#else
// A re-entrant lock that costs one atomic compare-exchange to enter and a
// plain store to leave when nobody else wants it. Every object method takes
// its object's lock and a reader takes it twice per record, so the
// uncontended path is what readers and recorders pay: it is inline here
// (behind a call into the platform layer it cost about a tenth of a small
// record's read), and its leaving needs no atomic read-modify-write, which
// waits for every earlier store to drain (a quarter of a small record's
// read). A waiting thread spins briefly, then counts itself in waiters_ and
// sleeps on the state word (sync.cc).
class CAPABILITY("mutex") CriticalSection {
 public:
  CriticalSection() = default;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() ACQUIRE() NO_THREAD_SAFETY_ANALYSIS {
    const ThreadKey self = CurrentThreadKey();
    if (owner_.load(std::memory_order_relaxed) == self) {
      ++depth_;
      return;
    }
    uint32_t expected = kFree;
    if (!state_.compare_exchange_strong(expected, kHeld, std::memory_order_acquire,
                                        std::memory_order_relaxed)) {
      AcquireContended();
    }
    owner_.store(self, std::memory_order_relaxed);
    depth_ = 1;
  }

  void Leave() RELEASE() NO_THREAD_SAFETY_ANALYSIS {
    if (--depth_ > 0) return;
    owner_.store(ThreadKey(), std::memory_order_relaxed);
    // The store may still sit in this processor's store buffer when the
    // load of waiters_ runs. A waiter that counted itself then makes every
    // thread of the process pass a full barrier before it looks at the
    // state (sync.cc), so that either it sees this store or the load below
    // sees its count. Only the compiler must keep the two in this order.
    state_.store(kFree, std::memory_order_release);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (waiters_.load(std::memory_order_relaxed) != 0) WakeOne();
  }

 private:
  // The calling thread's identity for re-entry. The thread pointer is
  // unique among live threads and costs one register read where the
  // compiler offers it; elsewhere the standard library's id.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__aarch64__))
  using ThreadKey = void*;
  static ThreadKey CurrentThreadKey() { return __builtin_thread_pointer(); }
#else
  using ThreadKey = std::thread::id;
  static ThreadKey CurrentThreadKey() { return std::this_thread::get_id(); }
#endif
  static constexpr uint32_t kFree = 0, kHeld = 1;

  void AcquireContended();  // out of line: the slow path
  void WakeOne();

  std::atomic<uint32_t> state_{kFree};
  std::atomic<uint32_t> waiters_{0};  // threads past spinning, not yet holding
  // The holder. Read without ordering to recognise re-entry: only the
  // holder itself ever stores its own id here, so a stale value never
  // equals the calling thread's id.
  std::atomic<ThreadKey> owner_{};
  uint32_t depth_ = 0;  // entries of the holder; touched only by the holder
};
#endif

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

// A count that one thread advances and another waits on: the hand-off of
// work between two threads (the two threads of an indexing pass). Advance
// publishes, with release order, everything the advancing thread wrote
// before it; value() and WaitPast acquire it. One thread waits on a counter
// at a time.
//
// WaitPast spins before it sleeps: a hand-off between two busy threads
// usually comes within microseconds, and waking a sleeping thread costs
// tens of microseconds on a virtual machine, on both sides, for every
// hand-off. Spinning pays only while the other thread runs, though: on a
// machine with more threads to run than processors, the spinner keeps the
// other one from running. So the spin adapts, like an adaptive mutex's,
// between kMinSpin and kMaxSpin: a spin that sees the value move doubles
// the next one; a wait that had to sleep sets it to twice its length,
// unless the other thread moved the value at once when this one slept.
class StepCounter {
 public:
  static constexpr std::chrono::nanoseconds kMinSpin{10'000};
  static constexpr std::chrono::nanoseconds kMaxSpin{1'000'000};

  StepCounter();
  ~StepCounter();
  StepCounter(const StepCounter&) = delete;
  StepCounter& operator=(const StepCounter&) = delete;

  uint32_t value() const;
  void Advance();
  // Returns once the value differs from `seen`.
  void WaitPast(uint32_t seen) {
    using Clock = std::chrono::steady_clock;
    const std::chrono::nanoseconds spin{spin_ns_.load(std::memory_order_relaxed)};
    const Clock::time_point start = Clock::now();
    std::chrono::nanoseconds next = spin * 2;
    if (!SpinWhile([&] { return value() == seen; }, spin)) {
      const Clock::time_point slept_from = Clock::now();
      SleepPast(seen);
      const Clock::time_point end = Clock::now();
      // A sleep much shorter than the spin: the other thread ran as soon
      // as this one stopped spinning, so it was waiting for this one's
      // processor. Otherwise the wait was long, or the spin too short for
      // it: spin twice as long as it took, next time.
      next = end - slept_from < spin / 4 ? spin / 2 : (end - start) * 2;
    }
    spin_ns_.store(std::clamp(next, kMinSpin, kMaxSpin).count(), std::memory_order_relaxed);
  }

  // Spins while `busy()` holds, for at most `limit`; true when it stopped
  // holding.
  template <class Busy>
  static bool SpinWhile(Busy busy, std::chrono::nanoseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
      for (int i = 0; i < 64; ++i) {
        if (!busy()) return true;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
      }
      if (std::chrono::steady_clock::now() >= until) return false;
    }
  }

 private:
  // Sleeps until the value differs from `seen`.
  void SleepPast(uint32_t seen);

  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::atomic<int64_t> spin_ns_{kMaxSpin.count()};
};

void SleepMilliseconds(uint32_t ms);

}  // namespace corvane::platform

#endif  // CORVANE_PLATFORM_SYNC_H_
