// COM-compatible base for systems without the Windows SDK.
//
// Gives clients and the library the Windows names with the Windows sizes, so
// that one client source compiles against <corvane/corvane.h> on Windows and
// elsewhere. Only <corvane/corvane.h> and the header generated from
// idl/corvane.idl include this file.
#ifndef CORVANE_COMPAT_H_
#define CORVANE_COMPAT_H_

#ifdef _WIN32
#error "compat.h is the non-Windows base; Windows uses <windows.h>/<ole2.h>"
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(CORVANE_BUILDING_LIBRARY)
#define CORVANE_API extern "C" __attribute__((visibility("default")))
#else
#define CORVANE_API extern "C"
#endif

// ---- Scalar types: Windows sizes, whatever the host's long is. ----
typedef uint8_t BYTE;
typedef uint16_t USHORT;
typedef uint16_t WORD;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int32_t HRESULT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef int32_t BOOL;
typedef void* LPVOID;
typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define OLESTR(str) u##str
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE

// ---- Result codes. ----
#define S_OK ((HRESULT)0x00000000)
#define S_FALSE ((HRESULT)0x00000001)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

// ---- GUIDs. ----
struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool IsEqualIID(REFIID a, REFIID b) { return IsEqualGUID(a, b); }
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return IsEqualGUID(a, b); }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
inline constexpr IID IID_ICreateErrorInfo = {
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

// ---- Standard interfaces: abstract classes whose vtables are COM vtables. ----
struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct IClassFactory : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                   void** ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};

struct ISupportErrorInfo : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) = 0;
};

struct IErrorInfo : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSource(BSTR* pBstrSource) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pBstrDescription) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* pBstrHelpFile) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* pdwHelpContext) = 0;
};

struct ICreateErrorInfo : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR szSource) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR szDescription) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR szHelpFile) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD dwHelpContext) = 0;
};

// ---- Runtime functions, exported by libcorvane.so with Windows signatures. ----
// BSTR: a length-prefixed, zero-terminated UTF-16 string allocated by the
// library; SysFreeString(nullptr) is allowed.
CORVANE_API BSTR SysAllocString(const OLECHAR* psz);
CORVANE_API BSTR SysAllocStringLen(const OLECHAR* strIn, uint32_t ui);
CORVANE_API void SysFreeString(BSTR bstrString);
CORVANE_API uint32_t SysStringLen(BSTR pbstr);

// Error objects: one slot per thread. SetErrorInfo takes a reference and
// releases the previous object; GetErrorInfo hands the reference over and
// empties the slot (S_FALSE and a null pointer when the slot is empty).
CORVANE_API HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);
CORVANE_API HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
CORVANE_API HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);

// Looks up the ProgID registered for a class in the library's settings store.
// The string is allocated with the task allocator: free it with CoTaskMemFree.
CORVANE_API HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);
CORVANE_API void CoTaskMemFree(void* pv);

// Module exports.
CORVANE_API HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
CORVANE_API HRESULT DllCanUnloadNow(void);
CORVANE_API HRESULT DllRegisterServer(void);
CORVANE_API HRESULT DllUnregisterServer(void);

#endif  // CORVANE_COMPAT_H_
