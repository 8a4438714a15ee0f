// Thread: CreateThread, WaitForSingleObject, CloseHandle.
//
// The thread object is used by the thread that owns it (Start, Join and the
// destructor are not called concurrently); the new thread only runs the
// function it was given.
#include <windows.h>

#include <utility>

#include "platform/sync.h"

namespace corvane::platform {

struct Thread::Impl {
  HANDLE handle = nullptr;
  std::function<void()> fn;

  static DWORD WINAPI Run(LPVOID param) {
    static_cast<Impl*>(param)->fn();
    return 0;
  }
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> fn) {
  if (impl_->handle || !fn) return false;
  impl_->fn = std::move(fn);
  impl_->handle = CreateThread(nullptr, 0, &Impl::Run, impl_.get(), 0, nullptr);
  if (!impl_->handle) {
    impl_->fn = nullptr;
    return false;
  }
  return true;
}

void Thread::Join() {
  if (!impl_->handle) return;
  WaitForSingleObject(impl_->handle, INFINITE);
  CloseHandle(impl_->handle);
  impl_->handle = nullptr;
  impl_->fn = nullptr;
}

bool Thread::Joinable() const { return impl_->handle != nullptr; }

void SleepMilliseconds(uint32_t ms) { Sleep(ms); }

}  // namespace corvane::platform
