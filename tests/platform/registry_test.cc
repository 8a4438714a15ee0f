// The registry: several writers at once, and on POSIX the store file itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace corvane::platform {
namespace {

constexpr Hive kUser = Hive::kCurrentUser;
const std::string kRoot = "Software\\Corvane Tests\\Registry";

uint32_t Dword(const std::string& key, const std::string& name, uint32_t* code = nullptr) {
  uint8_t data[8] = {};
  uint32_t size = sizeof data, type = 0;
  Status s = registry::QueryValue(kUser, key, name, data, &size, &type);
  if (code) *code = s.code();
  EXPECT_TRUE(code || (s.ok() && size == 4 && type == kRegDword)) << name << ": " << s.code();
  return data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
}

// Two processes and two threads of this one write distinct values at once.
TEST(RegistryTest, ConcurrentWritersLoseNoValue) {
  constexpr int kPerWriter = 60;
  const std::string key = kRoot + "\\Concurrent", count = std::to_string(kPerWriter);
  test::BackgroundProgram child0("platform_child", {"regwrite", key, "w0-", count});
  test::BackgroundProgram child1("platform_child", {"regwrite", key, "w1-", count});
  auto write = [&](const std::string& prefix) {
    for (int i = 0; i < kPerWriter; ++i) EXPECT_TRUE(registry::SetDword(kUser, key, prefix + std::to_string(i), i).ok());
  };
  std::thread w2(write, "w2-"), w3(write, "w3-");
  w2.join();
  w3.join();
  EXPECT_EQ(child0.Join(), 0);
  EXPECT_EQ(child1.Join(), 0);
  for (int w = 0; w < 4; ++w) {
    for (int i = 0; i < kPerWriter; ++i) {
      EXPECT_EQ(Dword(key, "w" + std::to_string(w) + "-" + std::to_string(i)), static_cast<uint32_t>(i));
    }
  }
  EXPECT_TRUE(registry::DeleteTree(kUser, kRoot).ok());
}

#ifndef _WIN32
// The POSIX store: readable text, lines it does not know kept, strings with
// any characters, looked up at every call, an edit in place seen at once.
TEST(RegistryTest, StoreFileIsTextKeptAcrossWritesAndReadAtEveryCall) {
  test::TempDir dir;
  const char* old = std::getenv("CORVANE_REGISTRY");
  const std::string store = dir.File("cfg") + "/corvane/registry", saved = old ? old : "";
  setenv("CORVANE_REGISTRY", store.c_str(), 1);
  auto text = [&] {
    std::vector<uint8_t> bytes = test::ReadFileBytes(store);
    return std::string(bytes.begin(), bytes.end());
  };
  ASSERT_TRUE(registry::CreateKey(kUser, "K", nullptr).ok());  // makes the directories
  const std::string hand = "; my notes\n[HKEY_CURRENT_USER\\K]\n\"Odd\"=qword:5\n\"N\"=dword:7\n";
  test::WriteFileBytes(store, std::vector<uint8_t>(hand.begin(), hand.end()));
  const std::string key = "Software\\Vendor\\Settings", odd = "two\nlines\r\n\t[x]\n\"N\"=dword:1\\";
  ASSERT_TRUE(registry::SetDword(kUser, key, "Disk Buffer Size", 128).ok());
  ASSERT_TRUE(registry::SetString(kUser, key, "Key File", "/tmp/a \"b\"\\c").ok());
  ASSERT_TRUE(registry::SetString(kUser, key, "V \"q\\\"", odd).ok());
  ASSERT_TRUE(registry::SetString(Hive::kClassesRoot, "CLSID\\{X}", "", "Corvane.Test").ok());
  ASSERT_TRUE(registry::SetDword(kUser, "K", "M", 8).ok());
  for (const char* line : {"; my notes\n", "\"Odd\"=qword:5\n", "\"N\"=dword:7\n", "\"M\"=dword:8\n",
                           "[HKEY_CURRENT_USER\\Software\\Vendor\\Settings]\n", "\"Disk Buffer Size\"=dword:128\n",
                           "\"Key File\"=\"/tmp/a \\\"b\\\"\\\\c\"\n", "[HKEY_CLASSES_ROOT\\CLSID\\{X}]\n@=\"Corvane.Test\"\n"}) {
    EXPECT_NE(text().find(line), std::string::npos) << line;
  }
  std::string value;
  ASSERT_TRUE(registry::QueryString(kUser, key, "v \"Q\\\"", &value).ok());
  EXPECT_EQ(value, odd);
  std::string edited = text();  // same size, just after a read
  edited.replace(edited.find("/tmp/a"), 6, "/var/b");
  if (FILE* f = std::fopen(store.c_str(), "r+")) {
    std::fwrite(edited.data(), 1, edited.size(), f);
    std::fclose(f);
  }
  ASSERT_TRUE(registry::QueryString(kUser, key, "Key File", &value).ok());
  EXPECT_EQ(value, "/var/b \"b\"\\c");
  setenv("CORVANE_REGISTRY", dir.File("other").c_str(), 1);
  EXPECT_FALSE(registry::KeyExists(kUser, "K"));
  setenv("CORVANE_REGISTRY", saved.c_str(), 1);
}
#endif  // !_WIN32

}  // namespace
}  // namespace corvane::platform
