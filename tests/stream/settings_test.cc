// The settings rules on a fresh store.
#include "stream/settings.h"

#include <gtest/gtest.h>

#include "platform/byte_order.h"
#include "platform/registry.h"

namespace corvane::stream {
namespace {

using platform::Hive;
namespace registry = platform::registry;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { (void)registry::DeleteTree(Hive::kCurrentUser, kSettingsKey); }

  static bool Stored(const char* name, uint32_t* value) {
    uint8_t data[8] = {};
    uint32_t size = sizeof data, type = 0;
    if (!registry::QueryValue(Hive::kCurrentUser, kSettingsKey, name, data, &size, &type).ok()) {
      return false;
    }
    EXPECT_EQ(type, platform::kRegDword);
    *value = DecodeLE32(data);
    return true;
  }
};

TEST_F(SettingsTest, StreamStoresItsDefaultsWhenMissing) {
  StreamSettings s = ReadStreamSettings();
  EXPECT_EQ(s.disk_buffer_size, 0u);
  EXPECT_EQ(s.indexing_buffer_size, 2048u);
  uint32_t v = 99;
  ASSERT_TRUE(Stored(kDiskBufferSizeName, &v));
  EXPECT_EQ(v, 0u);
  ASSERT_TRUE(Stored(kIndexingBufferSizeName, &v));
  EXPECT_EQ(v, 2048u);
}

TEST_F(SettingsTest, StreamUsesStoredValuesUnchanged) {
  ASSERT_TRUE(registry::SetDword(Hive::kCurrentUser, kSettingsKey, kDiskBufferSizeName, 200).ok());
  // Any type: the first four bytes of the data count.
  ASSERT_TRUE(registry::SetString(Hive::kCurrentUser, kSettingsKey, kIndexingBufferSizeName,
                                  std::string("\x00\x10\x00\x00zz", 6))
                  .ok());
  StreamSettings s = ReadStreamSettings();
  EXPECT_EQ(s.disk_buffer_size, 200u);
  EXPECT_EQ(s.indexing_buffer_size, 4096u);
}

TEST_F(SettingsTest, StreamReplacesValuesLongerThan260Bytes) {
  ASSERT_TRUE(registry::SetString(Hive::kCurrentUser, kSettingsKey, kDiskBufferSizeName,
                                  std::string(300, 'x'))
                  .ok());
  EXPECT_EQ(ReadStreamSettings().disk_buffer_size, 0u);
  uint32_t v = 99;
  ASSERT_TRUE(Stored(kDiskBufferSizeName, &v));
  EXPECT_EQ(v, 0u);
}

TEST_F(SettingsTest, LogFileRule) {
  EXPECT_EQ(ReadLogFileDiskBufferSetting(), 128u) << "a created key gives 128";
  uint32_t v = 0;
  ASSERT_TRUE(Stored(kDiskBufferSizeName, &v));
  EXPECT_EQ(v, 128u);

  ASSERT_TRUE(registry::DeleteValue(Hive::kCurrentUser, kSettingsKey, kDiskBufferSizeName).ok());
  EXPECT_EQ(ReadLogFileDiskBufferSetting(), 0u) << "missing value gives 0";
  EXPECT_FALSE(Stored(kDiskBufferSizeName, &v)) << "and is not stored";
  EXPECT_EQ(LogFileDiskBufferSize(), 128u) << "which the LogFile component uses as 128";

  struct {
    uint32_t stored, used;
  } cases[] = {{130, 256}, {200, 256}, {256, 256}, {1, 128}, {0xFFFFFFFF, 0xFFFFFF80}};
  for (auto c : cases) {
    StoreDiskBufferSize(c.stored);
    EXPECT_EQ(ReadLogFileDiskBufferSetting(), c.used) << c.stored;
    ASSERT_TRUE(Stored(kDiskBufferSizeName, &v));
    EXPECT_EQ(v, c.stored) << "reading does not rewrite";
  }
}

TEST(RoundUpTo128Test, NeverWraps) {
  EXPECT_EQ(RoundUpTo128(0), 0u);
  EXPECT_EQ(RoundUpTo128(1), 128u);
  EXPECT_EQ(RoundUpTo128(128), 128u);
  EXPECT_EQ(RoundUpTo128(0xFFFFFF80u), 0xFFFFFF80u);
  EXPECT_EQ(RoundUpTo128(0xFFFFFF81u), 0xFFFFFF80u);
}

}  // namespace
}  // namespace corvane::stream
