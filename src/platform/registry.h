// The registry: class registration and per-user settings.
//
// On Windows these are the real registry functions. Elsewhere they work on
// the library's own store: one plain-text file (CORVANE_REGISTRY, else
// $XDG_CONFIG_HOME/corvane/registry, else ~/.config/corvane/registry), looked
// up anew at every call, safe for several processes at once.
//
// Key paths use backslashes, relative to the hive; value name "" is the
// key's default (unnamed) value.
#ifndef CORVANE_PLATFORM_REGISTRY_H_
#define CORVANE_PLATFORM_REGISTRY_H_

#include <cstdint>
#include <string>

#include "platform/status.h"

namespace corvane::platform {

enum class Hive { kClassesRoot, kCurrentUser };

// Value types (REG_SZ, REG_BINARY, REG_DWORD).
inline constexpr uint32_t kRegString = 1;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;

namespace registry {

// Opens the key, creating it (and its parents) when missing; *created tells
// whether it had to be created.
Status CreateKey(Hive hive, const std::string& key, bool* created);
bool KeyExists(Hive hive, const std::string& key);
// Create the key if needed and set one value.
Status SetString(Hive hive, const std::string& key, const std::string& name,
                 const std::string& value);
Status SetDword(Hive hive, const std::string& key, const std::string& name, uint32_t value);
// Reads a value's data into data[0..*size). On entry *size is the room in
// data; on success it is the data's length. Missing key or value:
// kErrFileNotFound. Data longer than the room: kErrMoreData (*size then holds
// the length needed). type may be null.
Status QueryValue(Hive hive, const std::string& key, const std::string& name, void* data,
                  uint32_t* size, uint32_t* type);
// Convenience for string values (kErrFileNotFound when missing).
Status QueryString(Hive hive, const std::string& key, const std::string& name,
                   std::string* value);
// Deletes the key with all its subkeys and values; kErrFileNotFound when it
// does not exist.
Status DeleteTree(Hive hive, const std::string& key);
Status DeleteValue(Hive hive, const std::string& key, const std::string& name);

}  // namespace registry
}  // namespace corvane::platform

#endif  // CORVANE_PLATFORM_REGISTRY_H_
