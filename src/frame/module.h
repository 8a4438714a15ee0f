// Module state of the in-process server: the lock count that decides when
// the module may be unloaded, and the module lock that guards the first
// creation of a class object.
//
// Thread safety: every function may be called from any thread. The lock
// count changes by atomic operations only.
#ifndef CORVANE_FRAME_MODULE_H_
#define CORVANE_FRAME_MODULE_H_

#include <cstdint>

#include "platform/sync.h"

namespace corvane::frame {

// Raised by every live object, every held LockServer lock and every class
// object that clients hold; the module may unload when it is 0.
void LockModule();
void UnlockModule();
int32_t ModuleLockCount();

// Guards the first creation of a class object.
platform::CriticalSection& ModuleCriticalSection();

// Process detach: releases the cached class objects in object-map order.
void OnProcessDetach();

}  // namespace corvane::frame

#endif  // CORVANE_FRAME_MODULE_H_
