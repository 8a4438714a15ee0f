// Reference counting, QueryInterface and aggregation for the library's
// object classes.
//
// An object implements exactly one interface of its own plus
// ISupportErrorInfo. Stand-alone, its IUnknown methods act on its own count.
// As the inner part of an aggregate, the IUnknown methods of its interfaces
// delegate to the outer object, and the outer object holds a separate,
// non-delegating IUnknown (InnerUnknown) that controls the object's life.
//
// Thread safety: reference counts change atomically; objects may be called
// from any thread ("Both" threading model). Each live object holds one
// module lock.
#ifndef CORVANE_FRAME_COM_OBJECT_H_
#define CORVANE_FRAME_COM_OBJECT_H_

#include <corvane/corvane.h>

#include <atomic>
#include <new>

#include "frame/error.h"
#include "frame/error_catalogue.h"
#include "frame/module.h"

namespace corvane::frame {

template <class Interface>
class ComObject : public Interface, public ISupportErrorInfo {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  // IUnknown of the object's interfaces: through the controlling unknown.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return controlling_->QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return controlling_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return controlling_->Release(); }

  // ISupportErrorInfo: only the object's own interface posts error objects.
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return IsEqualGUID(iid, *source_.iid) ? S_OK : S_FALSE;
  }

  // The non-delegating IUnknown (the one an aggregating outer object keeps).
  IUnknown* inner_unknown() { return &inner_; }

 protected:
  ComObject(IUnknown* outer, const ErrorSource& source)
      : inner_(this), controlling_(outer ? outer : &inner_), source_(source) {
    LockModule();
  }
  virtual ~ComObject() { UnlockModule(); }

  // Posts the error object of a catalogue entry (error_catalogue.h) for
  // this class and returns the entry's code.
  HRESULT Raise(const ErrorEntry& error) const { return source_.Raise(error.text, error.code); }

 private:
  class InnerUnknown final : public IUnknown {
   public:
    explicit InnerUnknown(ComObject* self) : self_(self) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
      if (!out) return E_POINTER;
      if (IsEqualGUID(iid, IID_IUnknown)) {
        *out = static_cast<IUnknown*>(this);
      } else if (IsEqualGUID(iid, *self_->source_.iid)) {
        *out = static_cast<Interface*>(self_);
      } else if (IsEqualGUID(iid, IID_ISupportErrorInfo)) {
        *out = static_cast<ISupportErrorInfo*>(self_);
      } else {
        *out = nullptr;
        return E_NOINTERFACE;
      }
      static_cast<IUnknown*>(*out)->AddRef();
      return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
      return self_->refs_.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    ULONG STDMETHODCALLTYPE Release() override {
      ULONG left = self_->refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
      if (left == 0) delete self_;
      return left;
    }

   private:
    ComObject* self_;
  };

  InnerUnknown inner_;
  IUnknown* controlling_;
  ErrorSource source_;
  std::atomic<ULONG> refs_{0};
};

// Creation function of a class: builds the object (as the inner part of an
// aggregate when `outer` is given) and asks it for `iid`. On failure nothing
// is left behind; on success the caller holds the only reference.
template <class T>
HRESULT CreateComObject(IUnknown* outer, REFIID iid, void** out) {
  T* object = nullptr;
  try {
    object = new T(outer);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  IUnknown* inner = object->inner_unknown();
  inner->AddRef();
  HRESULT hr = inner->QueryInterface(iid, out);
  inner->Release();  // destroys the object when the query failed
  return hr;
}

}  // namespace corvane::frame

#endif  // CORVANE_FRAME_COM_OBJECT_H_
