// The cipher's file-level read and write sides. Agreement with a step-by-step
// model and reads at any offset, inside the header too, are checked by
// fuzz/cipher_fuzz.cc.
#include "stream/cipher.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "memory_source.h"
#include "stream/key_source.h"

namespace corvane::stream {
namespace {

using fakes::MemorySource;

// A file: `header` plain bytes, then random content enciphered with the
// built-in shared set.
struct CipherFile {
  CipherParameters p;
  std::vector<uint8_t> plain, file;
};

CipherFile MakeFile(uint32_t header, size_t n) {
  std::mt19937 rng(static_cast<uint32_t>(n));
  CipherFile f{ParametersFromKey(DefaultKeyMaterial().sets[1]), std::vector<uint8_t>(n),
               std::vector<uint8_t>(header, 0xEE)};
  for (auto& b : f.plain) b = static_cast<uint8_t>(rng());
  std::vector<uint8_t> body = f.plain;
  EXPECT_TRUE(EncipherInPlace(f.p, body.data(), body.size()).ok());
  f.file.insert(f.file.end(), body.begin(), body.end());
  return f;
}

TEST(CipherTest, RefusesParametersThatBreakTheInverse) {
  const CipherParameters good = MakeFile(0, 0).p;
  void (*changes[])(CipherParameters&) = {
      [](CipherParameters& p) { p.block_size = 1; },  [](CipherParameters& p) { p.block_size = 48; },
      [](CipherParameters& p) { p.taps[4] = 0; },     [](CipherParameters& p) { p.taps[9] = p.block_size; },
      [](CipherParameters& p) { p.pass_count = 0; },  [](CipherParameters& p) { p = CipherParameters(); },
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

TEST(CipherTest, EncipherStopsAtTheFirstFailedWrite) {
  CipherFile f = MakeFile(0, 20000);
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

TEST(CipherTest, AllOrNothingCopiesNothingWhenShort) {
  CipherFile f = MakeFile(60, 100);
  MemorySource src(f.file);
  const std::vector<uint8_t> untouched(16, 0xCC);
  std::vector<uint8_t> out = untouched;
  uint32_t got = 0;
  src.set_pos(60 + 90);
  ASSERT_TRUE(DecipherAllOrNothing(f.p, src, 60, out.data(), 16, &got).ok());
  EXPECT_EQ(got, 10u);
  EXPECT_EQ(out, untouched);
  src.set_pos(60 + 30);
  ASSERT_TRUE(DecipherAllOrNothing(f.p, src, 60, out.data(), 16, &got).ok());
  EXPECT_EQ(got, 16u);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), f.plain.begin() + 30));
  EXPECT_EQ(src.pos(), 60 + 46);
  // No block is read for 0 bytes at a block start; the empty work buffer is
  // never handed to memcpy (the sanitizer build reports a null argument).
  for (int64_t pos : {int64_t{60}, int64_t{60} + f.p.block_size, int64_t{160}}) {
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

// A position taken from a damaged index can lie just below the largest file
// offset: a read there cannot end anywhere, so it fails and moves nothing.
TEST(CipherTest, ReadsWhoseEndPassesTheLargestOffsetFail) {
  CipherFile f = MakeFile(60, 100);
  MemorySource src(f.file);
  std::vector<uint8_t> out(24);
  uint32_t got = 99;
  const int64_t near_end = INT64_MAX - 2;
  for (auto read : {Decipher, DecipherAllOrNothing}) {
    src.set_pos(near_end);
    EXPECT_EQ(read(f.p, src, 60, out.data(), 24, &got).code(), kErrInvalidParameter);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(src.pos(), near_end);
    EXPECT_EQ(src.reads, 0);
  }
}

}  // namespace
}  // namespace corvane::stream
