#include "platform/win32/module_handle.h"

#include <atomic>
#include <string>

#include "platform/system.h"

namespace corvane::platform {
namespace win32 {
namespace {

std::atomic<HMODULE> g_module{nullptr};

}  // namespace

void RememberModuleHandle(HMODULE module) { g_module.store(module, std::memory_order_release); }

bool ModuleHandleRemembered() { return g_module.load(std::memory_order_acquire) != nullptr; }

HMODULE ModuleHandle() {
  HMODULE module = g_module.load(std::memory_order_acquire);
  if (module) return module;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&ModuleHandle), &module)) {
    return nullptr;
  }
  return module;
}

}  // namespace win32

std::string ModulePath() {
  HMODULE module = win32::ModuleHandle();
  std::wstring wide(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(module, wide.data(), static_cast<DWORD>(wide.size()));
    if (n == 0) return std::string();
    // A full buffer means the name was cut: try again with more room.
    if (n < wide.size()) {
      wide.resize(n);
      break;
    }
    if (wide.size() >= 32768) return std::string();
    wide.resize(wide.size() * 2);
  }
  // The path is stored with the 8-bit registry functions. A character the
  // code page cannot hold would come out as '?', naming a file that does
  // not exist, so such a path counts as none.
  // (A UTF-8 code page holds every character and takes neither the flag nor
  // the question.)
  const int length = static_cast<int>(wide.size());
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* ask = utf8 ? nullptr : &lossy;
  const int bytes =
      WideCharToMultiByte(CP_ACP, flags, wide.data(), length, nullptr, 0, nullptr, ask);
  if (bytes <= 0 || lossy) return std::string();
  std::string path(static_cast<size_t>(bytes), '\0');
  if (WideCharToMultiByte(CP_ACP, flags, wide.data(), length, path.data(), bytes, nullptr, ask) !=
          bytes ||
      lossy) {
    return std::string();
  }
  return path;
}

}  // namespace corvane::platform
