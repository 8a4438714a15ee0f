// The class object of one class: an IClassFactory whose CreateInstance runs
// the class's creation function.
//
// Reference counting follows the module's cache: the cache holds one
// reference; a client reference raising the count to 2 takes a module lock,
// one lowering it to 1 gives it back; at 0 the factory is destroyed. Both
// transitions run under the factory's own critical section.
#ifndef CORVANE_FRAME_CLASS_FACTORY_H_
#define CORVANE_FRAME_CLASS_FACTORY_H_

#include <corvane/corvane.h>

#include "frame/class_table.h"
#include "platform/sync.h"

namespace corvane::frame {

class ClassFactory final : public IClassFactory {
 public:
  // A new factory holding one reference (the cache's), or null when out of
  // memory.
  static IUnknown* Create(const ClassEntry& entry);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  explicit ClassFactory(const ClassEntry& entry) : entry_(entry) {}
  ~ClassFactory() = default;

  const ClassEntry& entry_;
  platform::CriticalSection cs_;
  ULONG refs_ GUARDED_BY(cs_) = 1;
};

}  // namespace corvane::frame

#endif  // CORVANE_FRAME_CLASS_FACTORY_H_
