// The per-user settings under
// HKEY_CURRENT_USER\Software\Tamri Zuduva Deravi\WQS Shared\Corvane Handler DLL\Settings:
//
//   "Disk Buffer Size"      32-bit  write-behind buffer of a stream / of LogFile
//   "Indexing Buffer Size"  32-bit  chunk size in which the indexing pass reads
//   "Key File"              string  optional key file of the cipher (key_source.h)
//
// A number is read as the first four bytes of the value's data (little-endian),
// whatever its registry type, with room for 260 bytes of data.
//
// Thread-safe: every call opens the key anew (the registry serialises).
#ifndef CORVANE_STREAM_SETTINGS_H_
#define CORVANE_STREAM_SETTINGS_H_

#include <cstdint>

namespace corvane::stream {

inline constexpr char kSettingsKey[] =
    "Software\\Tamri Zuduva Deravi\\WQS Shared\\Corvane Handler DLL\\Settings";
inline constexpr char kDiskBufferSizeName[] = "Disk Buffer Size";
inline constexpr char kIndexingBufferSizeName[] = "Indexing Buffer Size";

inline constexpr uint32_t kStreamDefaultDiskBufferSize = 0;
inline constexpr uint32_t kStreamDefaultIndexingBufferSize = 2048;
inline constexpr uint32_t kLogFileDefaultDiskBufferSize = 128;
inline constexpr uint32_t kSettingValueRoom = 260;

struct StreamSettings {
  uint32_t disk_buffer_size = kStreamDefaultDiskBufferSize;
  uint32_t indexing_buffer_size = kStreamDefaultIndexingBufferSize;
};

// The stream's rule, run once per stream at construction: each value that
// cannot be read (missing, or data longer than 260 bytes) takes the stream's
// default (0 and 2048), which is then stored as a 32-bit number; a stored
// value is used unchanged. A key that cannot be opened gives the defaults.
StreamSettings ReadStreamSettings();

// The LogFile component's rule for "Disk Buffer Size", run at every Open:
// a key that had to be created (or cannot be opened) gives 128, stored; an
// existing key without the value gives 0, not stored; any size is rounded
// up to a multiple of 128 (sizes past the last multiple below 2^32 give
// that multiple instead of wrapping to 0).
uint32_t ReadLogFileDiskBufferSetting();

// What the LogFile component should use: ReadLogFileDiskBufferSetting(),
// except that 0 (a key without the value) becomes 128. A buffer of 0 bytes
// would make every append fail.
uint32_t LogFileDiskBufferSize();

// SetDiskBufferSize: stores the value as a 32-bit number, creating the key
// when needed. Registry failures are not reported.
void StoreDiskBufferSize(uint32_t size);

// Rounds up to a multiple of 128: 0 stays 0, 130 gives 256; never wraps.
uint32_t RoundUpTo128(uint32_t size);

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_SETTINGS_H_
