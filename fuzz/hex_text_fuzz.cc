// Fuzzes the hexadecimal text reader: part 0 is the text, part 1 a list of
// reads (start offset, byte count, piece size of the decoder).
//
// Properties: ReadHexText delivers exactly what a straightforward pairing of
// adjacent digits from the start offset gives, no more than asked, and
// leaves the pointer behind the character that completed its last byte (or
// at the end of the text); the decoder gives the same bytes whatever the
// pieces it is fed in.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "stream/hex_text.h"

using corvane::fuzz::Controls;
using corvane::fuzz::MemorySource;
using corvane::platform::SeekOrigin;

namespace {

int Digit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Bytes of text[from..) up to n, and where the reading stops.
std::vector<uint8_t> Reference(std::span<const uint8_t> text, size_t from, size_t n, size_t* end) {
  std::vector<uint8_t> out;
  int previous = -1;
  size_t i = from;
  while (out.size() < n && i < text.size()) {
    int d = Digit(text[i++]);
    if (d >= 0 && previous >= 0) out.push_back(static_cast<uint8_t>(previous * 16 + d));
    previous = d;
  }
  *end = std::max(i, from);
  return out;
}

void CheckRead(std::span<const uint8_t> text, size_t from, uint32_t n) {
  MemorySource source(text);
  CORVANE_FUZZ_CHECK(source.Seek(static_cast<int64_t>(from), SeekOrigin::kBegin, nullptr).ok());
  std::vector<uint8_t> out(n + 1, 0xEE);
  uint32_t delivered = 0;
  CORVANE_FUZZ_CHECK(corvane::stream::ReadHexText(source, out.data(), n, &delivered).ok());
  CORVANE_FUZZ_CHECK(delivered <= n);
  CORVANE_FUZZ_CHECK(out[n] == 0xEE);
  size_t end = 0;
  std::vector<uint8_t> want = Reference(text, from, n, &end);
  CORVANE_FUZZ_CHECK(delivered == want.size());
  CORVANE_FUZZ_CHECK(std::equal(want.begin(), want.end(), out.begin()));
  CORVANE_FUZZ_CHECK(source.position() == static_cast<int64_t>(end));
}

void CheckPieces(std::span<const uint8_t> text, Controls& c) {
  std::vector<uint8_t> whole(text.size());
  size_t used = 0;
  corvane::stream::HexDecoder one;
  whole.resize(one.Decode(text.data(), text.size(), whole.data(), whole.size(), &used));

  corvane::stream::HexDecoder pieces;
  std::vector<uint8_t> joined;
  size_t at = 0;
  while (at < text.size()) {
    size_t piece = std::min<size_t>(1 + c.Byte() % 64, text.size() - at);
    uint8_t out[64];
    size_t consumed = 0;
    size_t made = pieces.Decode(text.data() + at, piece, out, sizeof out, &consumed);
    CORVANE_FUZZ_CHECK(consumed == piece && made <= piece);
    joined.insert(joined.end(), out, out + made);
    at += piece;
  }
  CORVANE_FUZZ_CHECK(joined == whole);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parts = corvane::fuzz::SplitInput(data, size, 2);
  std::span<const uint8_t> text = parts[0];
  Controls c(parts[1]);
  if (c.empty()) {
    CheckRead(text, 0, static_cast<uint32_t>(text.size()));
    CheckRead(text, text.size() / 2, 12);
  }
  for (int i = 0; i < 16 && !c.empty(); ++i) {
    size_t from = text.empty() ? 0 : c.U16() % (text.size() + 2);
    uint32_t n = c.U16() % 6000;
    CheckRead(text, from, n);
  }
  CheckPieces(text, c);
  return 0;
}
