// Message boxes: the client's handler if one is installed, else the
// platform's default.
//
// The handler and its context change together under one lock; the handler is
// called outside the lock, so a handler may install another handler.
#include <corvane/corvane.h>

#include "platform/message_box_default.h"
#include "platform/sync.h"
#include "platform/system.h"

namespace corvane::platform {
namespace {

struct HandlerSlot {
  CriticalSection lock;
  CorvaneMessageBoxHandler handler GUARDED_BY(lock) = nullptr;
  void* context GUARDED_BY(lock) = nullptr;
};

// Never destroyed: the indexing thread may show a box while the process
// exits.
HandlerSlot& Slot() {
  static HandlerSlot* slot = new HandlerSlot;
  return *slot;
}

}  // namespace

int UnansweredMessageBoxResult(uint32_t type) {
  constexpr int kIdAbort = 3;
  constexpr int kIdNo = 7;
  switch (type & 0xF) {
    case 0x0: return kIdOk;      // OK
    case 0x2: return kIdAbort;   // Abort, Retry, Ignore
    case 0x4: return kIdNo;      // Yes, No
    default: return kIdCancel;   // every other set has Cancel
  }
}

int ShowMessageBox(const std::string& caption, const std::string& text, uint32_t type) {
  HandlerSlot& slot = Slot();
  CorvaneMessageBoxHandler handler;
  void* context;
  {
    CriticalSectionLock hold(slot.lock);
    handler = slot.handler;
    context = slot.context;
  }
  if (handler) return handler(caption.c_str(), text.c_str(), type, context);
  return ShowSystemMessageBox(caption, text, type);
}

}  // namespace corvane::platform

extern "C" void STDMETHODCALLTYPE CorvaneSetMessageBoxHandler(CorvaneMessageBoxHandler handler,
                                                              void* context) {
  corvane::platform::HandlerSlot& slot = corvane::platform::Slot();
  corvane::platform::CriticalSectionLock hold(slot.lock);
  slot.handler = handler;
  slot.context = handler ? context : nullptr;
}
