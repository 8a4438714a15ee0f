// A file system over the real one that counts every call by family and
// fails a chosen one, as a disk or a directory does: the Nth call of a
// family (or of all calls) fails with an I/O error, a full disk, a short
// write (half the bytes written, then a full disk, as File::Write says) or
// access denied, once or from then on. It can also give the disk a number
// of free bytes, and remembers the largest read and the files opened for
// writing. Thread-safe: the indexing thread goes through it too.
//
// Install it with platform::ScopedFileSystemOverride.
#ifndef CORVANE_TESTS_SUPPORT_FAULT_FILE_SYSTEM_H_
#define CORVANE_TESTS_SUPPORT_FAULT_FILE_SYSTEM_H_

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/file.h"

namespace corvane::test {

enum class Call { kOpen, kRemove, kRename, kRead, kWrite, kSeek, kGetSize, kFlush, kSetEnd, kClose, kAny };
inline const char* Name(Call c) {
  static const char* const names[] = {"Open", "Remove", "Rename", "Read", "Write", "Seek", "GetSize", "Flush", "SetEndOfFile", "Close", "any"};
  return names[static_cast<int>(c)];
}
enum class Fault { kIo, kDiskFull, kShortWrite, kDenied };
inline const char* Name(Fault f) { static const char* const n[] = {"I/O error", "disk full", "short write", "access denied"}; return n[static_cast<int>(f)]; }

class FaultFileSystem final : public platform::FileSystem {
 public:
  // The failing call: the fail_at-th (from 1; 0: none) of `family`, and with
  // `sticky` every later one of it too. Calls count (and fail) only while
  // armed. Free bytes `space` (-1: any): a write beyond them writes what fits
  // and fails with space_error. lost_close: a file written to met a failing
  // Close.
  Call family = Call::kAny;
  Fault fault = Fault::kIo;
  uint64_t fail_at = 0, injected = 0;
  bool sticky = false, lost_close = false;
  std::atomic<bool> armed{true};
  int64_t space = -1;
  uint32_t space_error = kErrDiskFull, largest_read = 0;
  std::set<std::string> opened_for_writing;

  uint64_t calls(Call c) { std::lock_guard<std::mutex> hold(mu_); return counts_[static_cast<int>(c)]; }

  Status Open(const std::string& path, const platform::OpenOptions& options,
              std::unique_ptr<platform::File>* out, uint32_t* last_error) override {
    if (Status st = Hit(Call::kOpen); !st.ok()) return st;
    std::unique_ptr<platform::File> inner;
    Status st = real_->Open(path, options, &inner, last_error);
    if (st.ok()) *out = std::make_unique<FaultFile>(std::move(inner), this);
    std::lock_guard<std::mutex> hold(mu_);
    if (st.ok() && (options.access & platform::kAccessWrite)) opened_for_writing.insert(path);
    return st;
  }
  Status Remove(const std::string& path) override { return Pass(Call::kRemove, [&] { return real_->Remove(path); }); }
  Status Rename(const std::string& a, const std::string& b, bool replace) override { return Pass(Call::kRename, [&] { return real_->Rename(a, b, replace); }); }
  Status BytesPerSector(const std::string& path, uint32_t* bytes) override { return real_->BytesPerSector(path, bytes); }

 private:
  // A call that fails with its fault or goes on to the real one.
  template <class Fn> Status Pass(Call c, Fn real) { Status st = Hit(c); return st.ok() ? real() : st; }
  // Counts a call; the fault it meets, if any (a short write: kErrMoreData).
  Status Hit(Call c) {
    std::lock_guard<std::mutex> hold(mu_);
    if (!armed) return Status::Ok();
    const uint64_t n = ++counts_[static_cast<int>(c)];
    const uint64_t nth = family == Call::kAny ? ++counts_[static_cast<int>(Call::kAny)] : n;
    if ((family != Call::kAny && family != c) || fail_at == 0 || nth < fail_at || (nth > fail_at && !sticky)) return Status::Ok();
    ++injected;
    return Status::Error(fault == Fault::kIo ? kErrIoDevice : fault == Fault::kDenied ? kErrAccessDenied
                         : fault == Fault::kShortWrite && c == Call::kWrite ? kErrMoreData : kErrDiskFull);
  }

  class FaultFile final : public platform::File {
   public:
    FaultFile(std::unique_ptr<platform::File> f, FaultFileSystem* fs) : f_(std::move(f)), fs_(fs) {}
    Status Read(void* d, uint32_t n, uint32_t* got) override {
      *got = 0;
      if (Status st = fs_->Hit(Call::kRead); !st.ok()) return st;
      std::lock_guard<std::mutex> hold(fs_->mu_);
      fs_->largest_read = std::max(fs_->largest_read, n);
      return f_->Read(d, n, got);
    }
    Status Write(const void* s, uint32_t n, uint32_t* written) override {
      *written = 0;
      const Status fault = fs_->Hit(Call::kWrite);
      if (!fault.ok() && fault.code() != kErrMoreData) return fault;
      uint32_t allow = fault.ok() ? n : n / 2;
      if (std::lock_guard<std::mutex> hold(fs_->mu_); fs_->space >= 0) allow = static_cast<uint32_t>(std::min<int64_t>(allow, fs_->space));
      Status st = allow > 0 ? f_->Write(s, allow, written) : Status::Ok();
      wrote_ = wrote_ || *written > 0;
      std::lock_guard<std::mutex> hold(fs_->mu_);
      if (fs_->space >= 0) fs_->space -= *written;
      return !st.ok() ? st : !fault.ok() ? Status::Error(kErrDiskFull) : allow < n ? Status::Error(fs_->space_error) : st;
    }
    Status Seek(int64_t d, platform::SeekOrigin o, int64_t* p) override { return fs_->Pass(Call::kSeek, [&] { return f_->Seek(d, o, p); }); }
    Status GetSize(int64_t* s) override { return fs_->Pass(Call::kGetSize, [&] { return f_->GetSize(s); }); }
    Status Flush() override { return fs_->Pass(Call::kFlush, [&] { return f_->Flush(); }); }
    Status SetEndOfFile() override { return fs_->Pass(Call::kSetEnd, [&] { return f_->SetEndOfFile(); }); }
    // The handle is closed whatever the fault: a failed close loses what the
    // system had not written back.
    Status Close() override {
      Status st = fs_->Hit(Call::kClose), closed = f_->Close();
      std::lock_guard<std::mutex> hold(fs_->mu_);
      fs_->lost_close = fs_->lost_close || (!st.ok() && wrote_);
      return st.ok() ? closed : st;
    }
    std::unique_ptr<platform::File> f_;
    FaultFileSystem* fs_;
    bool wrote_ = false;
  };

  std::mutex mu_;
  uint64_t counts_[static_cast<int>(Call::kAny) + 1] = {};
  platform::FileSystem* real_ = platform::FileSystem::Real();
};

}  // namespace corvane::test

#endif  // CORVANE_TESTS_SUPPORT_FAULT_FILE_SYSTEM_H_
