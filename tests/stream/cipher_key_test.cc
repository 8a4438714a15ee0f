// The cipher at odd positions and on failing files, and the key file. Agreement
// with a step-by-step model is checked by fuzz/cipher_fuzz.cc, every key file
// refusal by fuzz/key_file_fuzz.cc.
#include <gtest/gtest.h>

#include <cstdlib>

#include "memory_source.h"
#include "platform/registry.h"
#include "stream/cipher.h"
#include "stream/key_source.h"
#include "stream/settings.h"
#include "support/log_bytes.h"
#include "support/temp_dir.h"

namespace corvane::stream {
namespace {

using fakes::MemorySource;

const CipherParameters& Shared() {
  static const CipherParameters p = ParametersFromKey(DefaultKeyMaterial().sets[1]);
  return p;
}

TEST(CipherTest, RefusesParametersThatBreakTheInverse) {
  uint8_t data[8] = {};
  MemorySource src(std::vector<uint8_t>(64));
  uint32_t got = 0;
  for (int change = 0; change < 6; ++change) {
    CipherParameters p = Shared();
    int32_t* fields[] = {&p.block_size, &p.block_size, &p.taps[4], &p.taps[9], &p.pass_count};
    const int32_t values[] = {1, 48, 0, p.block_size, 0};
    change < 5 ? void(*fields[change] = values[change]) : void(p = CipherParameters());
    EXPECT_EQ(EncipherInPlace(p, data, 8).code(), kErrInvalidParameter);
    EXPECT_EQ(Decipher(p, src, 0, data, 8, &got).code(), kErrInvalidParameter);
  }
}

// Reads of a file with a 60-byte plain header: all or nothing, zero bytes at
// block starts (the empty work buffer never reaches memcpy), a failing file,
// and positions from a damaged index whose end passes the largest offset.
TEST(CipherTest, ReadsAtAPosition) {
  std::vector<uint8_t> plain = test::Pattern(100, 3), file(60, 0xEE), body = plain;
  ASSERT_TRUE(EncipherInPlace(Shared(), body.data(), body.size()).ok());
  file.insert(file.end(), body.begin(), body.end());
  auto all = DecipherAllOrNothing;
  const struct { decltype(all) read; int64_t pos; uint32_t n; int64_t fail_at; uint32_t code, got; } cases[] = {
      {all, 150, 16, -1, 0, 10},  {all, 90, 16, -1, 0, 16},  {all, 60, 0, -1, 0, 0},
      {all, 60 + Shared().block_size, 0, -1, 0, 0},          {all, 160, 0, -1, 0, 0},
      {all, 90, 16, 0, kErrIoDevice, 0},                     {Decipher, 90, 16, -1, 0, 16},
      {Decipher, INT64_MAX - 2, 24, -1, kErrInvalidParameter, 0},
      {all, INT64_MAX - 2, 24, -1, kErrInvalidParameter, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.pos << " " << c.n);
    MemorySource src(file);
    src.set_pos(c.pos);
    src.fail_reads_at = c.fail_at;
    std::vector<uint8_t> out(24, 0xCC);
    uint32_t got = 99;
    EXPECT_EQ(c.read(Shared(), src, 60, out.data(), c.n, &got).code(), c.code);
    EXPECT_EQ(got, c.got);
    if (c.got == c.n && c.n) {
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + c.n, plain.begin() + (c.pos - 60)));
      EXPECT_EQ(src.pos(), c.pos + c.n);
    } else {
      EXPECT_EQ(out, std::vector<uint8_t>(24, 0xCC)) << "nothing delivered";
    }
    if (c.code == kErrInvalidParameter) {
      EXPECT_EQ(src.pos(), c.pos);
      EXPECT_EQ(src.reads, 0);
    }
  }
}

void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  value.empty() ? unsetenv(name) : setenv(name, value.c_str(), 1);
#endif
}

class KeySourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEnv(kKeyFileEnvironment, "");
    (void)platform::registry::DeleteTree(platform::Hive::kCurrentUser, kSettingsKey);
  }
  void TearDown() override { SetUp(); }
  test::TempDir dir_;
};

TEST_F(KeySourceTest, RefusesMalformedOrUnusableFilesWithTheirFault) {
  const std::string magic = "corvane-key-file 1\n", shared = "shared 1 2 3 1 1 1 1 1 1 1 1 1 1 2\n";
  const std::pair<std::string, const char*> cases[] = {
      {"", "empty"},
      {magic + "e1.00 1 2 3 1 1 1 1 1 1 1 1 1 1 2\n", "lacks the set \"shared\""},
      {magic + "e1.00 256 2 3 1 1 1 1 1 1 1 1 1 1 2\n" + shared, "not a byte"},
      {magic + "e1.00 1 2 1 1 1 1 1 1 1 1 1 1 1 96\n" + shared, "block size"},
  };
  for (const auto& [text, fault] : cases) {
    KeyMaterial k = DefaultKeyMaterial();
    std::string msg;
    EXPECT_EQ(ParseKeyFile(text, &k, &msg).code(), kErrInvalidData) << text;
    EXPECT_NE(msg.find(fault), std::string::npos) << msg;
  }
}

// A key file named in the settings replaces the built-in sets; one named in
// the environment wins (its key: fuzz target key_file); a bad one is never
// used, a missing one is reported.
TEST_F(KeySourceTest, KeyFileFromTheSettingsOrTheEnvironment) {
  const std::string good = dir_.File("good.txt"), bad = dir_.File("bad.txt");
  const std::string text =
      "# test key\ncorvane-key-file 1\n\nshared 0xA7 0x3D 1 8 11 15 20 26 31 37 42 50 56 64\r\n"
      "e1.00  1 2 3 1 1 1 1 1 1 1 1 1 1 2\n";
  test::WriteFileBytes(good, {text.begin(), text.end()});
  test::WriteFileBytes(bad, {'x', '\n'});
  ASSERT_TRUE(platform::registry::SetString(platform::Hive::kCurrentUser, kSettingsKey,
                                            kKeyFileValueName, good).ok());
  CipherParameters p;
  ASSERT_TRUE(p.Load(3).ok());  // e1.00: each parameter from its byte
  EXPECT_EQ(std::make_tuple(p.whitening, p.feedback, p.pass_count, p.block_size), std::make_tuple(1, 2, 3, 2));
  ASSERT_TRUE(p.Load(13).ok());
  EXPECT_EQ(p, Shared()) << "the same as the built-in set";

  SetEnv(kKeyFileEnvironment, bad);
  std::string msg;
  KeyMaterial k;
  EXPECT_EQ(LoadKeyMaterial(&k, &msg).code(), kErrInvalidData);
  EXPECT_NE(msg.find("bad.txt"), std::string::npos) << msg;
  CipherParameters none;
  EXPECT_FALSE(none.SetUp(1));
  EXPECT_EQ(none, CipherParameters()) << "nothing loaded";
  SetEnv(kKeyFileEnvironment, dir_.File("missing.txt"));
  EXPECT_EQ(none.Load(1).code(), kErrFileNotFound);
}

}  // namespace
}  // namespace corvane::stream
