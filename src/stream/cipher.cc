#include "stream/cipher.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane::stream {
namespace {

using platform::SeekOrigin;

constexpr uint32_t kMaxBlock = CipherParameters::kMaxBlockSize;
// Work piece of Decipher; a multiple of every block size, so pieces keep
// to the grid.
constexpr uint32_t kPiece = 8192;
static_assert(kPiece % kMaxBlock == 0);

using Schedule = CipherSchedule;

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }
inline uint64_t Spread(uint8_t b) { return b * 0x0101010101010101ull; }

// Blocks are worked on in groups: the steps of one block form a chain in
// which each 8-byte step reads what the step before it stored, and several
// independent chains side by side keep the processor busy meanwhile.
constexpr int kGroup = 4;
using Work = uint8_t[2 * kMaxBlock];

// w[0..L) holds the whitened block; fills w[L..2L) with the block after L
// mixing steps: w[k+L] = feedback ^ w[k] ^ XOR of w[k+tap]. Eight outputs
// at once need all their inputs below k+L, i.e. every tap <= L - 8.
template <int kTaps>
void MixGroup(Work* w, int blocks, uint32_t L, const uint8_t* taps, int n, uint8_t feedback) {
  if (kTaps >= 0) n = kTaps;
  uint32_t k = 0;
  uint32_t max_tap = n ? taps[n - 1] : 0;
  if (L >= max_tap + 8) {
    const uint64_t fb = Spread(feedback);
    for (; k + 8 <= L; k += 8) {
      for (int g = 0; g < blocks; ++g) {
        uint64_t v = fb ^ Load64(w[g] + k);
        for (int j = 0; j < n; ++j) v ^= Load64(w[g] + k + taps[j]);
        Store64(w[g] + k + L, v);
      }
    }
  }
  for (; k < L; ++k) {
    for (int g = 0; g < blocks; ++g) {
      uint8_t v = feedback ^ w[g][k];
      for (int j = 0; j < n; ++j) v ^= w[g][k + taps[j]];
      w[g][k + L] = v;
    }
  }
}

// The inverse: w[L..2L) holds the mixed block; recovers w[0..L) from the
// top down, w[k] = feedback ^ w[k+L] ^ XOR of w[k+tap]. Eight bytes at once
// need every tap >= 8, so that their inputs lie above them.
template <int kTaps>
void UnmixGroup(Work* w, int blocks, uint32_t L, const uint8_t* taps, int n, uint8_t feedback) {
  if (kTaps >= 0) n = kTaps;
  uint32_t k = L;
  uint32_t min_tap = n ? taps[0] : kMaxBlock;
  if (min_tap >= 8) {
    const uint64_t fb = Spread(feedback);
    for (; k >= 8; k -= 8) {
      for (int g = 0; g < blocks; ++g) {
        uint8_t* at = w[g] + k - 8;
        uint64_t v = fb ^ Load64(at + L);
        for (int j = 0; j < n; ++j) v ^= Load64(at + taps[j]);
        Store64(at, v);
      }
    }
  }
  while (k > 0) {
    --k;
    for (int g = 0; g < blocks; ++g) {
      uint8_t v = feedback ^ w[g][k + L];
      for (int j = 0; j < n; ++j) v ^= w[g][k + taps[j]];
      w[g][k] = v;
    }
  }
}

// Ten distinct taps is the usual case: a fixed count lets the compiler
// unroll the tap loop.
void Mix(Work* w, int blocks, uint32_t L, const uint8_t* taps, int n, uint8_t fb) {
  n == 10 ? MixGroup<10>(w, blocks, L, taps, n, fb) : MixGroup<-1>(w, blocks, L, taps, n, fb);
}
void Unmix(Work* w, int blocks, uint32_t L, const uint8_t* taps, int n, uint8_t fb) {
  n == 10 ? UnmixGroup<10>(w, blocks, L, taps, n, fb) : UnmixGroup<-1>(w, blocks, L, taps, n, fb);
}

// `blocks` consecutive blocks of length L each, starting at data.
void EncipherBlocks(const Schedule& s, uint8_t* data, int blocks, uint32_t L) {
  alignas(8) Work w[kGroup];
  for (int g = 0; g < blocks; ++g) {
    for (uint32_t i = 0; i < L; ++i) w[g][i] = data[g * L + i] ^ s.whitening;
  }
  Mix(w, blocks, L, s.taps, s.TapsBelow(L), s.feedback);
  for (int g = 0; g < blocks; ++g) std::memcpy(data + g * L, w[g] + L, L);
}

