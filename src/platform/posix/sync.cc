// Locks and threads on top of the C++ standard library.
#include "platform/sync.h"

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

namespace corvane::platform {

namespace {

// The calling thread's identity for re-entry. The thread pointer is unique
// among live threads and costs one register read where the compiler
// offers it; elsewhere the standard library's id.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__aarch64__))
using ThreadKey = void*;
inline ThreadKey CurrentThreadKey() { return __builtin_thread_pointer(); }
#else
using ThreadKey = std::thread::id;
inline ThreadKey CurrentThreadKey() { return std::this_thread::get_id(); }
#endif

}  // namespace

// A re-entrant lock that costs one atomic exchange to enter and one to
// leave when nobody else wants it: every object method takes its object's
// lock, and a reader takes it twice per record, so the uncontended path is
// what readers and recorders pay. (std::recursive_mutex goes through the
// general pthread mutex, several times the instructions.) A waiting thread
// spins briefly, then sleeps on the state word.
struct CriticalSection::Impl {
  static constexpr uint32_t kFree = 0, kHeld = 1, kHeldAndWanted = 2;
  std::atomic<uint32_t> state{kFree};
  // The holder. Read without ordering to recognise re-entry: only the
  // holder itself ever stores its own id here, so a stale value never
  // equals the calling thread's id.
  std::atomic<ThreadKey> owner{};
  uint32_t depth = 0;  // entries of the holder; touched only by the holder

  void Acquire() {
    uint32_t expected = kFree;
    if (state.compare_exchange_strong(expected, kHeld, std::memory_order_acquire,
                                      std::memory_order_relaxed)) {
      return;
    }
    AcquireContended();
  }

  // Kept out of line, so that the uncontended path stays a few instructions.
  [[gnu::noinline]] void AcquireContended() {
    for (int spin = 0; spin < 100; ++spin) {
      uint32_t expected = kFree;
      if (state.load(std::memory_order_relaxed) == kFree &&
          state.compare_exchange_weak(expected, kHeld, std::memory_order_acquire,
                                      std::memory_order_relaxed)) {
        return;
      }
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    }
    // Mark the lock as wanted, so that the holder wakes a sleeper on leaving.
    while (state.exchange(kHeldAndWanted, std::memory_order_acquire) != kFree) {
      state.wait(kHeldAndWanted, std::memory_order_relaxed);
    }
  }

  void Release() {
    if (state.exchange(kFree, std::memory_order_release) == kHeldAndWanted) state.notify_one();
  }
};

CriticalSection::CriticalSection() : impl_(new Impl) {}
CriticalSection::~CriticalSection() = default;

void CriticalSection::Enter() {
  Impl& m = *impl_;
  const ThreadKey self = CurrentThreadKey();
  if (m.owner.load(std::memory_order_relaxed) == self) {
    ++m.depth;
    return;
  }
  m.Acquire();
  m.owner.store(self, std::memory_order_relaxed);
  m.depth = 1;
}

void CriticalSection::Leave() {
  Impl& m = *impl_;
  if (--m.depth > 0) return;
  m.owner.store(ThreadKey(), std::memory_order_relaxed);
  m.Release();
}

struct Thread::Impl {
  std::thread thread;
};

Thread::Thread() : impl_(new Impl) {}
Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> fn) {
  if (impl_->thread.joinable() || !fn) return false;
  try {
    impl_->thread = std::thread(std::move(fn));
  } catch (const std::system_error&) {
    return false;  // no resources for another thread
  }
  return true;
}

void Thread::Join() {
  if (!impl_->thread.joinable()) return;
  // A thread cannot wait for itself; it lets go of its handle instead.
  if (impl_->thread.get_id() == std::this_thread::get_id()) {
    impl_->thread.detach();
    return;
  }
  impl_->thread.join();
}

bool Thread::Joinable() const { return impl_->thread.joinable(); }

void SleepMilliseconds(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace corvane::platform
