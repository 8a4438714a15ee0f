// The platform's own message box, used when no client handler is installed.
#ifndef CORVANE_PLATFORM_MESSAGE_BOX_DEFAULT_H_
#define CORVANE_PLATFORM_MESSAGE_BOX_DEFAULT_H_

#include <cstdint>
#include <string>

namespace corvane::platform {

// Shows the box as the platform can and returns the answer (kIdOk,
// kIdCancel, ...). A box that cannot be shown answers Cancel, or OK where
// that is the only button.
int ShowSystemMessageBox(const std::string& caption, const std::string& text, uint32_t type);

// The answer of a box that nobody could see: Cancel where the box has a
// way to decline, else the only button.
int UnansweredMessageBoxResult(uint32_t type);

}  // namespace corvane::platform

#endif  // CORVANE_PLATFORM_MESSAGE_BOX_DEFAULT_H_
