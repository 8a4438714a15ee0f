// What remains of the system: message boxes, error texts, the module's own
// path, and the COM registration steps that exist only on Windows.
#ifndef CORVANE_PLATFORM_SYSTEM_H_
#define CORVANE_PLATFORM_SYSTEM_H_

#include <cstdint>
#include <string>

namespace corvane::platform {

// Message box types and answers (the Windows values).
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbRetryCancel = 0x5;
inline constexpr uint32_t kMbIconError = 0x10;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdRetry = 4;

// Shows a box and returns the answer. A client handler
// (CorvaneSetMessageBoxHandler) sees it first. Without one: a real box on
// Windows, where a box that cannot be shown (MessageBox returning 0) counts
// as Cancel, or OK for a box with only that button; elsewhere caption and
// text go to standard error as one line each and the answer is the same.
int ShowMessageBox(const std::string& caption, const std::string& text, uint32_t type);

// The system's text for a Windows error code, without a trailing line end.
std::string SystemErrorText(uint32_t code);

// Full path of the library module file (corvane.dll, libcorvane.so) in the
// system's 8-bit code page; empty when it cannot be had or held in it.
std::string ModulePath();

}  // namespace corvane::platform

#endif  // CORVANE_PLATFORM_SYSTEM_H_
