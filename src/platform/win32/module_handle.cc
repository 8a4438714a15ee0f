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
  std::string path(MAX_PATH, '\0');
  for (;;) {
    DWORD n = GetModuleFileNameA(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::string();
    // A full buffer means the name was cut: try again with more room.
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return std::string();
    path.resize(path.size() * 2);
  }
}

}  // namespace corvane::platform