void DecipherBlocks(const Schedule& s, uint8_t* data, int blocks, uint32_t L) {
  alignas(8) Work w[kGroup];
  for (int g = 0; g < blocks; ++g) std::memcpy(w[g] + L, data + g * L, L);
  Unmix(w, blocks, L, s.taps, s.TapsBelow(L), s.feedback);
  for (int g = 0; g < blocks; ++g) {
    for (uint32_t i = 0; i < L; ++i) data[g * L + i] = w[g][i] ^ s.whitening;
  }
}

// Blocks side by side, one byte of each per row: every mixing step becomes
// a row operation over W lanes (which the compiler turns into vector
// instructions), and no step reads a value that the step before it has
// only just stored at an overlapping address. W is 16 everywhere; where the
// processor has 32- or 64-byte vector registers (AVX2, AVX-512BW; picked at
// run time) 32 or 64 blocks go side by side, for 1.5 to 1.8 times the bytes
// per second. The wide kernels are built for x86-64 outside Windows only:
// GCC cannot align the Windows x64 stack for spilled wide registers.
#if defined(__x86_64__) && !defined(_WIN32) && (defined(__GNUC__) || defined(__clang__))
#define CORVANE_CIPHER_WIDE_LANES 1
#endif

#if defined(__SSE2__)
// Transposes a 16x16 byte matrix held as sixteen 16-byte vectors, in four
// rounds of interleaving (bytes, pairs, quads, halves): x[i] byte j ends up
// as x[j] byte i. Sixty-four instructions for 256 bytes.
[[gnu::always_inline]] inline void Transpose16(__m128i x[16]) {
  __m128i t[16];
  for (int i = 0; i < 16; i += 2) {
    t[i] = _mm_unpacklo_epi8(x[i], x[i + 1]);
    t[i + 1] = _mm_unpackhi_epi8(x[i], x[i + 1]);
  }
  for (int g = 0; g < 16; g += 4) {
    x[g] = _mm_unpacklo_epi16(t[g], t[g + 2]);
    x[g + 1] = _mm_unpackhi_epi16(t[g], t[g + 2]);
    x[g + 2] = _mm_unpacklo_epi16(t[g + 1], t[g + 3]);
    x[g + 3] = _mm_unpackhi_epi16(t[g + 1], t[g + 3]);
  }
  for (int g = 0; g < 16; g += 8) {
    for (int k = 0; k < 4; ++k) {
      t[g + 2 * k] = _mm_unpacklo_epi32(x[g + k], x[g + k + 4]);
      t[g + 2 * k + 1] = _mm_unpackhi_epi32(x[g + k], x[g + k + 4]);
    }
  }
  for (int k = 0; k < 8; ++k) {
    x[2 * k] = _mm_unpacklo_epi64(t[k], t[k + 8]);
    x[2 * k + 1] = _mm_unpackhi_epi64(t[k], t[k + 8]);
  }
}
#endif

// A row of W lanes as one value (GCC and Clang vector extension; it
// compiles to plain code where the target has no vector unit).
template <int W>
struct RowOf;
#define CORVANE_CIPHER_ROW(W)                                      \
  template <>                                                      \
  struct RowOf<W> {                                                \
    typedef uint8_t Type __attribute__((vector_size(W)));          \
  }
CORVANE_CIPHER_ROW(16);
CORVANE_CIPHER_ROW(32);
CORVANE_CIPHER_ROW(64);
#undef CORVANE_CIPHER_ROW

template <int W>
struct Lanes {
  using Row = typename RowOf<W>::Type;
  static_assert(sizeof(Row) == W);
  using Rows = Row[2 * kMaxBlock];

  static uint8_t* Lane(Rows& r, uint32_t row, int lane) {
    return reinterpret_cast<uint8_t*>(&r[row]) + lane;
  }

  template <int kTaps>
  [[gnu::always_inline]] static void Mix(Rows& r, uint32_t L, const uint8_t* taps, int n,
                                         uint8_t feedback) {
    if (kTaps >= 0) n = kTaps;
    const Row fb = Row{} + feedback;
    for (uint32_t k = 0; k < L; ++k) {
      Row v = fb ^ r[k];
      for (int j = 0; j < n; ++j) v ^= r[k + taps[j]];
      r[k + L] = v;
    }
  }

