// A file system held in memory for the fuzz targets: the library reads and
// writes its logs, companion files and key files there instead of on the
// disk, so that a run spends its time in the readers, not in system calls.
//
// Share modes are not enforced (a run is one object at a time; the indexing
// thread only reads the log and writes its own file). Thread-safe.
#ifndef CORVANE_FUZZ_MEMORY_FILE_SYSTEM_H_
#define CORVANE_FUZZ_MEMORY_FILE_SYSTEM_H_

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file.h"

namespace corvane::fuzz {

class MemoryFileSystem final : public platform::FileSystem {
 public:
  Status Open(const std::string& path, const platform::OpenOptions& options,
              std::unique_ptr<platform::File>* out, uint32_t* last_error) override;
  Status Remove(const std::string& path) override;
  Status Rename(const std::string& from, const std::string& to, bool replace) override;
  Status BytesPerSector(const std::string& path, uint32_t* bytes) override;

  // One file's bytes, shared by every handle open on it.
  struct Node {
    std::mutex mutex;
    std::vector<uint8_t> bytes;
  };

 private:
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Node>> files_;
};

}  // namespace corvane::fuzz

#endif  // CORVANE_FUZZ_MEMORY_FILE_SYSTEM_H_
