// The registry functions: keys, values, error codes, and several writers
// at once. On POSIX also the store file itself.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace corvane::platform {
namespace {

constexpr Hive kUser = Hive::kCurrentUser;

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::string("Software\\Corvane Tests\\") + info->name();
  }
  ~RegistryTest() override { (void)registry::DeleteTree(kUser, root_); }

  std::string Key(const std::string& sub) const { return root_ + "\\" + sub; }

  uint32_t Dword(const std::string& key, const std::string& name) {
    uint8_t data[4] = {};
    uint32_t size = sizeof data;
    Status s = registry::QueryValue(kUser, key, name, data, &size, nullptr);
    EXPECT_TRUE(s.ok()) << name << ": " << s.code();
    return data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
  }

  std::string root_;
};

// Keys and values from creation to deletion, names without regard to case.
TEST_F(RegistryTest, KeysAndValuesFromCreationToDeletion) {
  bool created = false;
  ASSERT_TRUE(registry::CreateKey(kUser, Key("A\\B"), &created).ok());
  EXPECT_TRUE(created);
  EXPECT_TRUE(registry::KeyExists(kUser, Key("A")));  // parents come along
  ASSERT_TRUE(registry::CreateKey(kUser, Key("a\\b"), &created).ok());
  EXPECT_FALSE(created);
  EXPECT_FALSE(registry::KeyExists(kUser, Key("A\\C")));

  ASSERT_TRUE(registry::SetDword(kUser, Key("A"), "Disk Buffer Size", 128).ok());
  uint8_t data[8] = {};
  uint32_t size = sizeof data, type = 0;
  ASSERT_TRUE(registry::QueryValue(kUser, Key("A"), "disk buffer size", data, &size, &type).ok());
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(data[0], 128);
  size = 2;
  EXPECT_EQ(registry::QueryValue(kUser, Key("A"), "Disk Buffer Size", data, &size, nullptr).code(),
            kErrMoreData);
  EXPECT_EQ(size, 4u) << "the size needed";
  size = sizeof data;
  EXPECT_EQ(registry::QueryValue(kUser, Key("A"), "Other", data, &size, nullptr).code(), kErrFileNotFound);
  EXPECT_EQ(registry::QueryValue(kUser, Key("Missing"), "Disk Buffer Size", data, &size, nullptr).code(),
            kErrFileNotFound);
  ASSERT_TRUE(registry::SetDword(kUser, Key("A"), "disk BUFFER size", 0xFFFFFFFFu).ok());
  EXPECT_EQ(Dword(Key("A"), "Disk Buffer Size"), 0xFFFFFFFFu);

  ASSERT_TRUE(registry::SetDword(kUser, Key("A\\B\\Deeper"), "N", 1).ok());
  ASSERT_TRUE(registry::SetDword(kUser, Key("Sibling"), "N", 3).ok());
  ASSERT_TRUE(registry::DeleteValue(kUser, Key("A"), "Disk Buffer Size").ok());
  EXPECT_EQ(registry::DeleteValue(kUser, Key("A"), "Disk Buffer Size").code(), kErrFileNotFound);
  EXPECT_TRUE(registry::KeyExists(kUser, Key("A")));
  ASSERT_TRUE(registry::DeleteTree(kUser, Key("A")).ok());
  EXPECT_FALSE(registry::KeyExists(kUser, Key("A\\B\\Deeper")));
  EXPECT_FALSE(registry::KeyExists(kUser, Key("A")));
  EXPECT_EQ(registry::DeleteTree(kUser, Key("A")).code(), kErrFileNotFound);
  EXPECT_EQ(Dword(Key("Sibling"), "N"), 3u);
}

TEST_F(RegistryTest, StringsRoundTripWithSpecialCharacters) {
  const std::string values[] = {"plain", "C:\\Program Files\\corvane.dll", "say \"hi\"",
                                "two\nlines\r\n\tand a tab", "", "trailing backslash\\",
                                "[not a section]", "\"Name\"=dword:1", "default"};
  // Names with quotes and backslashes; the last value goes to the default ("") name.
  auto name = [&](size_t i) {
    return i + 1 == std::size(values) ? std::string() : "V" + std::to_string(i) + " \"q\\\"";
  };
  for (size_t i = 0; i < std::size(values); ++i) {
    ASSERT_TRUE(registry::SetString(kUser, Key("Strings"), name(i), values[i]).ok());
  }
  for (size_t i = 0; i < std::size(values); ++i) {
    std::string text;
    ASSERT_TRUE(registry::QueryString(kUser, Key("Strings"), name(i), &text).ok()) << i;
    EXPECT_EQ(text, values[i]);
  }
}

