// Locks and threads on top of the C++ standard library.
#include "platform/sync.h"

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

namespace corvane::platform {

void CriticalSection::AcquireContended() {
  for (int spin = 0; spin < 100; ++spin) {
    uint32_t expected = kFree;
    if (state_.load(std::memory_order_relaxed) == kFree &&
        state_.compare_exchange_weak(expected, kHeld, std::memory_order_acquire,
                                     std::memory_order_relaxed)) {
      return;
    }
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  // Mark the lock as wanted, so that the holder wakes a sleeper on leaving.
  while (state_.exchange(kHeldAndWanted, std::memory_order_acquire) != kFree) {
    state_.wait(kHeldAndWanted, std::memory_order_relaxed);
  }
}

void CriticalSection::WakeOne() { state_.notify_one(); }

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
