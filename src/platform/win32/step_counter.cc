// StepCounter: an atomic count and an auto-reset event. The event stays
// signalled when it is set while nobody waits, so a waiter that checked the
// count just before an Advance still wakes; a spurious wake-up only makes
// it look at the count again.
#include <windows.h>

#include <atomic>

#include "platform/sync.h"

namespace corvane::platform {

struct StepCounter::Impl {
  std::atomic<uint32_t> value{0};
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ~Impl() {
    if (event) CloseHandle(event);
  }
};

StepCounter::StepCounter() : impl_(std::make_unique<Impl>()) {}
StepCounter::~StepCounter() = default;

uint32_t StepCounter::value() const { return impl_->value.load(std::memory_order_acquire); }

void StepCounter::Advance() {
  impl_->value.fetch_add(1, std::memory_order_release);
  if (impl_->event) SetEvent(impl_->event);
}

void StepCounter::SleepPast(uint32_t seen) {
  while (value() == seen) {
    // Without an event (creation failed) the wait polls.
    if (!impl_->event || WaitForSingleObject(impl_->event, INFINITE) != WAIT_OBJECT_0) Sleep(1);
  }
}

}  // namespace corvane::platform
