#include "fuzz_input.h"

#include "memory_file_system.h"
#include "platform/file.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace corvane::fuzz {
namespace {

std::string& Dir() {
  static std::string dir;
  return dir;
}

void RemoveDir() {
  std::error_code ec;
  if (!Dir().empty()) std::filesystem::remove_all(Dir(), ec);
}

}  // namespace

void InitFuzzEnvironment(bool in_memory) {
  if (!Dir().empty()) return;
  if (in_memory) {
    // Installed for the life of the process (never destroyed: the library
    // may still close files from atexit handlers).
    static MemoryFileSystem* files = new MemoryFileSystem;
    static auto* override_files = new platform::ScopedFileSystemOverride(files);
    (void)override_files;
  }
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/corvane-fuzz-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  Dir() = buf.data();
  std::atexit(RemoveDir);
  setenv("CORVANE_REGISTRY", (Dir() + "/registry").c_str(), 1);
  unsetenv("CORVANE_KEY_FILE");
}

const std::string& ScratchDir() { return Dir(); }

std::string ScratchPath(const std::string& name) { return Dir() + "/" + name; }

std::string WriteScratchFile(const std::string& name, std::span<const uint8_t> bytes) {
  const std::string path = ScratchPath(name);
  platform::OpenOptions options;
  options.access = platform::kAccessWrite;
  options.share = platform::kShareRead | platform::kShareWrite | platform::kShareDelete;
  options.disposition = platform::Disposition::kCreateAlways;
  std::unique_ptr<platform::File> file;
  Status st = platform::OpenFile(path, options, &file);
  uint32_t written = 0;
  if (st.ok() && !bytes.empty()) {
    st = file->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written);
  }
  if (!st.ok()) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::abort();
  }
  return path;
}

void RemoveScratchFile(const std::string& name) { (void)platform::RemoveFile(ScratchPath(name)); }

std::vector<std::span<const uint8_t>> SplitInput(const uint8_t* data, size_t size, size_t count) {
  std::vector<std::span<const uint8_t>> parts(count);
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  for (size_t i = 0; i < count; ++i) {
    size_t cut = i + 1 < count ? rest.find(kPartSeparator) : std::string_view::npos;
    std::string_view part = rest.substr(0, cut);
    parts[i] = {reinterpret_cast<const uint8_t*>(part.data()), part.size()};
    if (cut == std::string_view::npos) break;
    rest.remove_prefix(cut + kPartSeparator.size());
  }
  return parts;
}

std::vector<uint8_t> JoinParts(const std::vector<std::vector<uint8_t>>& parts) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out.insert(out.end(), kPartSeparator.begin(), kPartSeparator.end());
    out.insert(out.end(), parts[i].begin(), parts[i].end());
  }
  return out;
}

Status MemorySource::Read(void* dst, uint32_t n, uint32_t* got) {
  *got = 0;
  if (fail_at >= 0 && pos_ >= fail_at) return Status::Error(kErrIoDevice);
  const auto size = static_cast<int64_t>(bytes_.size());
  if (pos_ < size) {
    *got = static_cast<uint32_t>(std::min<int64_t>(n, size - pos_));
    std::memcpy(dst, bytes_.data() + pos_, *got);
  }
  pos_ += *got;
  return Status::Ok();
}

Status SeekInMemory(int64_t* pos, int64_t size, int64_t distance, platform::SeekOrigin origin,
                    int64_t* new_pos) {
  const int64_t base = origin == platform::SeekOrigin::kBegin     ? 0
                       : origin == platform::SeekOrigin::kCurrent ? *pos
                                                                  : size;
  int64_t target = 0;
  if (__builtin_add_overflow(base, distance, &target)) return Status::Error(kErrInvalidParameter);
  if (target < 0) return Status::Error(kErrNegativeSeek);
  *pos = target;
  if (new_pos) *new_pos = target;
  return Status::Ok();
}

Status MemorySource::Seek(int64_t distance, platform::SeekOrigin origin, int64_t* new_pos) {
  return SeekInMemory(&pos_, static_cast<int64_t>(bytes_.size()), distance, origin, new_pos);
}

void Violation(const char* what) {
  std::fprintf(stderr, "property violated: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace corvane::fuzz
