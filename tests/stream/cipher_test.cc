// The fast cipher against a step-by-step reference of the documented
// algorithm, and the file-level read side.
#include "stream/cipher.h"

#include <gtest/gtest.h>

#include <random>

#include "memory_source.h"

namespace corvane::stream {
namespace {

using fakes::MemorySource;

// ---- The reference: every mixing step moves the whole block. ----

void RefEncipherBlock(const CipherParameters& p, uint8_t* data, uint32_t L) {
  std::vector<uint8_t> b(p.block_size, 0);
  std::copy(data, data + L, b.begin());
  for (uint32_t i = 0; i < L; ++i) b[i] ^= static_cast<uint8_t>(p.whitening);
  if (p.pass_count > 0) {
    for (uint32_t step = 0; step < L; ++step) {
      uint8_t t = static_cast<uint8_t>(p.feedback) ^ b[0];
      for (int32_t tap : p.taps) t ^= b[tap];
      for (uint32_t i = 0; i + 1 < L; ++i) b[i] = b[i + 1];
      b[L - 1] = t;
    }
  }
  std::copy(b.begin(), b.begin() + L, data);
}

void RefDecipherBlock(const CipherParameters& p, uint8_t* data, uint32_t L) {
  std::vector<uint8_t> b(p.block_size, 0);
  std::copy(data, data + L, b.begin());
  for (uint32_t step = 0; step < L; ++step) {
    uint8_t s = b[L - 1];
    for (uint32_t i = L - 1; i > 0; --i) b[i] = b[i - 1];
    uint8_t t = static_cast<uint8_t>(p.feedback) ^ s;
    for (int32_t tap : p.taps) t ^= b[tap];
    b[0] = t;
  }
  for (uint32_t i = 0; i < L; ++i) data[i] = b[i] ^ static_cast<uint8_t>(p.whitening);
}

template <typename Fn>
void RefOverGrid(const CipherParameters& p, std::vector<uint8_t>& v, Fn fn) {
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
  // Sometimes crowd the taps near one end so that both the word-wise and
  // the byte-wise paths run, and sometimes repeat a tap (it cancels).
  int mode = rng() % 3;
  for (int32_t& t : p.taps) {
    int32_t span = p.block_size - 1;
    t = 1 + static_cast<int32_t>(mode == 0 ? rng() % span : mode == 1 ? rng() % std::min(span, 4)
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
    // Up to 40 blocks: the sixteen-block path and short last blocks included.
    size_t n = rng() % (40 * p.block_size + 5);
    std::vector<uint8_t> plain = RandomBytes(rng, n);
    std::vector<uint8_t> ref = plain, fast = plain;
    RefOverGrid(p, ref, RefEncipherBlock);
    ASSERT_TRUE(EncipherInPlace(p, fast.data(), fast.size()).ok());
    ASSERT_EQ(fast, ref) << "encipher, block " << p.block_size << " length " << n;
    RefOverGrid(p, ref, RefDecipherBlock);
    ASSERT_EQ(ref, plain) << "reference round trip";
    ASSERT_TRUE(DecipherInPlace(p, fast.data(), fast.size()).ok());
    ASSERT_EQ(fast, plain) << "decipher, block " << p.block_size << " length " << n;
  }
}

TEST(CipherTest, OneByteLastBlockIsWhitenedAndMixedOnce) {
  std::mt19937 rng(7);
  CipherParameters p = RandomParameters(rng);
  uint8_t b = 0x42;
  ASSERT_TRUE(EncipherInPlace(p, &b, 1).ok());
  // Taps read the zero padding; t = feedback ^ (byte ^ whitening).
  EXPECT_EQ(b, static_cast<uint8_t>(p.feedback ^ 0x42 ^ p.whitening));
}

TEST(CipherTest, RefusesParametersThatBreakTheInverse) {
  std::mt19937 rng(3);
  CipherParameters good = RandomParameters(rng);
  auto with = [&](auto change) {
    CipherParameters p = good;
    change(p);
    return p;
  };
  const CipherParameters bad[] = {
      with([](CipherParameters& p) { p.block_size = 0; }),
      with([](CipherParameters& p) { p.block_size = 1; }),
      with([](CipherParameters& p) { p.block_size = 48; }),
      with([](CipherParameters& p) { p.block_size = 256; }),
      with([](CipherParameters& p) { p.taps[4] = 0; }),
      with([](CipherParameters& p) { p.taps[9] = p.block_size; }),
      with([](CipherParameters& p) { p.pass_count = 0; }),
      CipherParameters(),
  };
  uint8_t data[8] = {};
  MemorySource src(std::vector<uint8_t>(64));
  uint32_t got = 0;
  for (const CipherParameters& p : bad) {
    EXPECT_EQ(EncipherInPlace(p, data, 8).code(), kErrInvalidParameter);
    EXPECT_EQ(Decipher(p, src, 0, data, 8, &got).code(), kErrInvalidParameter);
  }
}

// A file: `header` plain bytes, then the content enciphered on the grid.
struct CipherFile {
  CipherParameters p;
  uint32_t header;
  std::vector<uint8_t> plain;
  std::vector<uint8_t> file;
};

CipherFile MakeFile(std::mt19937& rng, uint32_t header, size_t n) {
  CipherFile f{RandomParameters(rng), header, RandomBytes(rng, n), {}};
  f.file.assign(header, 0xEE);
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
    size_t at = 0;
    while (at < f.plain.size()) {
      size_t len = std::min<size_t>(f.p.block_size * (1 + rng() % 40), f.plain.size() - at);
      uint64_t written = 0;
      ASSERT_TRUE(Encipher(f.p, f.plain.data() + at, static_cast<uint32_t>(len), sink, &written).ok());
      ASSERT_EQ(written, len);
      at += len;
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

TEST(CipherTest, DecipherDeliversAnyRangeAndEndsBehindIt) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 300; ++round) {
    uint32_t header = (rng() % 2) ? 60 : 128;
    CipherFile f = MakeFile(rng, header, rng() % 20000);
    MemorySource src(f.file);
    uint64_t p = header + rng() % (f.plain.size() + 10);
    uint32_t n = rng() % 3 == 0 ? rng() % 17000 : rng() % 40;
    src.set_pos(static_cast<int64_t>(p));
    std::vector<uint8_t> out(n, 0xCC);
    uint32_t got = 0;
    ASSERT_TRUE(Decipher(f.p, src, header, out.data(), n, &got).ok());
    uint64_t rel = p - header;
    uint64_t expect = rel >= f.plain.size() ? 0 : std::min<uint64_t>(n, f.plain.size() - rel);
    ASSERT_EQ(got, expect) << "p " << p << " n " << n << " size " << f.plain.size();
    ASSERT_TRUE(std::equal(out.begin(), out.begin() + got, f.plain.begin() + rel));
    EXPECT_EQ(src.pos(), static_cast<int64_t>(p + n));
  }
}

TEST(CipherTest, DecipherOfAShortFileUsesTheLastBlocksOwnLength) {
  // The file ends inside the first block of a range that would span two
  // blocks: that block was enciphered over its own length.
  std::mt19937 rng(8);
  CipherFile f = MakeFile(rng, 128, 10);
  f.p.block_size = 32;
  for (int32_t& t : f.p.taps) t = 1 + t % 31;
  f.file.resize(128);
  std::vector<uint8_t> body = f.plain;
  ASSERT_TRUE(EncipherInPlace(f.p, body.data(), body.size()).ok());
  f.file.insert(f.file.end(), body.begin(), body.end());
  MemorySource src(f.file);
  src.set_pos(128);
  uint8_t out[40];
  uint32_t got = 0;
  ASSERT_TRUE(Decipher(f.p, src, 128, out, 40, &got).ok());
  ASSERT_EQ(got, 10u);
  EXPECT_TRUE(std::equal(out, out + 10, f.plain.begin()));
}

TEST(CipherTest, DecipherAtEndOfFileDeliversNothingAndMovesOn) {
  std::mt19937 rng(1);
  CipherFile f = MakeFile(rng, 60, 100);
  MemorySource src(f.file);
  src.set_pos(160);
  uint8_t out[16];
  uint32_t got = 99;
  ASSERT_TRUE(Decipher(f.p, src, 60, out, 16, &got).ok());
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(src.pos(), 176);
}

TEST(CipherTest, DecipherInsideTheHeaderStaysInBounds) {
  std::mt19937 rng(4);
  CipherFile f = MakeFile(rng, 60, 200);
  MemorySource src(f.file);
  src.set_pos(0);
  std::vector<uint8_t> out(100);
  uint32_t got = 0;
  // Meaningless bytes or a clean error, but nothing outside the buffers.
  for (int64_t pos : {0, 1, 30, 59}) {
    src.set_pos(pos);
    Status st = Decipher(f.p, src, 60, out.data(), 100, &got);
    EXPECT_LE(got, 100u);
    if (st.ok()) {
      EXPECT_EQ(src.pos(), pos + 100);
    }
  }
}

TEST(CipherTest, AllOrNothingCopiesNothingWhenShort) {
  std::mt19937 rng(6);
  CipherFile f = MakeFile(rng, 60, 100);
  MemorySource src(f.file);
  src.set_pos(60 + 90);
  std::vector<uint8_t> out(16, 0xCC);
  uint32_t got = 0;
  ASSERT_TRUE(DecipherAllOrNothing(f.p, src, 60, out.data(), 16, &got).ok());
  EXPECT_EQ(got, 10u);
  EXPECT_EQ(out, std::vector<uint8_t>(16, 0xCC));
  EXPECT_EQ(src.pos(), 160);  // where the read of the blocks stopped
  src.set_pos(60 + 30);
  ASSERT_TRUE(DecipherAllOrNothing(f.p, src, 60, out.data(), 16, &got).ok());
  EXPECT_EQ(got, 16u);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), f.plain.begin() + 30));
  EXPECT_EQ(src.pos(), 60 + 46);
  src.fail_reads_at = 0;
  EXPECT_EQ(DecipherAllOrNothing(f.p, src, 60, out.data(), 16, &got).code(), kErrIoDevice);
}

// No block is read for 0 bytes at a block start; the empty work buffer is
// never handed to memcpy (the sanitizer build reports a null argument).
TEST(CipherTest, AllOrNothingOfZeroBytesOnABlockStartDeliversNothing) {
  std::mt19937 rng(7);
  CipherFile f = MakeFile(rng, 60, 100);
  MemorySource src(f.file);
  std::vector<uint8_t> out(4, 0xCC);
  for (int64_t pos : {int64_t{60}, int64_t{60} + f.p.block_size, int64_t{160}, int64_t{400}}) {
    src.set_pos(pos);
    uint32_t got = 99;
    ASSERT_TRUE(DecipherAllOrNothing(f.p, src, 60, out.data(), 0, &got).ok()) << pos;
    EXPECT_EQ(got, 0u) << pos;
    EXPECT_EQ(out, std::vector<uint8_t>(4, 0xCC)) << pos;
  }
}

}  // namespace
}  // namespace corvane::stream
