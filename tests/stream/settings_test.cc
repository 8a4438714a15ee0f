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
  // Under Wine every test program shares the prefix's registry: a stored
  // size of 4 GiB left behind would fail the next program's LogFile opens
  // on 32-bit Windows.
  void TearDown() override { (void)registry::DeleteTree(Hive::kCurrentUser, kSettingsKey); }

  // The stored DWORD, or -1 when there is none.
  static int64_t Stored(const char* name) {
    uint8_t data[8] = {};
    uint32_t size = sizeof data, type = 0;
    if (!registry::QueryValue(Hive::kCurrentUser, kSettingsKey, name, data, &size, &type).ok()) {
      return -1;
    }
    EXPECT_EQ(type, platform::kRegDword);
    return DecodeLE32(data);
  }
};

TEST_F(SettingsTest, StreamStoresItsDefaultsWhenMissingAndUsesStoredValuesUnchanged) {
  StreamSettings s = ReadStreamSettings();
  EXPECT_EQ(s.disk_buffer_size, 0u);
  EXPECT_EQ(s.indexing_buffer_size, 2048u);
  EXPECT_EQ(Stored(kDiskBufferSizeName), 0);
  EXPECT_EQ(Stored(kIndexingBufferSizeName), 2048);

  ASSERT_TRUE(registry::SetDword(Hive::kCurrentUser, kSettingsKey, kDiskBufferSizeName, 200).ok());
  // Any type: the first four bytes of the data count.
  ASSERT_TRUE(registry::SetString(Hive::kCurrentUser, kSettingsKey, kIndexingBufferSizeName,
                                  std::string("\x00\x10\x00\x00zz", 6))
                  .ok());
  s = ReadStreamSettings();
  EXPECT_EQ(s.disk_buffer_size, 200u);
  EXPECT_EQ(s.indexing_buffer_size, 4096u);

  // A value longer than 260 bytes is replaced by the default.
  ASSERT_TRUE(registry::SetString(Hive::kCurrentUser, kSettingsKey, kDiskBufferSizeName,
                                  std::string(300, 'x'))
                  .ok());
  EXPECT_EQ(ReadStreamSettings().disk_buffer_size, 0u);
  EXPECT_EQ(Stored(kDiskBufferSizeName), 0);
}

TEST_F(SettingsTest, LogFileRule) {
  EXPECT_EQ(ReadLogFileDiskBufferSetting(), 128u) << "a created key gives 128";
  EXPECT_EQ(Stored(kDiskBufferSizeName), 128);

  ASSERT_TRUE(registry::DeleteValue(Hive::kCurrentUser, kSettingsKey, kDiskBufferSizeName).ok());
  EXPECT_EQ(ReadLogFileDiskBufferSetting(), 0u) << "missing value gives 0";
  EXPECT_EQ(Stored(kDiskBufferSizeName), -1) << "and is not stored";
  EXPECT_EQ(LogFileDiskBufferSize(), 128u) << "which the LogFile component uses as 128";

  // Rounded up to a multiple of 128, never wrapping.
  const struct {
    uint32_t stored, used;
  } cases[] = {{0, 0}, {1, 128}, {256, 256}, {0xFFFFFF81, 0xFFFFFF80}};
  for (auto c : cases) {
    StoreDiskBufferSize(c.stored);
    EXPECT_EQ(ReadLogFileDiskBufferSetting(), c.used) << c.stored;
    EXPECT_EQ(Stored(kDiskBufferSizeName), c.stored) << "reading does not rewrite";
  }
}

}  // namespace
}  // namespace corvane::stream
