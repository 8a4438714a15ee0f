#include "harness.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "platform/file.h"

namespace corvane::fuzz {
namespace {

using platform::Disposition;
using platform::SeekOrigin;

// Files larger than this are refused as a full disk: an input that makes
// the library write without end is caught by the readers' own checks, not
// by the memory of the fuzzing machine.
constexpr size_t kMaxFileSize = size_t{64} << 20;

// One file's bytes, shared by every handle open on it.
struct Node {
  std::mutex mutex;
  std::vector<uint8_t> bytes;
};

class MemoryFile final : public platform::File {
 public:
  MemoryFile(std::shared_ptr<Node> node, uint32_t access) : node_(std::move(node)), access_(access) {}

  Status Read(void* dst, uint32_t n, uint32_t* got) override {
    *got = 0;
    if (!(access_ & platform::kAccessRead)) return Status::Error(kErrAccessDenied);
    std::lock_guard<std::mutex> hold(node_->mutex);
    const auto size = static_cast<int64_t>(node_->bytes.size());
    if (pos_ < size) {
      *got = static_cast<uint32_t>(std::min<int64_t>(n, size - pos_));
      std::memcpy(dst, node_->bytes.data() + pos_, *got);
      pos_ += *got;
    }
    return Status::Ok();
  }
  Status Write(const void* src, uint32_t n, uint32_t* written) override {
    *written = 0;
    if (!(access_ & platform::kAccessWrite)) return Status::Error(kErrAccessDenied);
    std::lock_guard<std::mutex> hold(node_->mutex);
    if (static_cast<uint64_t>(pos_) + n > kMaxFileSize) return Status::Error(kErrDiskFull);
    const size_t end = static_cast<size_t>(pos_) + n;
    if (node_->bytes.size() < end) node_->bytes.resize(end);
    if (n > 0) std::memcpy(node_->bytes.data() + pos_, src, n);
    pos_ = static_cast<int64_t>(end);
    *written = n;
    return Status::Ok();
  }
  Status Seek(int64_t distance, SeekOrigin origin, int64_t* new_pos) override {
    int64_t size = 0;
    (void)GetSize(&size);
    return SeekInMemory(&pos_, size, distance, origin, new_pos);
  }
  Status GetSize(int64_t* size) override {
    std::lock_guard<std::mutex> hold(node_->mutex);
    *size = static_cast<int64_t>(node_->bytes.size());
    return Status::Ok();
  }
  Status Flush() override {
    return access_ & platform::kAccessWrite ? Status::Ok() : Status::Error(kErrAccessDenied);
  }
  Status SetEndOfFile() override {
    if (!(access_ & platform::kAccessWrite)) return Status::Error(kErrAccessDenied);
    if (static_cast<uint64_t>(pos_) > kMaxFileSize) return Status::Error(kErrDiskFull);
    std::lock_guard<std::mutex> hold(node_->mutex);
    node_->bytes.resize(static_cast<size_t>(pos_));
    return Status::Ok();
  }

