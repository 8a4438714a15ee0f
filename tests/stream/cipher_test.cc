// The fast cipher against a step-by-step reference of the algorithm, and the
// file-level read and write sides.
#include "stream/cipher.h"

#include <gtest/gtest.h>

#include <random>

#include "memory_source.h"

namespace corvane::stream {
namespace {

using fakes::MemorySource;

// ---- The reference: every mixing step moves the whole block. ----

void RefEncipherBlock(const CipherParameters& p, uint8_t* data, uint32_t L) {
  std::vector<uint8_t> b(data, data + L);
  b.resize(p.block_size, 0);
  for (uint32_t i = 0; i < L; ++i) b[i] ^= static_cast<uint8_t>(p.whitening);
  for (uint32_t step = 0; p.pass_count > 0 && step < L; ++step) {
    uint8_t t = static_cast<uint8_t>(p.feedback) ^ b[0];
    for (int32_t tap : p.taps) t ^= b[tap];
    std::copy(b.begin() + 1, b.begin() + L, b.begin());
    b[L - 1] = t;
  }
  std::copy(b.begin(), b.begin() + L, data);
}

void RefDecipherBlock(const CipherParameters& p, uint8_t* data, uint32_t L) {
  std::vector<uint8_t> b(data, data + L);
  b.resize(p.block_size, 0);
  for (uint32_t step = 0; step < L; ++step) {
    uint8_t t = static_cast<uint8_t>(p.feedback) ^ b[L - 1];
    std::copy_backward(b.begin(), b.begin() + L - 1, b.begin() + L);
    for (int32_t tap : p.taps) t ^= b[tap];
    b[0] = t;
  }
  for (uint32_t i = 0; i < L; ++i) data[i] = b[i] ^ static_cast<uint8_t>(p.whitening);
}

void RefOverGrid(const CipherParameters& p, std::vector<uint8_t>& v,
                 void (*fn)(const CipherParameters&, uint8_t*, uint32_t)) {
  for (size_t at = 0; at < v.size(); at += p.block_size) {
    fn(p, v.data() + at, static_cast<uint32_t>(std::min<size_t>(p.block_size, v.size() - at)));
  }
}

CipherParameters RandomParameters(std::mt19937& rng) {
  CipherParameters p;
  p.block_size = 2 << (rng() % 7);  // 2 .. 128
  p.whitening = static_cast<int32_t>(rng());  // only the low 8 bits count
  p.feedback = static_cast<int32_t>(rng());
  p.pass_count = 1 + rng() % 3;
  // Taps spread, crowded near the start or near the end, so that both the
  // word-wise and the byte-wise paths run; sometimes one repeats (it cancels).
  int mode = rng() % 3;
  int32_t span = p.block_size - 1;
  for (int32_t& t : p.taps) {
    t = 1 + static_cast<int32_t>(mode == 0   ? rng() % span
                                 : mode == 1 ? rng() % std::min(span, 4)
                                             : span - 1 - rng() % std::min(span, 3));
  }
  if (rng() % 4 == 0) p.taps[1] = p.taps[0];
  EXPECT_TRUE(p.Validate().ok());
  return p;
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

TEST(CipherTest, FastTransformsEqualTheStepByStepReference) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 400; ++round) {
    CipherParameters p = RandomParameters(rng);
    // Up to 40 blocks (the sixteen-block path included); every fourth round
    // ends with a one-byte block.
    size_t n = round % 4 == 0 ? (rng() % 40) * p.block_size + 1 : rng() % (40 * p.block_size + 5);
    SCOPED_TRACE(::testing::Message() << "block " << p.block_size << " length " << n);
    std::vector<uint8_t> plain = RandomBytes(rng, n);
    std::vector<uint8_t> ref = plain, fast = plain;
    RefOverGrid(p, ref, RefEncipherBlock);
    ASSERT_TRUE(EncipherInPlace(p, fast.data(), fast.size()).ok());
    ASSERT_EQ(fast, ref);
    RefOverGrid(p, ref, RefDecipherBlock);
    ASSERT_EQ(ref, plain) << "reference round trip";
    ASSERT_TRUE(DecipherInPlace(p, fast.data(), fast.size()).ok());
    ASSERT_EQ(fast, plain);
  }
}

TEST(CipherTest, RefusesParametersThatBreakTheInverse) {
  std::mt19937 rng(3);
  const CipherParameters good = RandomParameters(rng);
  void (*changes[])(CipherParameters&) = {
      [](CipherParameters& p) { p.block_size = 0; },   [](CipherParameters& p) { p.block_size = 1; },
      [](CipherParameters& p) { p.block_size = 48; },  [](CipherParameters& p) { p.block_size = 256; },
      [](CipherParameters& p) { p.taps[4] = 0; },      [](CipherParameters& p) { p.taps[9] = p.block_size; },
      [](CipherParameters& p) { p.pass_count = 0; },   [](CipherParameters& p) { p = CipherParameters(); },
  };
  uint8_t data[8] = {};
  MemorySource src(std::vector<uint8_t>(64));
  uint32_t got = 0;
  for (auto change : changes) {
    CipherParameters p = good;
    change(p);
    EXPECT_EQ(EncipherInPlace(p, data, 8).code(), kErrInvalidParameter);
    EXPECT_EQ(Decipher(p, src, 0, data, 8, &got).code(), kErrInvalidParameter);
  }
}

// A file: `header` plain bytes, then the content enciphered on the grid.
struct CipherFile {
  CipherParameters p;
  std::vector<uint8_t> plain, file;
};

CipherFile MakeFile(std::mt19937& rng, uint32_t header, size_t n) {
  CipherFile f{RandomParameters(rng), RandomBytes(rng, n), std::vector<uint8_t>(header, 0xEE)};
  std::vector<uint8_t> body = f.plain;
  EXPECT_TRUE(EncipherInPlace(f.p, body.data(), body.size()).ok());
  f.file.insert(f.file.end(), body.begin(), body.end());
  return f;
}

TEST(CipherTest, EncipherInFlushesOfWholeBlocksEqualsOnePass) {
  std::mt19937 rng(99);
  for (int round = 0; round < 100; ++round) {
    CipherFile f = MakeFile(rng, 0, 20000 + rng() % 3000);
    std::vector<uint8_t> out;
    CipherSink sink = [&](const uint8_t* d, uint32_t n, uint32_t* w) {
      out.insert(out.end(), d, d + n);
      *w = n;
      return Status::Ok();
    };
    for (size_t at = 0, len = 0; at < f.plain.size(); at += len) {
      len = std::min<size_t>(f.p.block_size * (1 + rng() % 40), f.plain.size() - at);
      uint64_t written = 0;
      ASSERT_TRUE(Encipher(f.p, f.plain.data() + at, static_cast<uint32_t>(len), sink, &written).ok());
      ASSERT_EQ(written, len);
    }
    ASSERT_EQ(out, f.file);
  }
}

TEST(CipherTest, EncipherStopsAtTheFirstFailedWrite) {
  std::mt19937 rng(5);
  CipherFile f = MakeFile(rng, 0, 20000);
  int calls = 0;
  CipherSink sink = [&](const uint8_t*, uint32_t n, uint32_t* w) {
    *w = ++calls == 2 ? n / 2 : n;
    return calls == 2 ? Status::Error(kErrDiskFull) : Status::Ok();
  };
  uint64_t written = 0;
  EXPECT_EQ(Encipher(f.p, f.plain.data(), 20000, sink, &written).code(), kErrDiskFull);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(written, 8192u + 4096u);
  // A short write without an error is a failure too.
  calls = 0;
  CipherSink silent = [&](const uint8_t*, uint32_t n, uint32_t* w) {
    ++calls;
    *w = n - 1;
    return Status::Ok();
  };
  EXPECT_EQ(Encipher(f.p, f.plain.data(), 100, silent, &written).code(), kErrDiskFull);
  EXPECT_EQ(calls, 1);
}

// Any range, including ones that end in a short last block, start at or
// behind the end of the file, or cover a file shorter than one block.
TEST(CipherTest, DecipherDeliversAnyRangeAndEndsBehindIt) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 400; ++round) {
    uint32_t header = (rng() % 2) ? 60 : 128;
    CipherFile f = MakeFile(rng, header, round % 3 == 0 ? rng() % 300 : rng() % 20000);
    MemorySource src(f.file);
    uint64_t p = header + (round % 5 == 0 ? f.plain.size() : rng() % (f.plain.size() + 10));
    uint32_t n = rng() % 3 == 0 ? rng() % 17000 : rng() % 40;
    SCOPED_TRACE(::testing::Message() << "p " << p << " n " << n << " size " << f.plain.size());
    src.set_pos(static_cast<int64_t>(p));
    std::vector<uint8_t> out(n, 0xCC);
    uint32_t got = 99;
    ASSERT_TRUE(Decipher(f.p, src, header, out.data(), n, &got).ok());
    uint64_t rel = p - header;
    ASSERT_EQ(got, rel >= f.plain.size() ? 0 : std::min<uint64_t>(n, f.plain.size() - rel));
    ASSERT_TRUE(std::equal(out.begin(), out.begin() + got, f.plain.begin() + rel));
    EXPECT_EQ(src.pos(), static_cast<int64_t>(p + n));
  }
}

