#include "harness.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/file.h"
#include "support/temp_dir.h"

namespace corvane::fuzz {
namespace {

using platform::Disposition;

// Files larger than this are refused as a full disk: an input that makes
// the library write without end is caught by the readers' own checks, not
// by the memory of the fuzzing machine.
constexpr size_t kMaxFileSize = size_t{64} << 20;
// Guards the bytes of every in-memory file (the indexing thread reads the
// log and writes its own file while the caller reads).
std::mutex g_memory_files;

// A handle on a file of the in-memory file system; its bytes are shared by
// every handle open on it.
class MemoryFile final : public platform::File {
 public:
  MemoryFile(std::shared_ptr<Bytes> bytes, uint32_t access) : bytes_(std::move(bytes)), access_(access) {}

  Status Read(void* dst, uint32_t n, uint32_t* got) override {
    *got = 0;
    if (!(access_ & platform::kAccessRead)) return Status::Error(kErrAccessDenied);
    std::lock_guard<std::mutex> hold(g_memory_files);
    *got = static_cast<uint32_t>(std::clamp<int64_t>(static_cast<int64_t>(bytes_->size()) - pos_, 0, n));
    if (*got) std::memcpy(dst, bytes_->data() + pos_, *got);
    return pos_ += *got, Status::Ok();
  }
  Status Write(const void* src, uint32_t n, uint32_t* written) override {
    *written = 0;
    if (!(access_ & platform::kAccessWrite)) return Status::Error(kErrAccessDenied);
    const size_t end = static_cast<size_t>(pos_) + n;
    if (end > kMaxFileSize) return Status::Error(kErrDiskFull);
    std::lock_guard<std::mutex> hold(g_memory_files);
    if (bytes_->size() < end) bytes_->resize(end);
    if (n > 0) std::memcpy(bytes_->data() + pos_, src, n);
    return pos_ = static_cast<int64_t>(end), *written = n, Status::Ok();
  }
  // Overflowing and negative targets fail and leave the pointer.
  Status Seek(int64_t distance, platform::SeekOrigin origin, int64_t* new_pos) override {
    int64_t size = 0, target = 0; (void)GetSize(&size);
    const int64_t base = origin == platform::SeekOrigin::kBegin ? 0 : origin == platform::SeekOrigin::kCurrent ? pos_ : size;
    if (__builtin_add_overflow(base, distance, &target)) return Status::Error(kErrInvalidParameter);
    if (target < 0) return Status::Error(kErrNegativeSeek);
    if (new_pos) *new_pos = target;
    return pos_ = target, Status::Ok();
  }
  Status GetSize(int64_t* size) override {
    std::lock_guard<std::mutex> hold(g_memory_files);
    return *size = static_cast<int64_t>(bytes_->size()), Status::Ok();
  }
  Status Flush() override { return access_ & platform::kAccessWrite ? Status::Ok() : Status::Error(kErrAccessDenied); }
  Status SetEndOfFile() override {
    if (!(access_ & platform::kAccessWrite)) return Status::Error(kErrAccessDenied);
    if (static_cast<uint64_t>(pos_) > kMaxFileSize) return Status::Error(kErrDiskFull);
    std::lock_guard<std::mutex> hold(g_memory_files);
    return bytes_->resize(static_cast<size_t>(pos_)), Status::Ok();
  }
  Status Close() override { return Status::Ok(); }

 private:
  std::shared_ptr<Bytes> bytes_;
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
    if (path.empty()) return Status::Error(kErrPathNotFound);
    std::lock_guard<std::mutex> hold(g_memory_files);
    auto it = files_.find(path);
    const bool exists = it != files_.end();
    const Disposition d = options.disposition;
    const bool must_exist = d == Disposition::kOpenExisting || d == Disposition::kTruncateExisting;
    if (d == Disposition::kCreateNew && exists) return Status::Error(kErrFileExists);
    if (must_exist && !exists) return Status::Error(kErrFileNotFound);
    if (last_error) *last_error = !must_exist && exists ? kErrAlreadyExists : 0;  // kCreateAlways, kOpenAlways
    std::shared_ptr<Bytes>& bytes = exists ? it->second : (files_[path] = std::make_shared<Bytes>());
    if (d == Disposition::kCreateAlways || d == Disposition::kTruncateExisting) bytes->clear();
    return *out = std::make_unique<MemoryFile>(bytes, options.access), Status::Ok();
  }
  Status Remove(const std::string& path) override {
    std::lock_guard<std::mutex> hold(g_memory_files);
    return files_.erase(path) ? Status::Ok() : Status::Error(kErrFileNotFound);
  }
  Status Rename(const std::string& from, const std::string& to, bool replace) override {
    std::lock_guard<std::mutex> hold(g_memory_files);
    auto it = files_.find(from);
    if (it == files_.end()) return Status::Error(kErrFileNotFound);
    if (!replace && files_.count(to)) return Status::Error(kErrAlreadyExists);
    return files_.insert_or_assign(to, files_.extract(it).mapped()), Status::Ok();
  }
  Status BytesPerSector(const std::string&, uint32_t* bytes) override { return *bytes = 512, Status::Ok(); }

 private:
  std::map<std::string, std::shared_ptr<Bytes>> files_;
};

test::TempDir* g_dir = nullptr;

}  // namespace

void InitFuzzEnvironment(bool in_memory) {
  if (g_dir) return;
  // Installed for the life of the process (never destroyed: the library
  // may still close files from atexit handlers).
  [[maybe_unused]] static auto* files = in_memory ? new platform::ScopedFileSystemOverride(new MemoryFileSystem) : nullptr;
  static test::TempDir dir;  // removed at exit
  g_dir = &dir;
  setenv("CORVANE_REGISTRY", dir.File("registry").c_str(), 1);
  unsetenv("CORVANE_KEY_FILE");
}

std::string ScratchPath(const std::string& name) { return g_dir->File(name); }

std::string PutScratchFile(const std::string& name, std::span<const uint8_t> bytes, bool present) {
  const std::string path = ScratchPath(name);
  if (!present) return (void)platform::RemoveFile(path), path;
  std::unique_ptr<platform::File> file;
  uint32_t written = 0;
  Status st = platform::OpenFile(path, {platform::kAccessWrite, platform::kShareRead | platform::kShareWrite | platform::kShareDelete,
                                        Disposition::kCreateAlways}, &file);
  if (st.ok() && !bytes.empty()) st = file->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written);
  if (!st.ok()) Violation("cannot write " + path);
  return path;
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

}  // namespace corvane::fuzz
