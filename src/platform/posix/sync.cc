// Locks and threads on top of the C++ standard library.
#include "platform/sync.h"

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>
#if defined(__linux__)
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace corvane::platform {

namespace {

// Makes every running thread of the process pass a full memory barrier
// (Linux's membarrier, registered once). False where the system offers
// none; a waiter then cannot rely on being woken and polls instead.
bool BarrierOnEveryThread() {
#if defined(__linux__)
  static const bool registered =
      syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
  return registered && syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) == 0;
#else
  return false;
#endif
}

}  // namespace

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
  // Leave stores kFree and then loads waiters_ without a barrier between
  // them. Counting in, then a barrier on every thread, makes sure that a
  // holder whose store this thread does not see below will see the count
  // when it leaves, and wake a sleeper.
  waiters_.fetch_add(1, std::memory_order_seq_cst);
  const bool woken = BarrierOnEveryThread();
  for (;;) {
    uint32_t expected = kFree;
    if (state_.compare_exchange_strong(expected, kHeld, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
      break;
    }
    if (woken) {
      state_.wait(kHeld, std::memory_order_relaxed);
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  }
  waiters_.fetch_sub(1, std::memory_order_relaxed);
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

struct StepCounter::Impl {
  std::atomic<uint32_t> value{0};
};

StepCounter::StepCounter() : impl_(new Impl) {}
StepCounter::~StepCounter() = default;

uint32_t StepCounter::value() const { return impl_->value.load(std::memory_order_acquire); }

void StepCounter::Advance() {
  impl_->value.fetch_add(1, std::memory_order_release);
  impl_->value.notify_all();  // a system call only when a thread sleeps on it
}

void StepCounter::SleepPast(uint32_t seen) {
  while (value() == seen) impl_->value.wait(seen, std::memory_order_acquire);
}

void SleepMilliseconds(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace corvane::platform