 private:
  std::shared_ptr<Node> node_;
  uint32_t access_;
  int64_t pos_ = 0;
};

// The library reads and writes its logs, companion files and key files here
// instead of on the disk, so that a run spends its time in the readers, not
// in system calls. Share modes are not enforced (a run is one object at a
// time; the indexing thread only reads the log and writes its own file).
class MemoryFileSystem final : public platform::FileSystem {
 public:
  Status Open(const std::string& path, const platform::OpenOptions& options,
              std::unique_ptr<platform::File>* out, uint32_t* last_error) override {
    if (last_error) *last_error = 0;
    if (path.empty()) return Status::Error(kErrPathNotFound);
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = files_.find(path);
    const bool exists = it != files_.end();
    switch (options.disposition) {
      case Disposition::kCreateNew:
        if (exists) return Status::Error(kErrFileExists);
        break;
      case Disposition::kOpenExisting:
      case Disposition::kTruncateExisting:
        if (!exists) return Status::Error(kErrFileNotFound);
        break;
      case Disposition::kCreateAlways:
      case Disposition::kOpenAlways:
        if (exists && last_error) *last_error = kErrAlreadyExists;
        break;
      default: return Status::Error(kErrInvalidParameter);
    }
    std::shared_ptr<Node> node = exists ? it->second : (files_[path] = std::make_shared<Node>());
    if (exists && (options.disposition == Disposition::kCreateAlways ||
                   options.disposition == Disposition::kTruncateExisting)) {
      std::lock_guard<std::mutex> hold_node(node->mutex);
      node->bytes.clear();
    }
    *out = std::make_unique<MemoryFile>(std::move(node), options.access);
    return Status::Ok();
  }
  Status Remove(const std::string& path) override {
    std::lock_guard<std::mutex> hold(mutex_);
    return files_.erase(path) ? Status::Ok() : Status::Error(kErrFileNotFound);
  }
  Status Rename(const std::string& from, const std::string& to, bool replace) override {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = files_.find(from);
    if (it == files_.end()) return Status::Error(kErrFileNotFound);
    if (!replace && files_.count(to)) return Status::Error(kErrAlreadyExists);
    std::shared_ptr<Node> node = it->second;
    files_.erase(it);
    files_[to] = std::move(node);
    return Status::Ok();
  }
  Status BytesPerSector(const std::string&, uint32_t* bytes) override {
    *bytes = 512;
    return Status::Ok();
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Node>> files_;
};

std::string& Dir() {
  static std::string dir;
  return dir;
}

}  // namespace

void InitFuzzEnvironment(bool in_memory) {
  if (!Dir().empty()) return;
  if (in_memory) {
    // Installed for the life of the process (never destroyed: the library
    // may still close files from atexit handlers).
    static auto* override_files = new platform::ScopedFileSystemOverride(new MemoryFileSystem);
    (void)override_files;
  }
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/corvane-fuzz-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  Dir() = pattern;
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(Dir(), ec);
  });
  setenv("CORVANE_REGISTRY", (Dir() + "/registry").c_str(), 1);
  unsetenv("CORVANE_KEY_FILE");
}

std::string ScratchPath(const std::string& name) { return Dir() + "/" + name; }

std::string WriteScratchFile(const std::string& name, std::span<const uint8_t> bytes) {
  const std::string path = ScratchPath(name);
  platform::OpenOptions options;
  options.access = platform::kAccessWrite;
  options.share = platform::kShareRead | platform::kShareWrite | platform::kShareDelete;
  options.disposition = Disposition::kCreateAlways;
  std::unique_ptr<platform::File> file;
  Status st = platform::OpenFile(path, options, &file);
  uint32_t written = 0;
  if (st.ok() && !bytes.empty()) st = file->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written);
  if (!st.ok()) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::abort();
  }
  return path;
}

void PlaceScratchFile(const std::string& name, std::span<const uint8_t> bytes, bool present) {
  if (present) {
    WriteScratchFile(name, bytes);
  } else {
    (void)platform::RemoveFile(ScratchPath(name));
  }
}

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

Status SeekInMemory(int64_t* pos, int64_t size, int64_t distance, SeekOrigin origin, int64_t* new_pos) {
  const int64_t base = origin == SeekOrigin::kBegin ? 0 : origin == SeekOrigin::kCurrent ? *pos : size;
  int64_t target = 0;
  if (__builtin_add_overflow(base, distance, &target)) return Status::Error(kErrInvalidParameter);
  if (target < 0) return Status::Error(kErrNegativeSeek);
  *pos = target;
  if (new_pos) *new_pos = target;
  return Status::Ok();
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

Status MemorySource::Seek(int64_t distance, SeekOrigin origin, int64_t* new_pos) {
  return SeekInMemory(&pos_, static_cast<int64_t>(bytes_.size()), distance, origin, new_pos);
}

OwnedBstr::OwnedBstr(const std::string& text) {
  std::basic_string<OLECHAR> wide(text.size(), 0);
  for (size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text[i]);
  b_ = SysAllocStringLen(wide.data(), static_cast<uint32_t>(wide.size()));
}

void Violation(const char* what) {
  std::fprintf(stderr, "property violated: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace corvane::fuzz
