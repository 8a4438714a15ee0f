// Fuzzes the block cipher: part 0 is the bytes of a file, part 1 the
// parameters and a list of reads.
//
//   part 1: [set] [14 parameter bytes] [header length] then (offset, count)
//   pairs. Set 0 is the built-in shared set, 1 the e1.00 set, 2 a set made
//   from the parameter bytes (block size 2 to 128, taps folded into range).
//
// Properties: enciphering and deciphering in place agree with a step-by-step
// model of the cipher (the model is slow and obvious; the library works on
// many blocks side by side), deciphering undoes enciphering, the sink form
// writes what the in-place form makes, and the two reading forms deliver
// the model's plain bytes at every offset behind the header with the
// pointer where they promise to leave it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "stream/cipher.h"
#include "stream/key_source.h"

using corvane::fuzz::Controls;
using corvane::fuzz::MemorySource;
using corvane::platform::SeekOrigin;
using corvane::stream::CipherParameters;
using Bytes = std::vector<uint8_t>;

namespace {

CipherParameters ChooseParameters(Controls& c) {
  const uint8_t set = c.Byte() % 3;
  uint8_t raw[14];
  for (uint8_t& b : raw) b = c.Byte();
  const auto& keys = corvane::stream::DefaultKeyMaterial();
  if (set < 2) return corvane::stream::ParametersFromKey(keys.sets[set == 0 ? 1 : 0]);
  CipherParameters p;
  p.whitening = raw[0];
  p.feedback = raw[1];
  p.pass_count = 1 + raw[2] % 4;
  p.block_size = 2 << (raw[13] % 7);
  for (int i = 0; i < CipherParameters::kTapCount; ++i) p.taps[i] = 1 + raw[3 + i] % (p.block_size - 1);
  return p;
}

// The model is the oracle, not code under test: it is left out of the
// coverage instrumentation, which would otherwise cost more than the rest.
#define CORVANE_MODEL __attribute__((no_sanitize("coverage")))

// A block as the format sees it, held in a ring: one step moves every byte
// to the front by one, which here moves the ring's start instead of the
// bytes. Logical byte i is at b[(start + i) % len].
struct RingBlock {
  uint8_t* b;
  uint32_t len;
  uint32_t start = 0;