TEST_F(RegistryTest, ConcurrentWritersLoseNoValue) {
  constexpr int kPerWriter = 60;
  const std::string key = Key("Concurrent"), count = std::to_string(kPerWriter);
  // Two processes and two threads of this one write distinct values at once.
  test::BackgroundProgram child0("platform_child", {"regwrite", key, "w0-", count});
  test::BackgroundProgram child1("platform_child", {"regwrite", key, "w1-", count});
  std::atomic<int> failed_writes{0};
  auto write = [&](const std::string& prefix) {
    for (int i = 0; i < kPerWriter; ++i) {
      if (!registry::SetDword(kUser, key, prefix + std::to_string(i), i).ok()) ++failed_writes;
    }
  };
  std::thread w2(write, "w2-"), w3(write, "w3-");
  w2.join();
  w3.join();
  EXPECT_EQ(child0.Join(), 0);
  EXPECT_EQ(child1.Join(), 0);
  EXPECT_EQ(failed_writes, 0);
  for (int w = 0; w < 4; ++w) {
    for (int i = 0; i < kPerWriter; ++i) {
      EXPECT_EQ(Dword(key, "w" + std::to_string(w) + "-" + std::to_string(i)), static_cast<uint32_t>(i));
    }
  }
}

#ifndef _WIN32
// ---- The POSIX store file ----

class StoreFileTest : public ::testing::Test {
 protected:
  StoreFileTest() : store_(dir_.File("cfg") + "/corvane/registry") {
    if (const char* old = std::getenv("CORVANE_REGISTRY")) saved_ = old;
    setenv("CORVANE_REGISTRY", store_.c_str(), 1);
  }
  ~StoreFileTest() override { setenv("CORVANE_REGISTRY", saved_.c_str(), 1); }

  std::string Text() const {
    std::vector<uint8_t> bytes = test::ReadFileBytes(store_);
    return std::string(bytes.begin(), bytes.end());
  }

  test::TempDir dir_;
  std::string store_;
  std::string saved_;
};

TEST_F(StoreFileTest, StoreIsReadableTextKeepsLinesItDoesNotKnowAndIsLookedUpAtEveryCall) {
  ASSERT_TRUE(registry::CreateKey(kUser, "K", nullptr).ok());  // makes the directories
  const std::string hand = "; my notes\n[HKEY_CURRENT_USER\\K]\n\"Odd\"=qword:5\n\"N\"=dword:7\n";
  test::WriteFileBytes(store_, std::vector<uint8_t>(hand.begin(), hand.end()));
  const std::string key = "Software\\Vendor\\Settings";
  ASSERT_TRUE(registry::SetDword(kUser, key, "Disk Buffer Size", 128).ok());
  ASSERT_TRUE(registry::SetString(kUser, key, "Key File", "/tmp/a \"b\"\\c").ok());
  ASSERT_TRUE(registry::SetString(Hive::kClassesRoot, "CLSID\\{X}", "", "Corvane.Test").ok());
  ASSERT_TRUE(registry::SetDword(kUser, "K", "M", 8).ok());
  const std::string text = Text();
  for (const char* line : {"; my notes\n", "\"Odd\"=qword:5\n", "\"N\"=dword:7\n", "\"M\"=dword:8\n",
                           "[HKEY_CURRENT_USER\\Software\\Vendor\\Settings]\n", "\"Disk Buffer Size\"=dword:128\n",
                           "\"Key File\"=\"/tmp/a \\\"b\\\"\\\\c\"\n", "[HKEY_CLASSES_ROOT\\CLSID\\{X}]\n@=\"Corvane.Test\"\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  EXPECT_TRUE(registry::KeyExists(kUser, "K"));
  // An edit in place that keeps the size, just after a read, is seen too.
  std::string value;
  ASSERT_TRUE(registry::QueryString(kUser, key, "Key File", &value).ok());
  std::string edited = Text();
  edited.replace(edited.find("/tmp/a"), 6, "/var/b");
  if (FILE* f = std::fopen(store_.c_str(), "r+")) {
    std::fwrite(edited.data(), 1, edited.size(), f);
    std::fclose(f);
  }
  ASSERT_TRUE(registry::QueryString(kUser, key, "Key File", &value).ok());
  EXPECT_EQ(value, "/var/b \"b\"\\c");
  setenv("CORVANE_REGISTRY", dir_.File("other").c_str(), 1);
  EXPECT_FALSE(registry::KeyExists(kUser, "K"));
}
#endif  // !_WIN32

}  // namespace
}  // namespace corvane::platform