TEST(CipherTest, DecipherInsideTheHeaderStaysInBounds) {
  std::mt19937 rng(4);
  CipherFile f = MakeFile(rng, 60, 200);
  MemorySource src(f.file);
  std::vector<uint8_t> out(100);
  uint32_t got = 0;
  // Meaningless bytes or a clean error, but nothing outside the buffers.
  for (int64_t pos : {0, 1, 30, 59}) {
    src.set_pos(pos);
    Status st = Decipher(f.p, src, 60, out.data(), 100, &got);
    EXPECT_LE(got, 100u);
    EXPECT_TRUE(!st.ok() || src.pos() == pos + 100) << pos;
  }
}

TEST(CipherTest, AllOrNothingCopiesNothingWhenShort) {
  std::mt19937 rng(6);
  CipherFile f = MakeFile(rng, 60, 100);
  MemorySource src(f.file);
  const std::vector<uint8_t> untouched(16, 0xCC);
  std::vector<uint8_t> out = untouched;
  uint32_t got = 0;
  src.set_pos(60 + 90);
  ASSERT_TRUE(DecipherAllOrNothing(f.p, src, 60, out.data(), 16, &got).ok());
  EXPECT_EQ(got, 10u);
  EXPECT_EQ(out, untouched);
  EXPECT_EQ(src.pos(), 160);  // where the read of the blocks stopped
  src.set_pos(60 + 30);
  ASSERT_TRUE(DecipherAllOrNothing(f.p, src, 60, out.data(), 16, &got).ok());
  EXPECT_EQ(got, 16u);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), f.plain.begin() + 30));
  EXPECT_EQ(src.pos(), 60 + 46);
  // No block is read for 0 bytes at a block start; the empty work buffer is
  // never handed to memcpy (the sanitizer build reports a null argument).
  for (int64_t pos : {int64_t{60}, int64_t{60} + f.p.block_size, int64_t{160}, int64_t{400}}) {
    src.set_pos(pos);
    out = untouched;
    got = 99;
    ASSERT_TRUE(DecipherAllOrNothing(f.p, src, 60, out.data(), 0, &got).ok()) << pos;
    EXPECT_EQ(got, 0u) << pos;
    EXPECT_EQ(out, untouched) << pos;
  }
  src.fail_reads_at = 0;
  src.set_pos(60 + 30);
  EXPECT_EQ(DecipherAllOrNothing(f.p, src, 60, out.data(), 16, &got).code(), kErrIoDevice);
}

}  // namespace
}  // namespace corvane::stream
