#include "stream/hex_text.h"

#include <algorithm>

namespace corvane::stream {
namespace {

int DigitValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

size_t HexDecoder::Decode(const uint8_t* in, size_t in_len, uint8_t* out, size_t out_room,
                          size_t* consumed) {
  size_t produced = 0;
  size_t i = 0;
  while (produced < out_room && i < in_len) {
    int d = DigitValue(in[i++]);
    if (d >= 0 && previous_ >= 0) out[produced++] = static_cast<uint8_t>(previous_ * 16 + d);
    previous_ = d;
  }
  *consumed = i;
  return produced;
}

Status ReadHexText(ByteSource& source, void* dst, uint32_t n, uint32_t* delivered) {
  *delivered = 0;
  auto* out = static_cast<uint8_t*>(dst);
  HexDecoder decoder;
  uint8_t text[4096];
  while (*delivered < n) {
    // About three characters per byte ("1B "); a little more so that most
    // requests take one read, and never less than a small piece.
    uint64_t guess = uint64_t{n - *delivered} * 3 + 8;
    uint32_t want = static_cast<uint32_t>(std::clamp<uint64_t>(guess, 16, sizeof text));
    uint32_t got = 0;
    Status st = source.Read(text, want, &got);
    if (!st.ok()) return st;
    if (got == 0) return Status::Ok();
    size_t used = 0;
    *delivered += static_cast<uint32_t>(decoder.Decode(text, got, out + *delivered,
                                                       n - *delivered, &used));
    if (used < got) {
      return source.Seek(-static_cast<int64_t>(got - used), platform::SeekOrigin::kCurrent,
                         nullptr);
    }
  }
  return Status::Ok();
}

}  // namespace corvane::stream