  template <int kTaps>
  [[gnu::always_inline]] static void Unmix(Rows& r, uint32_t L, const uint8_t* taps, int n,
                                           uint8_t feedback) {
    if (kTaps >= 0) n = kTaps;
    const Row fb = Row{} + feedback;
    for (uint32_t k = L; k-- > 0;) {
      Row v = fb ^ r[k + L];
      for (int j = 0; j < n; ++j) v ^= r[k + taps[j]];
      r[k] = v;
    }
  }

  // Moves W blocks of L bytes (L a multiple of 8 here: every block size
  // from 8 up) into rows and back. With SSE2 and L a multiple of 16,
  // sixteen bytes of sixteen blocks at a time through a register transpose;
  // otherwise eight bytes per memory access on the block side.
  [[gnu::always_inline]] static void ToRows(Rows& r, uint32_t first_row, const uint8_t* data,
                                            uint32_t L, uint8_t mask) {
#if defined(__SSE2__)
    if (L % 16 == 0) {
      const __m128i m = _mm_set1_epi8(static_cast<char>(mask));
      for (int part = 0; part < W; part += 16) {
        for (uint32_t i = 0; i < L; i += 16) {
          __m128i x[16];
          for (int lane = 0; lane < 16; ++lane) {
            x[lane] = _mm_xor_si128(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + (part + lane) * L + i)), m);
          }
          Transpose16(x);
          for (int c = 0; c < 16; ++c) std::memcpy(Lane(r, first_row + i + c, part), &x[c], 16);
        }
      }
      return;
    }
#endif
    const uint64_t m = Spread(mask);
    for (int lane = 0; lane < W; ++lane) {
      for (uint32_t i = 0; i < L; i += 8) {
        uint64_t x = Load64(data + lane * L + i) ^ m;
        for (int b = 0; b < 8; ++b) *Lane(r, first_row + i + b, lane) = static_cast<uint8_t>(x >> (8 * b));
      }
    }
  }

  [[gnu::always_inline]] static void FromRows(Rows& r, uint32_t first_row, uint8_t* data,
                                              uint32_t L, uint8_t mask) {
#if defined(__SSE2__)
    if (L % 16 == 0) {
      const __m128i m = _mm_set1_epi8(static_cast<char>(mask));
      for (int part = 0; part < W; part += 16) {
        for (uint32_t i = 0; i < L; i += 16) {
          __m128i x[16];
          for (int c = 0; c < 16; ++c) std::memcpy(&x[c], Lane(r, first_row + i + c, part), 16);
          Transpose16(x);
          for (int lane = 0; lane < 16; ++lane) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(data + (part + lane) * L + i),
                             _mm_xor_si128(x[lane], m));
          }
        }
      }
      return;
    }
#endif
    const uint64_t m = Spread(mask);
    for (int lane = 0; lane < W; ++lane) {
      for (uint32_t i = 0; i < L; i += 8) {
        uint64_t x = 0;
        for (int b = 0; b < 8; ++b) x |= uint64_t{*Lane(r, first_row + i + b, lane)} << (8 * b);
        Store64(data + lane * L + i, x ^ m);
      }
    }
  }

  // W whole blocks of L bytes at data.
  [[gnu::always_inline]] static void Encipher(const Schedule& s, uint8_t* data, uint32_t L) {
    Rows r;
    ToRows(r, 0, data, L, s.whitening);
    const int n = s.TapsBelow(L);
    n == 10 ? Mix<10>(r, L, s.taps, n, s.feedback) : Mix<-1>(r, L, s.taps, n, s.feedback);
    FromRows(r, L, data, L, 0);
  }
  [[gnu::always_inline]] static void Decipher(const Schedule& s, uint8_t* data, uint32_t L) {
    Rows r;
    ToRows(r, L, data, L, 0);
    const int n = s.TapsBelow(L);
    n == 10 ? Unmix<10>(r, L, s.taps, n, s.feedback) : Unmix<-1>(r, L, s.taps, n, s.feedback);
    FromRows(r, 0, data, L, s.whitening);
  }
};

