// CriticalSection: a Windows critical section (re-entrant by nature).
#include <windows.h>

#include "platform/sync.h"

namespace corvane::platform {

struct CriticalSection::Impl {
  CRITICAL_SECTION cs;
};

CriticalSection::CriticalSection() : impl_(std::make_unique<Impl>()) {
  InitializeCriticalSection(&impl_->cs);
}

CriticalSection::~CriticalSection() { DeleteCriticalSection(&impl_->cs); }

void CriticalSection::Enter() { EnterCriticalSection(&impl_->cs); }

void CriticalSection::Leave() { LeaveCriticalSection(&impl_->cs); }

}  // namespace corvane::platform
