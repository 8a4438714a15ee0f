// Text conversions at the COM boundary.
#ifndef CORVANE_FRAME_STRINGS_H_
#define CORVANE_FRAME_STRINGS_H_

#include <corvane/corvane.h>

#include <string>

namespace corvane::frame {

// Converts a BSTR to the system's 8-bit code page. False when a character
// cannot be represented or the string holds a zero character (a file name
// would otherwise silently end there).
bool BstrToNarrow(BSTR text, std::string* out);

// A new BSTR from 8-bit text; null when out of memory or not convertible.
BSTR NarrowToBstr(const std::string& text);

}  // namespace corvane::frame

#endif  // CORVANE_FRAME_STRINGS_H_
