// StepCounter: an atomic count, and a slim lock with a condition variable
// for the sleeping side. Advance changes the count under the lock, and a
// sleeper checks it under the lock before it sleeps, so no wake-up is lost
// between the check and the sleep, whichever thread waits next (an event
// left set by one Advance could be taken by the advancing thread itself,
// waiting for the next step, and leave the other asleep).
#include <windows.h>

#include <atomic>

#include "platform/sync.h"

namespace corvane::platform {

struct StepCounter::Impl {
  std::atomic<uint32_t> value{0};
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE moved = CONDITION_VARIABLE_INIT;
};

StepCounter::StepCounter() : impl_(std::make_unique<Impl>()) {}
StepCounter::~StepCounter() = default;

uint32_t StepCounter::value() const { return impl_->value.load(std::memory_order_acquire); }

void StepCounter::Advance() {
  AcquireSRWLockExclusive(&impl_->lock);
  impl_->value.fetch_add(1, std::memory_order_release);
  ReleaseSRWLockExclusive(&impl_->lock);
  WakeAllConditionVariable(&impl_->moved);
}

void StepCounter::SleepPast(uint32_t seen) {
  AcquireSRWLockExclusive(&impl_->lock);
  while (value() == seen) SleepConditionVariableSRW(&impl_->moved, &impl_->lock, INFINITE, 0);
  ReleaseSRWLockExclusive(&impl_->lock);
}

}  // namespace corvane::platform
