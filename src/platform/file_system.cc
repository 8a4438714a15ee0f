// The current file system: the real one unless a test installed another.
#include <atomic>

#include "platform/file.h"

namespace corvane::platform {
namespace {

// Null stands for FileSystem::Real(), so no static initialisation order
// matters.
std::atomic<FileSystem*> g_current{nullptr};

}  // namespace

FileSystem* FileSystem::Current() {
  FileSystem* fs = g_current.load(std::memory_order_acquire);
  return fs ? fs : Real();
}

ScopedFileSystemOverride::ScopedFileSystemOverride(FileSystem* fs)
    : previous_(g_current.exchange(fs, std::memory_order_acq_rel)) {}

ScopedFileSystemOverride::~ScopedFileSystemOverride() {
  g_current.store(previous_, std::memory_order_release);
}

}  // namespace corvane::platform
