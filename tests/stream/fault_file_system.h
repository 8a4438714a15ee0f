// A file system over the real one that counts system reads and can cut
// writes short (a full disk), for the stream's tests.
#ifndef CORVANE_TESTS_STREAM_FAULT_FILE_SYSTEM_H_
#define CORVANE_TESTS_STREAM_FAULT_FILE_SYSTEM_H_

#include <algorithm>
#include <memory>

#include "platform/file.h"

namespace corvane::stream::fakes {

class FaultFileSystem : public platform::FileSystem {
 public:
  int reads = 0;
  int writes = 0;
  int64_t write_budget = -1;  // bytes that may still be written; -1: any

  Status Open(const std::string& path, const platform::OpenOptions& options,
              std::unique_ptr<platform::File>* out, uint32_t* last_error) override {
    std::unique_ptr<platform::File> inner;
    Status st = real_->Open(path, options, &inner, last_error);
    if (st.ok()) *out = std::make_unique<Counted>(std::move(inner), this);
    return st;
  }
  Status Remove(const std::string& path) override { return real_->Remove(path); }
  Status Rename(const std::string& a, const std::string& b, bool r) override {
    return real_->Rename(a, b, r);
  }
  Status BytesPerSector(const std::string& p, uint32_t* b) override {
    return real_->BytesPerSector(p, b);
  }

 private:
  class Counted : public platform::File {
   public:
    Counted(std::unique_ptr<platform::File> f, FaultFileSystem* fs) : f_(std::move(f)), fs_(fs) {}
    Status Read(void* d, uint32_t n, uint32_t* got) override {
      ++fs_->reads;
      return f_->Read(d, n, got);
    }
    Status Write(const void* s, uint32_t n, uint32_t* written) override {
      ++fs_->writes;
      uint32_t allow = n;
      if (fs_->write_budget >= 0) allow = static_cast<uint32_t>(std::min<int64_t>(n, fs_->write_budget));
      Status st = f_->Write(s, allow, written);
      if (fs_->write_budget >= 0) fs_->write_budget -= *written;
      if (st.ok() && allow < n) return Status::Error(kErrDiskFull);
      return st;
    }
    Status Seek(int64_t d, platform::SeekOrigin o, int64_t* p) override { return f_->Seek(d, o, p); }
    Status GetSize(int64_t* s) override { return f_->GetSize(s); }
    Status Flush() override { return f_->Flush(); }
    Status SetEndOfFile() override { return f_->SetEndOfFile(); }

   private:
    std::unique_ptr<platform::File> f_;
    FaultFileSystem* fs_;
  };

  platform::FileSystem* real_ = platform::FileSystem::Real();
};

}  // namespace corvane::stream::fakes

#endif  // CORVANE_TESTS_STREAM_FAULT_FILE_SYSTEM_H_