// One function per width and direction, each built for the instructions
// its width needs.
using LanesFn = void (*)(const Schedule&, uint8_t*, uint32_t);
void EncipherLanes16(const Schedule& s, uint8_t* d, uint32_t L) { Lanes<16>::Encipher(s, d, L); }
void DecipherLanes16(const Schedule& s, uint8_t* d, uint32_t L) { Lanes<16>::Decipher(s, d, L); }
#if defined(CORVANE_CIPHER_WIDE_LANES)
__attribute__((target("avx2"))) void EncipherLanes32(const Schedule& s, uint8_t* d, uint32_t L) {
  Lanes<32>::Encipher(s, d, L);
}
__attribute__((target("avx2"))) void DecipherLanes32(const Schedule& s, uint8_t* d, uint32_t L) {
  Lanes<32>::Decipher(s, d, L);
}
__attribute__((target("avx512f,avx512bw"))) void EncipherLanes64(const Schedule& s, uint8_t* d,
                                                                 uint32_t L) {
  Lanes<64>::Encipher(s, d, L);
}
__attribute__((target("avx512f,avx512bw"))) void DecipherLanes64(const Schedule& s, uint8_t* d,
                                                                 uint32_t L) {
  Lanes<64>::Decipher(s, d, L);
}
#endif

// The widths this processor runs, widest first (16 always).
struct LaneWidth {
  int width;
  LanesFn encipher;
  LanesFn decipher;
};
struct LaneWidths {
  LaneWidth widths[3];
  int count = 0;
};
LaneWidths DetectLaneWidths() {
  LaneWidths w;
#if defined(CORVANE_CIPHER_WIDE_LANES)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512f")) {
    w.widths[w.count++] = {64, EncipherLanes64, DecipherLanes64};
  }
  if (__builtin_cpu_supports("avx2")) w.widths[w.count++] = {32, EncipherLanes32, DecipherLanes32};
#endif
  w.widths[w.count++] = {16, EncipherLanes16, DecipherLanes16};
  return w;
}
const LaneWidths& AvailableLaneWidths() {
  static const LaneWidths widths = DetectLaneWidths();
  return widths;
}

enum class Direction { kEncipher, kDecipher };

// Runs the cipher over the grid from data[0]: whole blocks side by side,
// as many at a time as the widest lanes take, then the rest in groups, then
// a shorter last block over its own length.
void ForEachBlock(const Schedule& s, uint8_t* data, size_t count, Direction d) {
  size_t whole = count / s.block;
  size_t at = 0;
  if (s.block >= 8) {
    const LaneWidths& lanes = AvailableLaneWidths();
    for (int i = 0; i < lanes.count; ++i) {
      const LaneWidth& w = lanes.widths[i];
      const LanesFn fn = d == Direction::kEncipher ? w.encipher : w.decipher;
      for (; whole >= size_t(w.width); whole -= w.width) {
        fn(s, data + at, s.block);
        at += size_t{s.block} * w.width;
      }
    }
  }
  const auto blocks_fn = d == Direction::kEncipher ? EncipherBlocks : DecipherBlocks;
  for (size_t b = 0; b < whole; b += kGroup) {
    int blocks = static_cast<int>(std::min<size_t>(kGroup, whole - b));
    blocks_fn(s, data + at, blocks, s.block);
    at += size_t{s.block} * blocks;
  }
  if (at < count) blocks_fn(s, data + at, 1, static_cast<uint32_t>(count - at));
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

// Prepares a read of n bytes at the file pointer: *end is where the pointer
// stands after it, *off the pointer's distance from the start of its block
// (never negative, also inside the header). Moves the pointer to that block
// start. A read whose end lies past the largest file offset (a damaged
// position taken from a file) is refused before anything moves.
Status MoveToBlockStart(ByteSource& source, const Schedule& s, uint32_t header_length,
                        uint32_t n, int64_t* end, uint32_t* off) {
  int64_t pos = 0;
  Status st = source.Tell(&pos);
  if (!st.ok()) return st;
  if (__builtin_add_overflow(pos, int64_t{n}, end)) return Status::Error(kErrInvalidParameter);
  int64_t rel = (pos - static_cast<int64_t>(header_length)) % static_cast<int64_t>(s.block);
  if (rel < 0) rel += s.block;
  *off = static_cast<uint32_t>(rel);
  return source.Seek(-rel, SeekOrigin::kCurrent, nullptr);
}

uint64_t WholeBlocks(uint64_t bytes, uint32_t block) {
  return (bytes + block - 1) / block * block;
}

}  // namespace

