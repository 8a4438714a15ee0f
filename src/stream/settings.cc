#include "stream/settings.h"

#include "platform/byte_order.h"
#include "platform/registry.h"

namespace corvane::stream {
namespace {

using platform::Hive;
namespace registry = platform::registry;

// The first four bytes of the value's data, whatever its type. Shorter data
// is zero-extended, as reading it into a zeroed 4-byte number would.
bool QueryNumber(const char* name, uint32_t* value) {
  uint8_t data[kSettingValueRoom] = {};
  uint32_t size = sizeof data;
  if (!registry::QueryValue(Hive::kCurrentUser, kSettingsKey, name, data, &size, nullptr).ok()) {
    return false;
  }
  *value = DecodeLE32(data);
  return true;
}

uint32_t ReadOrStoreDefault(const char* name, uint32_t fallback) {
  uint32_t value = 0;
  if (QueryNumber(name, &value)) return value;
  // A store that cannot be written leaves the default in use all the same.
  (void)registry::SetDword(Hive::kCurrentUser, kSettingsKey, name, fallback);
  return fallback;
}

}  // namespace

uint32_t RoundUpTo128(uint32_t size) {
  constexpr uint32_t kLast = 0xFFFFFF80u;
  if (size > kLast) return kLast;
  return (size + 127u) & ~127u;
}

StreamSettings ReadStreamSettings() {
  bool created = false;
  (void)registry::CreateKey(Hive::kCurrentUser, kSettingsKey, &created);
  StreamSettings s;
  s.disk_buffer_size = ReadOrStoreDefault(kDiskBufferSizeName, kStreamDefaultDiskBufferSize);
  s.indexing_buffer_size =
      ReadOrStoreDefault(kIndexingBufferSizeName, kStreamDefaultIndexingBufferSize);
  return s;
}

uint32_t ReadLogFileDiskBufferSetting() {
  bool created = false;
  if (!registry::CreateKey(Hive::kCurrentUser, kSettingsKey, &created).ok() || created) {
    (void)registry::SetDword(Hive::kCurrentUser, kSettingsKey, kDiskBufferSizeName,
                             kLogFileDefaultDiskBufferSize);
    return kLogFileDefaultDiskBufferSize;
  }
  uint32_t value = 0;
  if (!QueryNumber(kDiskBufferSizeName, &value)) return 0;
  return RoundUpTo128(value);
}

uint32_t LogFileDiskBufferSize() {
  uint32_t size = ReadLogFileDiskBufferSetting();
  return size == 0 ? kLogFileDefaultDiskBufferSize : size;
}

void StoreDiskBufferSize(uint32_t size) {
  (void)registry::SetDword(Hive::kCurrentUser, kSettingsKey, kDiskBufferSizeName, size);
}

}  // namespace corvane::stream
