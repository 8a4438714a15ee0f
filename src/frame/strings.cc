#include "frame/strings.h"

#include "platform/text.h"

namespace corvane::frame {

bool BstrToNarrow(BSTR text, std::string* out) {
  out->clear();
  if (!text) return true;
  const uint32_t length = SysStringLen(text);
  const char16_t* wide = reinterpret_cast<const char16_t*>(text);
  for (uint32_t i = 0; i < length; ++i) {
    if (wide[i] == 0) return false;
  }
  return platform::WideToNarrow(wide, length, out);
}

BSTR NarrowToBstr(const std::string& text) {
  std::u16string wide;
  if (!platform::NarrowToWide(text, &wide)) return nullptr;
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()),
                           static_cast<uint32_t>(wide.size()));
}

}  // namespace corvane::frame
