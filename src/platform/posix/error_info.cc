// Error objects and the per-thread error slot.
//
// One object type implements IErrorInfo (read) and ICreateErrorInfo
// (write); its fields are guarded by a mutex, since a client may hand the
// object to another thread. Each thread has one slot: SetErrorInfo puts a
// reference in it (releasing the previous one), GetErrorInfo takes the
// reference out. A slot still full when its thread ends is released then.
#include <corvane/corvane.h>

#include <atomic>
#include <new>
#include <string>

#include "platform/posix/mutex.h"

namespace {

BSTR CopyToBstr(const std::u16string& s) {
  return s.empty() ? nullptr : SysAllocStringLen(s.data(), static_cast<uint32_t>(s.size()));
}

std::u16string FromOleString(const OLECHAR* s) { return s ? std::u16string(s) : std::u16string(); }

class ErrorObject final : public IErrorInfo, public ICreateErrorInfo {
 public:
  // IUnknown (reached through either base).
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IErrorInfo)) {
      *ppv = static_cast<IErrorInfo*>(this);
    } else if (IsEqualIID(riid, IID_ICreateErrorInfo)) {
      *ppv = static_cast<ICreateErrorInfo*>(this);
    } else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // IErrorInfo
  HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) override {
    if (!pGUID) return E_INVALIDARG;
    corvane::platform::MutexLock hold(mutex_);
    *pGUID = guid_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSource(BSTR* out) override { return Get(&source_, out); }
  HRESULT STDMETHODCALLTYPE GetDescription(BSTR* out) override { return Get(&description_, out); }
  HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* out) override { return Get(&help_file_, out); }
  HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* out) override {
    if (!out) return E_INVALIDARG;
    corvane::platform::MutexLock hold(mutex_);
    *out = help_context_;
    return S_OK;
  }

  // ICreateErrorInfo
  HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) override {
    corvane::platform::MutexLock hold(mutex_);
    guid_ = rguid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR s) override { return Set(&source_, s); }
  HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR s) override { return Set(&description_, s); }
  HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR s) override { return Set(&help_file_, s); }
  HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD context) override {
    corvane::platform::MutexLock hold(mutex_);
    help_context_ = context;
    return S_OK;
  }

 private:
  ~ErrorObject() = default;

  HRESULT Get(const std::u16string* field, BSTR* out) {
    if (!out) return E_INVALIDARG;
    corvane::platform::MutexLock hold(mutex_);
    *out = CopyToBstr(*field);
    return field->empty() || *out ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT Set(std::u16string* field, LPOLESTR value) {
    try {
      std::u16string copy = FromOleString(value);
      corvane::platform::MutexLock hold(mutex_);
      field->swap(copy);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

  std::atomic<ULONG> refs_{1};
  corvane::platform::Mutex mutex_;
  GUID guid_ GUARDED_BY(mutex_) = {};
  std::u16string source_ GUARDED_BY(mutex_);
  std::u16string description_ GUARDED_BY(mutex_);
  std::u16string help_file_ GUARDED_BY(mutex_);
  DWORD help_context_ GUARDED_BY(mutex_) = 0;
};

// The calling thread's slot; its destructor runs when the thread ends (for
// the main thread: at exit), releasing an object that nobody fetched.
struct ErrorSlot {
  IErrorInfo* info = nullptr;
  ~ErrorSlot() {
    IErrorInfo* left = info;
    info = nullptr;
    if (left) left->Release();
  }
};

thread_local ErrorSlot t_slot;

}  // namespace

CORVANE_API HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (!pperrinfo) return E_INVALIDARG;
  auto* object = new (std::nothrow) ErrorObject;
  *pperrinfo = object;
  return object ? S_OK : E_OUTOFMEMORY;
}

CORVANE_API HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  if (perrinfo) perrinfo->AddRef();
  IErrorInfo* previous = t_slot.info;
  t_slot.info = perrinfo;
  // Released last: its destructor might set another error object.
  if (previous) previous->Release();
  return S_OK;
}

CORVANE_API HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
  if (!pperrinfo) return E_INVALIDARG;
  *pperrinfo = nullptr;
  if (dwReserved != 0) return E_INVALIDARG;
  *pperrinfo = t_slot.info;
  t_slot.info = nullptr;
  return *pperrinfo ? S_OK : S_FALSE;
}
