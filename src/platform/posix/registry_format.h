// The settings store file: a text a person can read and grep.
//
//   ; comment lines are kept
//   [HKEY_CURRENT_USER\Software\Vendor\Product\Settings]
//   "Disk Buffer Size"=dword:128          32-bit number, in decimal
//   "Key File"="/home/me/key \"a\""       string; \ " and control characters
//                                         escaped (\\ \" \n \r \t \xHH)
//   @="default value"                     the key's unnamed value
//   "Blob"=hex:01,ff,20                   binary data
//
// A section names a key by its full path, hive first. Key paths and value
// names are compared without regard to ASCII case and stored as first
// written. Lines that this format does not know are kept as they are, so
// that editing a value never loses someone else's text.
#ifndef CORVANE_PLATFORM_POSIX_REGISTRY_FORMAT_H_
#define CORVANE_PLATFORM_POSIX_REGISTRY_FORMAT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::platform {

struct RegistryValue {
  std::string name;
  uint32_t type = 0;  // kRegString, kRegBinary or kRegDword
  std::string data;   // dword: 4 bytes little-endian; string: without terminator
};

class RegistryDocument {
 public:
  static RegistryDocument Parse(const std::string& text);
  std::string Serialize() const;

  // `key` is a full path ("HKEY_CURRENT_USER\Software\..."). A key exists
  // when it has a section or a subkey has one.
  bool KeyExists(const std::string& key) const;
  // Adds sections for the key and its missing ancestors below the hive;
  // true when the key did not exist before.
  bool CreateKey(const std::string& key);
  const RegistryValue* FindValue(const std::string& key, const std::string& name) const;
  // Creates the key if needed; true when the stored data changed.
  bool SetValue(const std::string& key, const RegistryValue& value);
  // Removes the key and all below it; false when there was nothing.
  bool DeleteTree(const std::string& key);
  // False when the key or value does not exist.
  bool DeleteValue(const std::string& key, const std::string& name);

 private:
  struct Entry {
    bool known = false;  // a parsed value; otherwise `raw` is kept verbatim
    RegistryValue value;
    std::string raw;
  };
  struct Section {
    std::string path;
    std::vector<Entry> entries;
  };

  Section* FindSection(const std::string& key);
  const Section* FindSection(const std::string& key) const;

  std::vector<std::string> preamble_;  // lines before the first section
  std::vector<Section> sections_;
};

// Case-insensitive (ASCII) comparison, as the registry compares names.
bool RegistryNamesEqual(const std::string& a, const std::string& b);

}  // namespace corvane::platform

#endif  // CORVANE_PLATFORM_POSIX_REGISTRY_FORMAT_H_
