// Locks and threads on top of the C++ standard library.
#include "platform/sync.h"

#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>

namespace corvane::platform {

struct CriticalSection::Impl {
  std::recursive_mutex mutex;
};

CriticalSection::CriticalSection() : impl_(new Impl) {}
CriticalSection::~CriticalSection() = default;
void CriticalSection::Enter() { impl_->mutex.lock(); }
void CriticalSection::Leave() { impl_->mutex.unlock(); }

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
