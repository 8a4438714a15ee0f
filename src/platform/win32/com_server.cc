// The COM server steps that only Windows has: the generated proxy/stub code
// and the embedded type library.
#include "platform/com_server.h"

#include <string>

#include "platform/win32/module_handle.h"
#include "platform/win32/proxy_entry.h"

namespace corvane::platform {
namespace {

// Full path of the module file (wide, so that no name is lost to the code
// page).
std::wstring ModuleFileName() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(win32::ModuleHandle(), path.data(),
                                 static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return std::wstring();
    path.resize(path.size() * 2);
  }
}

size_t LastSeparator(const std::wstring& path) { return path.find_last_of(L"\\/"); }

// The path with the file's extension (from the last dot of the file name)
// replaced by ".tlb", or ".tlb" appended when the name has none.
std::wstring TypeLibraryFileBeside(const std::wstring& path) {
  size_t dot = path.find_last_of(L'.');
  size_t sep = LastSeparator(path);
  if (dot == std::wstring::npos || (sep != std::wstring::npos && dot < sep)) {
    return path + L".tlb";
  }
  return path.substr(0, dot) + L".tlb";
}

// Loads the type library from the module's resources, else from the .tlb
// file beside the module. *path receives the file it came from.
HRESULT LoadModuleTypeLibrary(ITypeLib** library, std::wstring* path) {
  *library = nullptr;
  std::wstring module = ModuleFileName();
  if (module.empty()) return HRESULT_FROM_WIN32(GetLastError());
  HRESULT hr = LoadTypeLibEx(module.c_str(), REGKIND_NONE, library);
  if (SUCCEEDED(hr)) {
    *path = module;
    return hr;
  }
  std::wstring beside = TypeLibraryFileBeside(module);
  hr = LoadTypeLibEx(beside.c_str(), REGKIND_NONE, library);
  if (SUCCEEDED(hr)) *path = beside;
  return hr;
}

// The proxy/stub registration names the module that PrxDllMain was given.
// In corvane.dll DllMain has passed it on; a program that links the static
// core has no DllMain of ours, so the module holding this code is passed here
// once, before the first registration step.
void BindProxyStubToModule() {
  static const bool bound = [] {
    if (!win32::ModuleHandleRemembered()) {
      PrxDllMain(reinterpret_cast<HINSTANCE>(win32::ModuleHandle()), DLL_PROCESS_ATTACH,
                 nullptr);
    }
    return true;
  }();
  (void)bound;
}

}  // namespace

HRESULT ProxyGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  return PrxDllGetClassObject(clsid, iid, out);
}

bool ProxiesInUse() { return PrxDllCanUnloadNow() != S_OK; }

HRESULT RegisterProxyStub() {
  BindProxyStubToModule();
  return PrxDllRegisterServer();
}

HRESULT UnregisterProxyStub() {
  BindProxyStubToModule();
  return PrxDllUnregisterServer();
}

HRESULT RegisterTypeLibrary() {
  ITypeLib* library = nullptr;
  std::wstring path;
  HRESULT hr = LoadModuleTypeLibrary(&library, &path);
  if (FAILED(hr)) return hr;
  // The help directory is the module's directory.
  std::wstring help_dir = path;
  size_t sep = LastSeparator(help_dir);
  help_dir = sep == std::wstring::npos ? std::wstring() : help_dir.substr(0, sep);
  hr = RegisterTypeLib(library, const_cast<LPOLESTR>(path.c_str()),
                       help_dir.empty() ? nullptr : const_cast<LPOLESTR>(help_dir.c_str()));
  library->Release();
  return hr;
}

HRESULT UnregisterTypeLibrary() {
  // Looked up at run time: older systems' oleaut32 lack the function.
  using UnRegisterTypeLibFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
  HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll");
  if (!oleaut) return S_OK;
  auto unregister = reinterpret_cast<UnRegisterTypeLibFn>(
      reinterpret_cast<void*>(GetProcAddress(oleaut, "UnRegisterTypeLib")));
  if (!unregister) return S_OK;

  ITypeLib* library = nullptr;
  std::wstring path;
  HRESULT hr = LoadModuleTypeLibrary(&library, &path);
  if (FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  hr = library->GetLibAttr(&attr);
  if (SUCCEEDED(hr)) {
    hr = unregister(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                    attr->syskind);
    library->ReleaseTLibAttr(attr);
  }
  library->Release();
  return hr;
}

}  // namespace corvane::platform
