// The registry through the Win32 registry API.
#include "platform/registry.h"

#include <windows.h>

#include <vector>

#include "platform/win32/last_error.h"

namespace corvane::platform::registry {
namespace {

using win32::RegistryStatus;

HKEY Root(Hive hive) {
  return hive == Hive::kClassesRoot ? HKEY_CLASSES_ROOT : HKEY_CURRENT_USER;
}

// An open key, closed at the end of the scope.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  Status Open(Hive hive, const std::string& path, REGSAM access) {
    return RegistryStatus(RegOpenKeyExA(Root(hive), path.c_str(), 0, access, &key_));
  }
  Status Create(Hive hive, const std::string& path, bool* created) {
    DWORD disposition = 0;
    Status s = RegistryStatus(RegCreateKeyExA(Root(hive), path.c_str(), 0, nullptr,
                                              REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                                              nullptr, &key_, &disposition));
    if (created) *created = s.ok() && disposition == REG_CREATED_NEW_KEY;
    return s;
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

Status SetValue(Hive hive, const std::string& key, const std::string& name, DWORD type,
                const void* data, DWORD size) {
  Key k;
  Status s = k.Create(hive, key, nullptr);
  if (!s.ok()) return s;
  return RegistryStatus(RegSetValueExA(k.get(), name.c_str(), 0, type,
                                       static_cast<const BYTE*>(data), size));
}

}  // namespace

Status CreateKey(Hive hive, const std::string& key, bool* created) {
  Key k;
  return k.Create(hive, key, created);
}

bool KeyExists(Hive hive, const std::string& key) {
  Key k;
  return k.Open(hive, key, KEY_READ).ok();
}

Status SetString(Hive hive, const std::string& key, const std::string& name,
                 const std::string& value) {
  // Stored with its terminator, as REG_SZ values are.
  return SetValue(hive, key, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

Status SetDword(Hive hive, const std::string& key, const std::string& name, uint32_t value) {
  DWORD data = value;
  return SetValue(hive, key, name, REG_DWORD, &data, sizeof data);
}

Status QueryValue(Hive hive, const std::string& key, const std::string& name, void* data,
                  uint32_t* size, uint32_t* type) {
  Key k;
  Status s = k.Open(hive, key, KEY_QUERY_VALUE);
  if (!s.ok()) return s;
  DWORD value_type = 0;
  DWORD value_size = *size;
  s = RegistryStatus(RegQueryValueExA(k.get(), name.c_str(), nullptr, &value_type,
                                      static_cast<BYTE*>(data), &value_size));
  if (s.ok() || s.code() == kErrMoreData) *size = value_size;
  if (s.ok() && type) *type = value_type;
  return s;
}

Status QueryString(Hive hive, const std::string& key, const std::string& name,
                   std::string* value) {
  value->clear();
  // The value may change between the size query and the read; try again.
  for (int attempt = 0; attempt < 4; ++attempt) {
    uint32_t size = 0;
    uint32_t type = 0;
    Status s = QueryValue(hive, key, name, nullptr, &size, &type);
    if (!s.ok()) return s;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return Status::Error(kErrInvalidData);
    std::vector<char> buffer(size + 1, '\0');
    s = QueryValue(hive, key, name, buffer.data(), &size, &type);
    if (s.code() == kErrMoreData) continue;
    if (!s.ok()) return s;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return Status::Error(kErrInvalidData);
    // Up to the first terminator (a value need not have been stored with one).
    value->assign(buffer.data(), size);
    value->resize(value->find('\0') == std::string::npos ? size : value->find('\0'));
    return Status::Ok();
  }
  return Status::Error(kErrMoreData);
}

Status DeleteTree(Hive hive, const std::string& key) {
  // An empty path would name the whole hive.
  if (key.empty()) return Status::Error(kErrInvalidParameter);
  return RegistryStatus(RegDeleteTreeA(Root(hive), key.c_str()));
}

Status DeleteValue(Hive hive, const std::string& key, const std::string& name) {
  Key k;
  Status s = k.Open(hive, key, KEY_SET_VALUE);
  if (!s.ok()) return s;
  return RegistryStatus(RegDeleteValueA(k.get(), name.c_str()));
}

}  // namespace corvane::platform::registry
