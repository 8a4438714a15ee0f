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

// The fuzz target checks every refusal as a property; these pin the texts.
TEST_F(KeySourceTest, RefusesMalformedOrUnusableFiles) {
  const std::string magic = "corvane-key-file 1\n", shared = "shared 1 2 3 1 1 1 1 1 1 1 1 1 1 2\n";
  const struct {
    std::string text;
    const char* fault;
  } cases[] = {
      {"", "empty"},
      {magic + "e1.00 1 2 3 1 1 1 1 1 1 1 1 1 1 2\n", "lacks the set \"shared\""},
      {magic + "e1.00 256 2 3 1 1 1 1 1 1 1 1 1 1 2\n" + shared, "not a byte"},
      {magic + "e1.00 1 2 1 1 1 1 1 1 1 1 1 1 1 96\n" + shared, "block size"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    KeyMaterial k = DefaultKeyMaterial();
    std::string msg;
    EXPECT_EQ(ParseKeyFile(c.text, &k, &msg).code(), kErrInvalidData);
    EXPECT_NE(msg.find(c.fault), std::string::npos) << msg;
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

}  // namespace
}  // namespace corvane::stream
