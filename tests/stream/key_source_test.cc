// The key file format and the choice of key source.
#include "stream/key_source.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/registry.h"
#include "stream/settings.h"
#include "support/temp_dir.h"

namespace corvane::stream {
namespace {

constexpr char kGood[] =
    "# test key\n"
    "corvane-key-file 1\n"
    "\n"
    "shared 0xA7 0x3D 1 8 11 15 20 26 31 37 42 50 56 64\r\n"
    "e1.00  1 2 3 1 1 1 1 1 1 1 1 1 1 2\n";

void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  if (value.empty()) {
    unsetenv(name);
  } else {
    setenv(name, value.c_str(), 1);
  }
#endif
}

class KeySourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEnv(kKeyFileEnvironment, "");
    (void)platform::registry::DeleteTree(platform::Hive::kCurrentUser, kSettingsKey);
  }
  void TearDown() override { SetUp(); }

  // Writes a key file and names it in the settings.
  std::string Configure(const char* name, const std::string& text) {
    std::string path = dir_.File(name);
    test::WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_TRUE(platform::registry::SetString(platform::Hive::kCurrentUser, kSettingsKey,
                                              kKeyFileValueName, path)
                    .ok());
    return path;
  }
  test::TempDir dir_;
};

TEST_F(KeySourceTest, DefaultSetsMeetEveryRequirement) {
  for (const KeySetBytes& set : DefaultKeyMaterial().sets) {
    std::string why;
    EXPECT_TRUE(ParametersFromKey(set).Validate(&why).ok()) << why;
  }
  KeyMaterial k;
  ASSERT_TRUE(LoadKeyMaterial(&k, nullptr).ok());
  EXPECT_EQ(k.sets, DefaultKeyMaterial().sets);
}

TEST_F(KeySourceTest, RefusesMalformedOrUnusableFiles) {
  const std::string magic = "corvane-key-file 1\n", e100 = "e1.00 1 2 3 1 1 1 1 1 1 1 1 1 1 2\n",
                    shared = "shared 1 2 3 1 1 1 1 1 1 1 1 1 1 2\n";
  // An e1.00 line of whitening, feedback, pass count, ten taps and block size.
  auto with_e100 = [&](const char* values) { return magic + "e1.00 " + values + "\n" + shared; };
  const struct {
    std::string text;
    const char* fault;
  } cases[] = {
      {"", "empty"},
      {"corvane-key-file 2\n" + e100 + shared, "expected"},
      {e100 + shared, "expected"},
      {magic + e100, "lacks the set \"shared\""},
      {magic + e100 + e100 + shared, "repeated"},
      {magic + "other 1 2 3 1 1 1 1 1 1 1 1 1 1 2\n" + shared, "unknown set"},
      {with_e100("1 2 3 1 1 1 1 1 1 1 1 1 1"), "13 values"},
      {with_e100("1 2 3 1 1 1 1 1 1 1 1 1 1 2 5"), "15 values"},
      {with_e100("256 2 3 1 1 1 1 1 1 1 1 1 1 2"), "not a byte"},
      {with_e100("-1 2 3 1 1 1 1 1 1 1 1 1 1 2"), "not a byte"},
      {with_e100("0x1FF 2 3 1 1 1 1 1 1 1 1 1 1 2"), "not a byte"},
      {with_e100("1 2 0 1 1 1 1 1 1 1 1 1 1 2"), "pass count"},
      {with_e100("1 2 1 1 1 1 1 1 1 1 1 1 1 1"), "block size"},
      {with_e100("1 2 1 1 1 1 1 1 1 1 1 1 1 96"), "block size"},
      {with_e100("1 2 1 1 1 1 1 0 1 1 1 1 1 2"), "tap 5"},
      {with_e100("1 2 1 1 1 1 1 1 1 1 1 1 2 2"), "tap 10"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    KeyMaterial k = DefaultKeyMaterial();
    std::string msg;
    EXPECT_EQ(ParseKeyFile(c.text, &k, &msg).code(), kErrInvalidData);
    EXPECT_NE(msg.find(c.fault), std::string::npos) << msg;
    EXPECT_EQ(k.sets, DefaultKeyMaterial().sets) << "output untouched";
  }
}

TEST_F(KeySourceTest, KeyFileNamedInTheSettingsReplacesTheDefaults) {
  Configure("key.txt", kGood);
  CipherParameters p;
  ASSERT_TRUE(p.Load(3).ok());  // e1.00: each parameter from its byte
  EXPECT_EQ(p.whitening, 1);
  EXPECT_EQ(p.feedback, 2);
  EXPECT_EQ(p.pass_count, 3);
  EXPECT_EQ(p.block_size, 2);
  ASSERT_TRUE(p.Load(13).ok());
  EXPECT_EQ(p, ParametersFromKey(DefaultKeyMaterial().sets[1])) << "the same as the built-in set";
}

TEST_F(KeySourceTest, EnvironmentWinsAndBadFilesAreNeverUsed) {
  Configure("good.txt", kGood);
  std::string bad = dir_.File("bad.txt");
  test::WriteFileBytes(bad, {'x', '\n'});
  SetEnv(kKeyFileEnvironment, bad);
  EXPECT_EQ(ConfiguredKeyFilePath(), bad);
  CipherParameters p;
  std::string msg;
  KeyMaterial k;
  EXPECT_EQ(LoadKeyMaterial(&k, &msg).code(), kErrInvalidData);
  EXPECT_NE(msg.find("bad.txt"), std::string::npos) << msg;
  EXPECT_FALSE(p.SetUp(1));
  EXPECT_EQ(p, CipherParameters()) << "nothing loaded";
  SetEnv(kKeyFileEnvironment, dir_.File("missing.txt"));
  EXPECT_EQ(p.Load(1).code(), kErrFileNotFound);
}

TEST_F(KeySourceTest, OnlyEncipheredVersionsHaveASet) {
  CipherParameters p;
  for (int v = -1; v <= 18; ++v) {
    bool has = v == 1 || v == 3 || v == 7 || v == 13 || v == 16;
    EXPECT_EQ(p.SetUp(v), has) << v;
  }
  CipherParameters shared, e100;
  ASSERT_TRUE(shared.SetUp(7) && e100.SetUp(3));
  EXPECT_FALSE(shared == e100);
  CipherParameters kept = shared;
  EXPECT_FALSE(shared.SetUp(8));
  EXPECT_EQ(shared, kept) << "a version without a set changes nothing";
}

}  // namespace
}  // namespace corvane::stream
