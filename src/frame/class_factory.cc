#include "frame/class_factory.h"

#include <new>

#include "frame/module.h"

namespace corvane::frame {

IUnknown* ClassFactory::Create(const ClassEntry& entry) {
  try {
    return static_cast<IClassFactory*>(new ClassFactory(entry));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

HRESULT ClassFactory::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IClassFactory)) {
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG ClassFactory::AddRef() {
  platform::CriticalSectionLock lock(cs_);
  if (++refs_ == 2) LockModule();
  return refs_;
}

ULONG ClassFactory::Release() {
  ULONG left;
  {
    platform::CriticalSectionLock lock(cs_);
    left = --refs_;
    if (left == 1) UnlockModule();
  }
  if (left == 0) delete this;
  return left;
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  // An aggregating outer object may only ask for the inner IUnknown.
  if (outer && !IsEqualGUID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  if (outer && !entry_.aggregatable) return CLASS_E_NOAGGREGATION;
  return entry_.create(outer, iid, out);
}

HRESULT ClassFactory::LockServer(BOOL lock) {
  if (lock) {
    LockModule();
  } else {
    UnlockModule();
  }
  return S_OK;
}

}  // namespace corvane::frame
