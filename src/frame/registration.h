// Registration of the module's classes: the class keys under CLSID and the
// ProgID keys of every class in the object map, plus the platform's proxy and
// type-library registration where the platform has them.
#ifndef CORVANE_FRAME_REGISTRATION_H_
#define CORVANE_FRAME_REGISTRATION_H_

#include <corvane/corvane.h>

#include <string>

namespace corvane::frame {

// "{72F30636-98F2-11D4-ADBD-009027A2E3E1}": upper-case hex with braces.
std::string GuidToString(REFGUID guid);

HRESULT RegisterServer();
HRESULT UnregisterServer();

}  // namespace corvane::frame

#endif  // CORVANE_FRAME_REGISTRATION_H_
