#include "stream/record_decoder.h"

#include <algorithm>

namespace corvane::stream {

Status SkipHexText(ByteSource& source, uint32_t n) {
  uint8_t scratch[1024];
  while (n > 0) {
    const uint32_t want = std::min<uint32_t>(n, sizeof scratch);
    uint32_t got = 0;
    Status st = source.Read(scratch, want, &got);
    if (!st.ok()) return st;
    if (got < want) break;  // the end of the text: nothing left to skip
    n -= got;
  }
  return Status::Ok();
}

}  // namespace corvane::stream
