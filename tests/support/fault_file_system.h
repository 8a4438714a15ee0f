// A file system over the real one for tests of internal units: it
// remembers the largest read asked for, and can cut
// writes short as a full disk does (or fail them with another code), and
// make cutting a file back fail.
//
// Install it with platform::ScopedFileSystemOverride.
#ifndef CORVANE_TESTS_SUPPORT_FAULT_FILE_SYSTEM_H_
#define CORVANE_TESTS_SUPPORT_FAULT_FILE_SYSTEM_H_

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/file.h"

namespace corvane::test {

class FaultFileSystem final : public platform::FileSystem {
 public:
  uint32_t largest_read = 0;
  // Bytes that may still be written; -1: any. A write beyond the budget
  // writes what fits and fails with `write_error`.
  int64_t write_budget = -1;
  uint32_t write_error = kErrDiskFull;
  bool fail_cut = false;  // SetEndOfFile fails with an I/O error
  // Creating a file that does not exist, or renaming, fails with access
  // denied, as in a directory whose entries may not change.
  bool fixed_directory = false;

  Status Open(const std::string& path, const platform::OpenOptions& options,
              std::unique_ptr<platform::File>* out, uint32_t* last_error) override {
    std::unique_ptr<platform::File> inner;
    if (fixed_directory && options.disposition != platform::Disposition::kOpenExisting &&
        !std::filesystem::exists(path)) {
      return Status::Error(kErrAccessDenied);
    }
    Status st = real_->Open(path, options, &inner, last_error);
    if (st.ok()) *out = std::make_unique<FaultFile>(std::move(inner), this);
    return st;
  }
  Status Remove(const std::string& path) override { return real_->Remove(path); }
  Status Rename(const std::string& a, const std::string& b, bool replace) override {
    if (fixed_directory) return Status::Error(kErrAccessDenied);
    return real_->Rename(a, b, replace);
  }
  Status BytesPerSector(const std::string& path, uint32_t* bytes) override {
    return real_->BytesPerSector(path, bytes);
  }

 private:
  class FaultFile final : public platform::File {
   public:
    FaultFile(std::unique_ptr<platform::File> f, FaultFileSystem* fs) : f_(std::move(f)), fs_(fs) {}
    Status Read(void* d, uint32_t n, uint32_t* got) override {
      fs_->largest_read = std::max(fs_->largest_read, n);
      return f_->Read(d, n, got);
    }
    Status Write(const void* s, uint32_t n, uint32_t* written) override {
      *written = 0;
      uint32_t allow = n;
      if (fs_->write_budget >= 0) allow = static_cast<uint32_t>(std::min<int64_t>(n, fs_->write_budget));
      Status st = allow > 0 ? f_->Write(s, allow, written) : Status::Ok();
      if (fs_->write_budget >= 0) fs_->write_budget -= *written;
      if (st.ok() && allow < n) return Status::Error(fs_->write_error);
      return st;
    }
    Status Seek(int64_t d, platform::SeekOrigin o, int64_t* p) override { return f_->Seek(d, o, p); }
    Status GetSize(int64_t* s) override { return f_->GetSize(s); }
    Status Flush() override { return f_->Flush(); }
    Status Close() override { return f_->Close(); }
    Status SetEndOfFile() override {
      return fs_->fail_cut ? Status::Error(kErrIoDevice) : f_->SetEndOfFile();
    }

   private:
    std::unique_ptr<platform::File> f_;
    FaultFileSystem* fs_;
  };

  platform::FileSystem* real_ = platform::FileSystem::Real();
};

}  // namespace corvane::test

#endif  // CORVANE_TESTS_SUPPORT_FAULT_FILE_SYSTEM_H_
