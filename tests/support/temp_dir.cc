#include "support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace corvane::test {
namespace fs = std::filesystem;

static std::atomic<int> g_counter{0};

TempDir::TempDir() {
  const char* env = std::getenv("CORVANE_TEST_TMP");
  const fs::path base = env && *env ? fs::path(env) : fs::temp_directory_path() / "corvane-tests";
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::error_code ec;
  fs::create_directories(base, ec);
  do {
    path_ = (base / ("t" + std::to_string(stamp) + "-" + std::to_string(g_counter++))).string();
  } while (!fs::create_directory(path_, ec));
}

TempDir::~TempDir() { std::error_code ec; fs::remove_all(path_, ec); }

std::string TempDir::File(const std::string& name) const { return (fs::path(path_) / name).string(); }

// A test that looks at a file must not disturb the library under test: on
// Windows the file is opened sharing everything, delete included, so that a
// rename or deletion by the library at that moment still succeeds.
std::vector<uint8_t> ReadFileBytes(const std::string& path) {
#ifdef _WIN32
  std::vector<uint8_t> bytes;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return bytes;
  uint8_t chunk[65536];
  DWORD got = 0;
  while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  CloseHandle(h);
  return bytes;
#else
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
#endif
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) { std::error_code ec; return fs::exists(path, ec); }

int64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto n = fs::file_size(path, ec);
  return ec ? -1 : static_cast<int64_t>(n);
}

}  // namespace corvane::test
