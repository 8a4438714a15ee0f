// The system's message text for an error code.
#include <windows.h>

#include "platform/system.h"

namespace corvane::platform {

std::string SystemErrorText(uint32_t code) {
  char* buffer = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  std::string text = n && buffer ? std::string(buffer, n) : std::string();
  if (buffer) LocalFree(buffer);
  // The system's texts end in a line end (and some in a space before it).
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

}  // namespace corvane::platform
