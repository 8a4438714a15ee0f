#include "memory_file_system.h"

#include "fuzz_input.h"

#include <algorithm>
#include <cstring>

namespace corvane::fuzz {
namespace {

using platform::Disposition;
using platform::SeekOrigin;

// Files larger than this are refused as a full disk: an input that makes
// the library write without end is caught by the readers' own checks, not
// by the memory of the fuzzing machine.
constexpr size_t kMaxFileSize = size_t{64} << 20;

class MemoryFile final : public platform::File {
 public:
  MemoryFile(std::shared_ptr<MemoryFileSystem::Node> node, uint32_t access)
      : node_(std::move(node)), access_(access) {}

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
  std::shared_ptr<MemoryFileSystem::Node> node_;
  uint32_t access_;
  int64_t pos_ = 0;
};

}  // namespace

Status MemoryFileSystem::Open(const std::string& path, const platform::OpenOptions& options,
                              std::unique_ptr<platform::File>* out, uint32_t* last_error) {
  if (last_error) *last_error = 0;
  if (path.empty()) return Status::Error(kErrPathNotFound);
  std::lock_guard<std::mutex> hold(mutex_);
  auto it = files_.find(path);
  const bool exists = it != files_.end();
  std::shared_ptr<Node> node = exists ? it->second : nullptr;
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
  if (!node) node = files_[path] = std::make_shared<Node>();
  if (exists && (options.disposition == Disposition::kCreateAlways ||
                 options.disposition == Disposition::kTruncateExisting)) {
    std::lock_guard<std::mutex> hold_node(node->mutex);
    node->bytes.clear();
  }
  *out = std::make_unique<MemoryFile>(std::move(node), options.access);
  return Status::Ok();
}

Status MemoryFileSystem::Remove(const std::string& path) {
  std::lock_guard<std::mutex> hold(mutex_);
  return files_.erase(path) ? Status::Ok() : Status::Error(kErrFileNotFound);
}

Status MemoryFileSystem::Rename(const std::string& from, const std::string& to, bool replace) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto it = files_.find(from);
  if (it == files_.end()) return Status::Error(kErrFileNotFound);
  if (!replace && files_.count(to)) return Status::Error(kErrAlreadyExists);
  std::shared_ptr<Node> node = it->second;
  files_.erase(it);
  files_[to] = std::move(node);
  return Status::Ok();
}

Status MemoryFileSystem::BytesPerSector(const std::string&, uint32_t* bytes) {
  *bytes = 512;
  return Status::Ok();
}

}  // namespace corvane::fuzz
