#include "platform/posix/syscalls.h"

#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>

namespace corvane::platform {
namespace {

const SyscallTable kSystemCalls = {
    [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
    ::read,
    ::pread,
    ::write,
    ::lseek,
    ::fstat,
    ::stat,
    ::lstat,
    ::ftruncate,
    ::fsync,
    ::close,
    ::rename,
    [](const char* from, const char* to) {
      return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    },
    ::unlink,
    ::flock,
    [](int fd, int command, struct flock* lock) { return ::fcntl(fd, command, lock); },
    [](int fd, int command, int flags) {
      return command == F_GETFL ? ::fcntl(fd, command) : ::fcntl(fd, command, flags);
    },
    ::mkdir,
};

std::atomic<const SyscallTable*> g_table{&kSystemCalls};

}  // namespace

const SyscallTable& Sys() { return *g_table.load(std::memory_order_acquire); }

const SyscallTable& SystemCalls() { return kSystemCalls; }

void SetSyscalls(const SyscallTable* table) {
  g_table.store(table ? table : &kSystemCalls, std::memory_order_release);
}

}  // namespace corvane::platform
