#include "frame/module.h"

#include <atomic>

#include "frame/class_table.h"

namespace corvane::frame {
namespace {

std::atomic<int32_t> g_lock_count{0};

}  // namespace

void LockModule() { g_lock_count.fetch_add(1, std::memory_order_relaxed); }
void UnlockModule() { g_lock_count.fetch_sub(1, std::memory_order_acq_rel); }
int32_t ModuleLockCount() { return g_lock_count.load(std::memory_order_acquire); }

platform::CriticalSection& ModuleCriticalSection() {
  // Constructed on first use and deliberately never destroyed: class objects
  // may be requested while static destructors of other modules run.
  static platform::CriticalSection* cs = new platform::CriticalSection();
  return *cs;
}

void OnProcessDetach() { ReleaseCachedClassObjects(); }

}  // namespace corvane::frame
