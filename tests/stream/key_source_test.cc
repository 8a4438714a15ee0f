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

TEST_F(KeySourceTest, ParsesEachParameterFromItsByte) {
  KeyMaterial k;
  std::string msg;
  ASSERT_TRUE(ParseKeyFile(kGood, &k, &msg).ok()) << msg;
  CipherParameters e100 = ParametersFromKey(k.sets[0]);
  EXPECT_EQ(e100.whitening, 1);
  EXPECT_EQ(e100.feedback, 2);
  EXPECT_EQ(e100.pass_count, 3);
  EXPECT_EQ(e100.block_size, 2);
  EXPECT_EQ(ParametersFromKey(k.sets[1]).whitening, 0xA7);
  EXPECT_EQ(k.sets[1], DefaultKeyMaterial().sets[1]);
}

TEST_F(KeySourceTest, RefusesMalformedOrUnusableFiles) {
  const std::string good_e100 = "e1.00 1 2 3 1 1 1 1 1 1 1 1 1 1 2\n";
  const std::string good_shared = "shared 1 2 3 1 1 1 1 1 1 1 1 1 1 2\n";
  const std::string magic = "corvane-key-file 1\n";
  struct Case {
    std::string text;
    const char* fault;
  } cases[] = {
      {"", "empty"},
      {"corvane-key-file 2\n" + good_e100 + good_shared, "expected"},
      {good_e100 + good_shared, "expected"},
      {magic + good_e100, "lacks the set \"shared\""},
      {magic + good_e100 + good_e100 + good_shared, "repeated"},
      {magic + "other 1 2 3 1 1 1 1 1 1 1 1 1 1 2\n" + good_shared, "unknown set"},
      {magic + "e1.00 1 2 3 1 1 1 1 1 1 1 1 1 1\n" + good_shared, "13 values"},
      {magic + "e1.00 1 2 3 1 1 1 1 1 1 1 1 1 1 2 5\n" + good_shared, "15 values"},
      {magic + "e1.00 256 2 3 1 1 1 1 1 1 1 1 1 1 2\n" + good_shared, "not a byte"},
      {magic + "e1.00 -1 2 3 1 1 1 1 1 1 1 1 1 1 2\n" + good_shared, "not a byte"},
      {magic + "e1.00 0x1FF 2 3 1 1 1 1 1 1 1 1 1 1 2\n" + good_shared, "not a byte"},
      {magic + "e1.00 1 2 0 1 1 1 1 1 1 1 1 1 1 2\n" + good_shared, "pass count"},
      {magic + "e1.00 1 2 1 1 1 1 1 1 1 1 1 1 1 1\n" + good_shared, "block size"},
      {magic + "e1.00 1 2 1 1 1 1 1 1 1 1 1 1 1 96\n" + good_shared, "block size"},
      {magic + "e1.00 1 2 1 1 1 1 1 0 1 1 1 1 1 2\n" + good_shared, "tap 5"},
      {magic + "e1.00 1 2 1 1 1 1 1 1 1 1 1 1 2 2\n" + good_shared, "tap 10"},
  };
  for (const Case& c : cases) {
    KeyMaterial k = DefaultKeyMaterial();
    std::string msg;
    EXPECT_EQ(ParseKeyFile(c.text, &k, &msg).code(), kErrInvalidData) << c.text;
    EXPECT_NE(msg.find(c.fault), std::string::npos) << msg;
    EXPECT_EQ(k.sets, DefaultKeyMaterial().sets) << "output untouched";
  }
}

TEST_F(KeySourceTest, KeyFileNamedInTheSettingsReplacesTheDefaults) {
  std::string path = dir_.File("key.txt");
  test::WriteFileBytes(path, std::vector<uint8_t>(kGood, kGood + sizeof kGood - 1));
  ASSERT_TRUE(platform::registry::SetString(platform::Hive::kCurrentUser, kSettingsKey,
                                            kKeyFileValueName, path)
                  .ok());
  CipherParameters p;
  ASSERT_TRUE(p.Load(3).ok());
  EXPECT_EQ(p.block_size, 2);
  ASSERT_TRUE(p.Load(13).ok());
  EXPECT_EQ(p.block_size, 64);
}

TEST_F(KeySourceTest, EnvironmentWinsAndBadFilesAreNeverUsed) {
  std::string good = dir_.File("good.txt"), bad = dir_.File("bad.txt");
  test::WriteFileBytes(good, std::vector<uint8_t>(kGood, kGood + sizeof kGood - 1));
  test::WriteFileBytes(bad, {'x', '\n'});
  ASSERT_TRUE(platform::registry::SetString(platform::Hive::kCurrentUser, kSettingsKey,
                                            kKeyFileValueName, good)
                  .ok());
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
