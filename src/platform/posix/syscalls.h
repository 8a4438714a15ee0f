// The file-system calls of the POSIX layer, made through one table.
//
// Every open, read, pread, write, seek, stat, truncate, sync, close, rename,
// unlink, flock, fcntl and mkdir of the library goes through Sys(), so that
// a test can put a table of its own in place (SetSyscalls) and make any call
// fail: the Nth write with ENOSPC, an unlock with EINTR, a short read. Each
// entry has the system call's signature and its errno convention; the
// variadic open and fcntl take their optional argument explicitly.
//
// The table in use is switched atomically; a test switches it while no
// other thread of the library runs a call, or accepts that calls in flight
// finish on the old one.
#ifndef CORVANE_PLATFORM_POSIX_SYSCALLS_H_
#define CORVANE_PLATFORM_POSIX_SYSCALLS_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace corvane::platform {

struct SyscallTable {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*read)(int fd, void* buf, size_t n);
  ssize_t (*pread)(int fd, void* buf, size_t n, off_t offset);
  ssize_t (*write)(int fd, const void* buf, size_t n);
  off_t (*lseek)(int fd, off_t offset, int whence);
  int (*fstat)(int fd, struct stat* st);
  int (*stat)(const char* path, struct stat* st);
  int (*lstat)(const char* path, struct stat* st);
  int (*ftruncate)(int fd, off_t length);
  int (*fsync)(int fd);
  int (*close)(int fd);
  int (*rename)(const char* from, const char* to);
  int (*rename_noreplace)(const char* from, const char* to);
  int (*unlink)(const char* path);
  int (*flock)(int fd, int operation);
  int (*fcntl_lock)(int fd, int command, struct flock* lock);  // F_OFD_GETLK, F_OFD_SETLK
  int (*fcntl_flags)(int fd, int command, int flags);          // F_GETFL (flags unused), F_SETFL
  int (*mkdir)(const char* path, mode_t mode);
};

// The table in use.
const SyscallTable& Sys();
// The system's own calls.
const SyscallTable& SystemCalls();
// Puts `table` in place (it must outlive its use); null restores the
// system's calls.
void SetSyscalls(const SyscallTable* table);

}  // namespace corvane::platform

#endif  // CORVANE_PLATFORM_POSIX_SYSCALLS_H_
