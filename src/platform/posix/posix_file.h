// Files with Windows semantics on a POSIX system.
#ifndef CORVANE_PLATFORM_POSIX_POSIX_FILE_H_
#define CORVANE_PLATFORM_POSIX_POSIX_FILE_H_

#include <memory>
#include <string>

#include "platform/file.h"

namespace corvane::platform {

// Opens `path` as FileSystem::Open describes: Windows dispositions, access
// checks and share modes (see share_lock.h). The share check happens before
// any truncation, so a refused open leaves the file as it was.
Status OpenPosixFile(const std::string& path, const OpenOptions& options,
                     std::unique_ptr<File>* out, uint32_t* last_error);

// Logical sector size of the block device under the file system holding
// `path` (or the current directory for a bare name); 512 where there is no
// block device.
Status LogicalSectorSize(const std::string& path, uint32_t* bytes);

}  // namespace corvane::platform

#endif  // CORVANE_PLATFORM_POSIX_POSIX_FILE_H_