  CORVANE_MODEL uint8_t& at(uint32_t i) const { return b[(start + i) % len]; }
};

// The byte a step makes: feedback, the front byte and the taps (a tap
// beyond the block reads the zero padding).
CORVANE_MODEL uint8_t Feed(const CipherParameters& p, const RingBlock& r) {
  uint8_t t = static_cast<uint8_t>(p.feedback) ^ r.at(0);
  for (int tap : p.taps) t ^= static_cast<uint32_t>(tap) < r.len ? r.at(static_cast<uint32_t>(tap)) : 0;
  return t;
}

// One block of length len, step by step as the format defines it: the
// front byte falls off, the made byte goes to the end.
CORVANE_MODEL void EncipherBlockModel(const CipherParameters& p, uint8_t* b, uint32_t len) {
  for (uint32_t i = 0; i < len; ++i) b[i] ^= static_cast<uint8_t>(p.whitening);
  if (p.pass_count <= 0) return;
  RingBlock r{b, len};
  for (uint32_t step = 0; step < len; ++step) {
    const uint8_t t = Feed(p, r);
    r.at(0) = t;  // the slot of the old front byte is the new end
    r.start = (r.start + 1) % len;
  }
  // After len steps the ring starts at slot 0 again.
}

CORVANE_MODEL void DecipherBlockModel(const CipherParameters& p, uint8_t* b, uint32_t len) {
  RingBlock r{b, len};
  for (uint32_t step = 0; step < len; ++step) {
    // Undo one step: the end byte was made from the byte that fell off the
    // front and the taps of the block before the move.
    r.start = (r.start + len - 1) % len;
    const uint8_t t = r.at(0);  // the end byte, now back at the front
    r.at(0) = 0;
    r.at(0) = t ^ Feed(p, r);
  }
  for (uint32_t i = 0; i < len; ++i) b[i] ^= static_cast<uint8_t>(p.whitening);
}

template <typename Fn>
CORVANE_MODEL void OnGrid(const CipherParameters& p, Bytes& data, Fn fn) {
  const auto block = static_cast<size_t>(p.block_size);
  for (size_t at = 0; at < data.size(); at += block) {
    fn(p, data.data() + at, static_cast<uint32_t>(std::min(block, data.size() - at)));
  }
}

void CheckInPlace(const CipherParameters& p, std::span<const uint8_t> input) {
  Bytes plain(input.begin(), input.end());
  Bytes lib = plain, model = plain;
  CORVANE_FUZZ_CHECK(corvane::stream::EncipherInPlace(p, lib.data(), lib.size()).ok());
  OnGrid(p, model, EncipherBlockModel);
  CORVANE_FUZZ_CHECK(lib == model);

  Bytes sunk;
  uint64_t written = 0;
  auto sink = [&sunk](const uint8_t* d, uint32_t n, uint32_t* w) {
    sunk.insert(sunk.end(), d, d + n);
    *w = n;
    return corvane::Status::Ok();
  };
  CORVANE_FUZZ_CHECK(corvane::stream::Encipher(p, plain.data(), static_cast<uint32_t>(plain.size()),
                                               sink, &written).ok());
  CORVANE_FUZZ_CHECK(written == plain.size());
  CORVANE_FUZZ_CHECK(sunk == lib);

  CORVANE_FUZZ_CHECK(corvane::stream::DecipherInPlace(p, lib.data(), lib.size()).ok());
  CORVANE_FUZZ_CHECK(lib == plain);

  // The input taken as enciphered bytes.
  Bytes lib_d = plain, model_d = plain;
  CORVANE_FUZZ_CHECK(corvane::stream::DecipherInPlace(p, lib_d.data(), lib_d.size()).ok());
  OnGrid(p, model_d, DecipherBlockModel);
  CORVANE_FUZZ_CHECK(lib_d == model_d);
}

void CheckRead(const CipherParameters& p, std::span<const uint8_t> file, uint32_t header,
               const Bytes& plain, uint64_t offset, uint32_t n, bool all_or_nothing) {
  MemorySource source(file);
  CORVANE_FUZZ_CHECK(source.Seek(static_cast<int64_t>(offset), SeekOrigin::kBegin, nullptr).ok());
  Bytes out(n + 1, 0xEE);
  uint32_t delivered = 0;
  corvane::Status st =
      all_or_nothing
          ? corvane::stream::DecipherAllOrNothing(p, source, header, out.data(), n, &delivered)
          : corvane::stream::Decipher(p, source, header, out.data(), n, &delivered);
  CORVANE_FUZZ_CHECK(out[n] == 0xEE);
  // Inside the header the grid is extended backwards; a block that would
  // start before the file cannot be read, which is a failed move, no more.
  if (offset < header && !st.ok()) return;
  CORVANE_FUZZ_CHECK(st.ok());
  const uint64_t size = file.size();
  const uint64_t exist = offset < size ? size - offset : 0;
  if (!all_or_nothing || exist >= n) {
    CORVANE_FUZZ_CHECK(delivered == std::min<uint64_t>(n, exist));
    if (n > 0 || !all_or_nothing) CORVANE_FUZZ_CHECK(source.position() == static_cast<int64_t>(offset + n));
  } else {
    CORVANE_FUZZ_CHECK(delivered == exist);
  }
  if (offset >= header && (!all_or_nothing || exist >= n)) {
    const uint64_t from = offset - header;
    for (uint32_t i = 0; i < delivered; ++i) CORVANE_FUZZ_CHECK(out[i] == plain[from + i]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parts = corvane::fuzz::SplitInput(data, size, 2);
  std::span<const uint8_t> file = parts[0];
  Controls c(parts[1]);
  const CipherParameters p = ChooseParameters(c);
  CORVANE_FUZZ_CHECK(p.Validate().ok());
  CheckInPlace(p, file);

  static constexpr uint32_t kHeaders[] = {0, 60, 128, 7};
  const uint32_t header = kHeaders[c.Byte() % 4];
  const size_t body = file.size() > header ? file.size() - header : 0;
  Bytes plain(file.end() - static_cast<ptrdiff_t>(body), file.end());
  OnGrid(p, plain, DecipherBlockModel);

  if (c.empty()) {
    CheckRead(p, file, header, plain, header, static_cast<uint32_t>(body), false);
    CheckRead(p, file, header, plain, header + body / 3, 16, true);
  }
  for (int i = 0; i < 16 && !c.empty(); ++i) {
    const uint8_t how = c.Byte();
    const uint64_t offset = c.U16() % (file.size() + 200);
    const uint32_t n = c.U16() % 20000;
    CheckRead(p, file, header, plain, offset, n, how & 1);
  }
  return 0;
}