Status MakeSchedule(const CipherParameters& p, CipherSchedule* s) {
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

void EncipherGrid(const CipherSchedule& s, uint8_t* data, size_t count) {
  ForEachBlock(s, data, count, Direction::kEncipher);
}

void DecipherGrid(const CipherSchedule& s, uint8_t* data, size_t count) {
  ForEachBlock(s, data, count, Direction::kDecipher);
}

Status EncipherInPlace(const CipherParameters& p, uint8_t* data, size_t count) {
  Schedule s;
  Status st = MakeSchedule(p, &s);
  if (st.ok()) ForEachBlock(s, data, count, Direction::kEncipher);
  return st;
}

Status DecipherInPlace(const CipherParameters& p, uint8_t* data, size_t count) {
  Schedule s;
  Status st = MakeSchedule(p, &s);
  if (st.ok()) ForEachBlock(s, data, count, Direction::kDecipher);
  return st;
}

Status Decipher(const CipherParameters& p, ByteSource& source, uint32_t header_length,
                void* dst, uint32_t n, uint32_t* delivered) {
  *delivered = 0;
  Schedule s;
  Status st = MakeSchedule(p, &s);
  if (!st.ok()) return st;
  return Decipher(s, source, header_length, dst, n, delivered);
}

Status Decipher(const CipherSchedule& s, ByteSource& source, uint32_t header_length, void* dst,
                uint32_t n, uint32_t* delivered) {
  *delivered = 0;
  if (s.block == 0) return Status::Error(kErrInvalidParameter);
  Status st;
  int64_t end_pos = 0;
  if (n == 0) return source.Tell(&end_pos);
  uint32_t off = 0;
  st = MoveToBlockStart(source, s, header_length, n, &end_pos, &off);
  if (!st.ok()) return st;
  auto* out = static_cast<uint8_t*>(dst);
  const uint64_t end = uint64_t{off} + n;
  const uint64_t total = WholeBlocks(end, s.block);
  alignas(8) uint8_t piece[kPiece];
  uint64_t g = 0;
  Status failure;
  for (uint64_t at = 0; at < total; at += kPiece) {
    uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(kPiece, total - at));
    uint32_t got = 0;
    // A failed read ends the data like the end of the file, but is reported:
    // an I/O error must not read as a log or bookmark file cut short.
    failure = ReadFull(source, piece, want, &got);
    if (!failure.ok()) got = got / s.block * s.block;  // whole blocks only
    g += got;
    // Each block over its own length: a short block at the end of the file
    // was enciphered over that length.
    ForEachBlock(s, piece, got, Direction::kDecipher);
    uint64_t lo = std::max<uint64_t>(at, off);
    uint64_t hi = std::min<uint64_t>(at + got, end);
    if (hi > lo) std::memcpy(out + (lo - off), piece + (lo - at), hi - lo);
    if (got < want) break;
  }
  *delivered = g > off ? static_cast<uint32_t>(std::min<uint64_t>(n, g - off)) : 0;
  const Status moved = source.Seek(end_pos, SeekOrigin::kBegin, nullptr);
  return failure.ok() ? moved : failure;
}

Status DecipherAllOrNothing(const CipherParameters& p, ByteSource& source,
                            uint32_t header_length, void* dst, uint32_t n, uint32_t* delivered) {
  *delivered = 0;
  Schedule s;
  Status st = MakeSchedule(p, &s);
  if (!st.ok()) return st;
  return DecipherAllOrNothing(s, source, header_length, dst, n, delivered);
}

Status DecipherAllOrNothing(const CipherSchedule& s, ByteSource& source, uint32_t header_length,
                            void* dst, uint32_t n, uint32_t* delivered) {
  *delivered = 0;
  if (s.block == 0) return Status::Error(kErrInvalidParameter);
  Status st;
  int64_t end_pos = 0;
  uint32_t off = 0;
  st = MoveToBlockStart(source, s, header_length, n, &end_pos, &off);
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
  ForEachBlock(s, work.data(), got, Direction::kDecipher);
  // A request of 0 bytes on a block boundary reads no block: the work buffer
  // is empty (its data() may be null, which memcpy must not get even for 0).
  if (n > 0) std::memcpy(dst, work.data() + off, n);
  *delivered = n;
  return source.Seek(end_pos, SeekOrigin::kBegin, nullptr);
}

}  // namespace corvane::stream
