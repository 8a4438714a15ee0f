// Logical sector size of the disk under a path, from the block device's
// queue attributes in sysfs.
#include <limits.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/posix/errno_status.h"
#include "platform/posix/syscalls.h"
#include "platform/posix/posix_file.h"

namespace corvane::platform {
namespace {

constexpr uint32_t kDefaultSectorSize = 512;

bool ReadSysNumber(const std::string& file, uint32_t* value) {
  std::ifstream in(file);
  unsigned long v = 0;
  if (!(in >> v)) return false;
  // Anything else than a power of two from 512 to 64 KiB is not a sector.
  if (v < 512 || v > 65536 || (v & (v - 1)) != 0) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

// The device that holds `path`, or the directory it would be created in.
Status DeviceOf(const std::string& path, dev_t* dev) {
  const std::string place = path.empty() ? std::string(".") : path;
  struct stat st;
  if (Sys().stat(place.c_str(), &st) == 0) {
    *dev = st.st_dev;
    return Status::Ok();
  }
  if (errno != ENOENT) return ErrnoStatus(errno, place);
  size_t slash = place.find_last_of('/');
  std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : place.substr(0, slash);
  if (Sys().stat(parent.c_str(), &st) != 0) return ErrnoStatus(errno, place);
  *dev = st.st_dev;
  return Status::Ok();
}

}  // namespace

Status LogicalSectorSize(const std::string& path, uint32_t* bytes) {
  dev_t dev;
  Status s = DeviceOf(path, &dev);
  if (!s.ok()) return s;
  *bytes = kDefaultSectorSize;

  char link[64];
  std::snprintf(link, sizeof link, "/sys/dev/block/%u:%u", ::major(dev), ::minor(dev));
  char resolved[PATH_MAX];
  // No entry: tmpfs, overlay, network and other file systems without a
  // block device of their own.
  if (!::realpath(link, resolved)) return Status::Ok();
  const std::string device = resolved;
  // A partition has no queue of its own; its disk is the parent directory.
  if (!ReadSysNumber(device + "/queue/logical_block_size", bytes)) {
    ReadSysNumber(device + "/../queue/logical_block_size", bytes);
  }
  return Status::Ok();
}

}  // namespace corvane::platform
