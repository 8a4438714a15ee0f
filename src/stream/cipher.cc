#include "stream/cipher.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace corvane::stream {
namespace {

using platform::SeekOrigin;

constexpr uint32_t kMaxBlock = CipherParameters::kMaxBlockSize;
// Work piece of Encipher and Decipher; a multiple of every block size, so
// pieces keep to the grid.
constexpr uint32_t kPiece = 8192;
static_assert(kPiece % kMaxBlock == 0);

// The parameters in the form the transforms use. A tap that occurs twice
// cancels itself (x ^ x = 0), so only taps of odd multiplicity are kept,
// sorted; the taps below a short block's length are then a prefix.
struct Schedule {
  uint8_t whitening = 0;
  uint8_t feedback = 0;
  bool mix = false;
  uint32_t block = 0;
  uint8_t taps[CipherParameters::kTapCount] = {};
  int tap_count = 0;

  int TapsBelow(uint32_t length) const {
    int n = 0;
    while (n < tap_count && taps[n] < length) ++n;
    return n;
  }
};

Status MakeSchedule(const CipherParameters& p, Schedule* s) {
  Status st = p.Validate();
  if (!st.ok()) return st;
  s->whitening = static_cast<uint8_t>(p.whitening);
  s->feedback = static_cast<uint8_t>(p.feedback);
  s->mix = p.pass_count > 0;
  s->block = static_cast<uint32_t>(p.block_size);
  bool odd[kMaxBlock] = {};
  for (int32_t t : p.taps) odd[t] = !odd[t];
  s->tap_count = 0;
  for (uint32_t t = 1; t < kMaxBlock; ++t) {
    if (odd[t]) s->taps[s->tap_count++] = static_cast<uint8_t>(t);
  }
  return Status::Ok();
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }
inline uint64_t Spread(uint8_t b) { return b * 0x0101010101010101ull; }

// w[0..L) holds the whitened block; fills w[L..2L) with the block after L
// mixing steps: w[k+L] = feedback ^ w[k] ^ XOR of w[k+tap]. Eight outputs
// at once need all their inputs below k+L, i.e. every tap <= L - 8.
void Mix(uint8_t* w, uint32_t L, const uint8_t* taps, int n, uint8_t feedback) {
  uint32_t k = 0;
  uint32_t max_tap = n ? taps[n - 1] : 0;
  if (L >= max_tap + 8) {
    const uint64_t fb = Spread(feedback);
    for (; k + 8 <= L; k += 8) {
      uint64_t v = fb ^ Load64(w + k);
      for (int j = 0; j < n; ++j) v ^= Load64(w + k + taps[j]);
      Store64(w + k + L, v);
    }
  }
  for (; k < L; ++k) {
    uint8_t v = feedback ^ w[k];
    for (int j = 0; j < n; ++j) v ^= w[k + taps[j]];
    w[k + L] = v;
  }
}

// The inverse: w[L..2L) holds the mixed block; recovers w[0..L) from the
// top down, w[k] = feedback ^ w[k+L] ^ XOR of w[k+tap]. Eight bytes at once
// need every tap >= 8, so that their inputs lie above them.
void Unmix(uint8_t* w, uint32_t L, const uint8_t* taps, int n, uint8_t feedback) {
  uint32_t k = L;
  uint32_t min_tap = n ? taps[0] : kMaxBlock;
  if (min_tap >= 8) {
    const uint64_t fb = Spread(feedback);
    for (; k >= 8; k -= 8) {
      uint8_t* at = w + k - 8;
      uint64_t v = fb ^ Load64(at + L);
      for (int j = 0; j < n; ++j) v ^= Load64(at + taps[j]);
      Store64(at, v);
    }
  }
  while (k > 0) {
    --k;
    uint8_t v = feedback ^ w[k + L];
    for (int j = 0; j < n; ++j) v ^= w[k + taps[j]];
    w[k] = v;
  }
}

void EncipherBlock(const Schedule& s, uint8_t* block, uint32_t L) {
  alignas(8) uint8_t w[2 * kMaxBlock];
  for (uint32_t i = 0; i < L; ++i) w[i] = block[i] ^ s.whitening;
  if (!s.mix) {
    std::memcpy(block, w, L);
    return;
  }
  Mix(w, L, s.taps, s.TapsBelow(L), s.feedback);
  std::memcpy(block, w + L, L);
}

void DecipherBlock(const Schedule& s, uint8_t* block, uint32_t L) {
  alignas(8) uint8_t w[2 * kMaxBlock];
  std::memcpy(w + L, block, L);
  Unmix(w, L, s.taps, s.TapsBelow(L), s.feedback);
  for (uint32_t i = 0; i < L; ++i) block[i] = w[i] ^ s.whitening;
}

template <typename BlockFn>
void ForEachBlock(const Schedule& s, uint8_t* data, size_t count, BlockFn fn) {
  for (size_t at = 0; at < count; at += s.block) {
    fn(s, data + at, static_cast<uint32_t>(std::min<size_t>(s.block, count - at)));
  }
}

Status ReadFull(ByteSource& source, uint8_t* dst, uint32_t want, uint32_t* got) {
  *got = 0;
  while (*got < want) {
    uint32_t g = 0;
    Status st = source.Read(dst + *got, want - *got, &g);
    if (!st.ok()) return st;
    if (g == 0) break;
    *got += g;
  }
  return Status::Ok();
}

// Where the block that holds the file pointer starts: *pos is the pointer,
// *off its distance from the block start (never negative, also inside the
// header). Moves the pointer there.
Status MoveToBlockStart(ByteSource& source, const Schedule& s, uint32_t header_length,
                        int64_t* pos, uint32_t* off) {
  Status st = source.Tell(pos);
  if (!st.ok()) return st;
  int64_t rel = (*pos - static_cast<int64_t>(header_length)) % static_cast<int64_t>(s.block);
  if (rel < 0) rel += s.block;
  *off = static_cast<uint32_t>(rel);
  return source.Seek(-rel, SeekOrigin::kCurrent, nullptr);
}

uint64_t WholeBlocks(uint64_t bytes, uint32_t block) {
  return (bytes + block - 1) / block * block;
}

}  // namespace

