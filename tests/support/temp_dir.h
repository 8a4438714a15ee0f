// A scratch directory per test, and byte-level file helpers for crafting and
// damaging files.
#ifndef CORVANE_TESTS_SUPPORT_TEMP_DIR_H_
#define CORVANE_TESTS_SUPPORT_TEMP_DIR_H_

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::test {

// Creates a fresh directory (below CORVANE_TEST_TMP when set, else the
// system's temporary directory) and removes it with its content at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path()/name with the platform's separator.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
int64_t FileSize(const std::string& path);  // -1 when missing

}  // namespace corvane::test

#endif  // CORVANE_TESTS_SUPPORT_TEMP_DIR_H_
