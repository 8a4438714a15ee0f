// Conversions between UTF-16 and the system's 8-bit code page (the ANSI code
// page on Windows, UTF-8 elsewhere).
#ifndef CORVANE_PLATFORM_TEXT_H_
#define CORVANE_PLATFORM_TEXT_H_

#include <cstddef>
#include <string>

namespace corvane::platform {

// False when a character has no representation in the code page (on Windows
// the system's default character would stand in for it; the library refuses
// such names instead of opening a different file). Unpaired surrogates are
// such characters.
bool WideToNarrow(const char16_t* text, size_t length, std::string* out);
// False when the bytes are not valid in the code page.
bool NarrowToWide(const std::string& text, std::u16string* out);

}  // namespace corvane::platform

#endif  // CORVANE_PLATFORM_TEXT_H_