Status EncipherInPlace(const CipherParameters& p, uint8_t* data, size_t count) {
  Schedule s;
  Status st = MakeSchedule(p, &s);
  if (st.ok()) ForEachBlock(s, data, count, EncipherBlock);
  return st;
}

Status DecipherInPlace(const CipherParameters& p, uint8_t* data, size_t count) {
  Schedule s;
  Status st = MakeSchedule(p, &s);
  if (st.ok()) ForEachBlock(s, data, count, DecipherBlock);
  return st;
}

Status Encipher(const CipherParameters& p, const uint8_t* plain, uint32_t count,
                const CipherSink& sink, uint64_t* written) {
  if (written) *written = 0;
  Schedule s;
  Status st = MakeSchedule(p, &s);
  if (!st.ok()) return st;
  alignas(8) uint8_t piece[kPiece];
  for (uint32_t at = 0; at < count; at += kPiece) {
    uint32_t len = std::min(kPiece, count - at);
    std::memcpy(piece, plain + at, len);
    ForEachBlock(s, piece, len, EncipherBlock);
    uint32_t w = 0;
    st = sink(piece, len, &w);
    if (written) *written += std::min(w, len);
    if (!st.ok()) return st;
    if (w < len) return Status::Error(kErrDiskFull);
  }
  return Status::Ok();
}

Status Decipher(const CipherParameters& p, ByteSource& source, uint32_t header_length,
                void* dst, uint32_t n, uint32_t* delivered) {
  *delivered = 0;
  Schedule s;
  Status st = MakeSchedule(p, &s);
  if (!st.ok()) return st;
  int64_t pos = 0;
  uint32_t off = 0;
  if (n == 0) return source.Tell(&pos);
  st = MoveToBlockStart(source, s, header_length, &pos, &off);
  if (!st.ok()) return st;
  auto* out = static_cast<uint8_t*>(dst);
  const uint64_t end = uint64_t{off} + n;
  const uint64_t total = WholeBlocks(end, s.block);
  alignas(8) uint8_t piece[kPiece];
  uint64_t g = 0;
  for (uint64_t at = 0; at < total; at += kPiece) {
    uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(kPiece, total - at));
    uint32_t got = 0;
    // A failed read counts as the end of the data; the result is decided by
    // the final move alone.
    if (!ReadFull(source, piece, want, &got).ok()) got = 0;
    g += got;
    // Each block over its own length: a short block at the end of the file
    // was enciphered over that length.
    ForEachBlock(s, piece, got, DecipherBlock);
    uint64_t lo = std::max<uint64_t>(at, off);
    uint64_t hi = std::min<uint64_t>(at + got, end);
    if (hi > lo) std::memcpy(out + (lo - off), piece + (lo - at), hi - lo);
    if (got < want) break;
  }
  *delivered = g > off ? static_cast<uint32_t>(std::min<uint64_t>(n, g - off)) : 0;
  return source.Seek(pos + n, SeekOrigin::kBegin, nullptr);
}

Status DecipherAllOrNothing(const CipherParameters& p, ByteSource& source,
                            uint32_t header_length, void* dst, uint32_t n, uint32_t* delivered) {
  *delivered = 0;
  Schedule s;
  Status st = MakeSchedule(p, &s);
  if (!st.ok()) return st;
  int64_t pos = 0;
  uint32_t off = 0;
  st = MoveToBlockStart(source, s, header_length, &pos, &off);
  if (!st.ok()) return st;
  const uint64_t total = WholeBlocks(uint64_t{off} + n, s.block);
  if (total > UINT32_MAX) return Status::Error(kErrInvalidParameter);
  std::vector<uint8_t> work;
  try {
    work.resize(total);
  } catch (const std::bad_alloc&) {
    return Status::Error(kErrNotEnoughMemory);
  }
  uint32_t got = 0;
  st = ReadFull(source, work.data(), static_cast<uint32_t>(total), &got);
  if (!st.ok()) return st;
  if (got < uint64_t{off} + n) {
    *delivered = got > off ? got - off : 0;
    return Status::Ok();
  }
  ForEachBlock(s, work.data(), got, DecipherBlock);
  std::memcpy(dst, work.data() + off, n);
  *delivered = n;
  return source.Seek(pos + n, SeekOrigin::kBegin, nullptr);
}

}  // namespace corvane::stream
