// The Windows default for message boxes: a real box.
#include <windows.h>

#include "platform/message_box_default.h"

namespace corvane::platform {

int ShowSystemMessageBox(const std::string& caption, const std::string& text, uint32_t type) {
  int answer = MessageBoxA(nullptr, text.c_str(), caption.c_str(), type);
  // 0: the box could not be shown (a service, no desktop). Never treat that
  // as an answer that would make the caller ask again.
  return answer != 0 ? answer : UnansweredMessageBoxResult(type);
}

}  // namespace corvane::platform
