#include "harness.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "support/temp_dir.h"

namespace corvane::fuzz {
namespace {

using platform::Disposition;

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
    std::lock_guard<std::mutex> hold(g_memory_files);
    auto it = files_.find(path);
    const bool exists = it != files_.end();
    const Disposition d = options.disposition;
    if (d > Disposition::kTruncateExisting || d < Disposition::kCreateNew) return Status::Error(kErrInvalidParameter);
    if (d == Disposition::kCreateNew && exists) return Status::Error(kErrFileExists);
    if ((d == Disposition::kOpenExisting || d == Disposition::kTruncateExisting) && !exists) {
      return Status::Error(kErrFileNotFound);
    }
    if ((d == Disposition::kCreateAlways || d == Disposition::kOpenAlways) && exists && last_error) {
      *last_error = kErrAlreadyExists;
    }
    std::shared_ptr<Bytes>& bytes = exists ? it->second : (files_[path] = std::make_shared<Bytes>());
    if (d == Disposition::kCreateAlways || d == Disposition::kTruncateExisting) bytes->clear();
    *out = std::make_unique<MemoryFile>(bytes, options.access);
    return Status::Ok();
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
    std::shared_ptr<Bytes> bytes = it->second;
    files_.erase(it);
    files_[to] = std::move(bytes);
    return Status::Ok();
  }
  Status BytesPerSector(const std::string&, uint32_t* bytes) override {
    *bytes = 512;
    return Status::Ok();
  }

 private:
  std::map<std::string, std::shared_ptr<Bytes>> files_;
};

test::TempDir* g_dir = nullptr;

}  // namespace

void InitFuzzEnvironment(bool in_memory) {
  if (g_dir) return;
  // Installed for the life of the process (never destroyed: the library
  // may still close files from atexit handlers).
  static auto* files = in_memory ? new platform::ScopedFileSystemOverride(new MemoryFileSystem) : nullptr;
  (void)files;
  static test::TempDir dir;  // removed at exit
  g_dir = &dir;
  setenv("CORVANE_REGISTRY", dir.File("registry").c_str(), 1);
  unsetenv("CORVANE_KEY_FILE");
}

std::string ScratchPath(const std::string& name) { return g_dir->File(name); }

std::string PutScratchFile(const std::string& name, std::span<const uint8_t> bytes, bool present) {
  const std::string path = ScratchPath(name);
  if (!present) return (void)platform::RemoveFile(path), path;
  platform::OpenOptions options;
  options.access = platform::kAccessWrite;
  options.share = platform::kShareRead | platform::kShareWrite | platform::kShareDelete;
  options.disposition = Disposition::kCreateAlways;
  std::unique_ptr<platform::File> file;
  Status st = platform::OpenFile(path, options, &file);
  uint32_t written = 0;
  if (st.ok() && !bytes.empty()) st = file->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written);
  if (!st.ok()) Violation(("cannot write " + path).c_str());
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

void Violation(const char* what) {
  std::fprintf(stderr, "property violated: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace corvane::fuzz
