// The small file surfaces the stream's mechanisms need. ByteSource is what
// detection, the cipher and the hex reader read from: read at the file
// pointer and move it. ByteSink is what the write buffer writes to: write at
// the file pointer, and cut the file back after a failed write.
//
// The stream hands them its read-ahead file; the LogFile and Corvane
// components hand them their own handle through FileByteSource and
// FileByteSink. Not thread-safe: one caller at a time, as for the file
// beneath.
#ifndef CORVANE_STREAM_BYTE_SOURCE_H_
#define CORVANE_STREAM_BYTE_SOURCE_H_

#include <cstdint>

#include "platform/file.h"
#include "platform/status.h"

namespace corvane::stream {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to n bytes at the file pointer; *got is 0 at the end of the
  // file, which is no error.
  virtual Status Read(void* dst, uint32_t n, uint32_t* got) = 0;
  // Moves the file pointer; new_pos may be null.
  virtual Status Seek(int64_t distance, platform::SeekOrigin origin, int64_t* new_pos) = 0;
  // For reading in place: how many of the bytes Read would deliver next the
  // source already holds in memory (none by default); *data points at them
  // until the next call that reads, writes or moves. PassBytes moves the
  // pointer over n of them.
  virtual uint32_t BytesAhead(const uint8_t** data) const {
    (void)data;
    return 0;
  }
  virtual void PassBytes(uint32_t n) { (void)Seek(n, platform::SeekOrigin::kCurrent, nullptr); }

  Status Tell(int64_t* pos) { return Seek(0, platform::SeekOrigin::kCurrent, pos); }
};

// A platform file as a byte source: every call is a system call.
class FileByteSource final : public ByteSource {
 public:
  explicit FileByteSource(platform::File* file) : file_(file) {}
  Status Read(void* dst, uint32_t n, uint32_t* got) override { return file_->Read(dst, n, got); }
  Status Seek(int64_t distance, platform::SeekOrigin origin, int64_t* new_pos) override {
    return file_->Seek(distance, origin, new_pos);
  }

 private:
  platform::File* file_;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Where the next write lands.
  virtual int64_t position() const = 0;
  // Writes n bytes at the file pointer and moves it by *written, which tells
  // how many reached the file also when the write fails.
  virtual Status Write(const void* src, uint32_t n, uint32_t* written) = 0;
  // Moves the file pointer to `offset` and ends the file there.
  virtual Status CutAt(int64_t offset) = 0;
};

// A platform file as a byte sink. The pointer is tracked here, so asking it
// costs no system call; the file must not be moved by anyone else while the
// sink is in use.
class FileByteSink final : public ByteSink {
 public:
  FileByteSink() = default;
  FileByteSink(platform::File* file, int64_t position) : file_(file), position_(position) {}
  int64_t position() const override { return position_; }
  Status Write(const void* src, uint32_t n, uint32_t* written) override {
    Status st = file_->Write(src, n, written);
    position_ += *written;
    return st;
  }
  Status CutAt(int64_t offset) override {
    Status st = file_->Seek(offset, platform::SeekOrigin::kBegin, nullptr);
    if (!st.ok()) return st;
    position_ = offset;
    return file_->SetEndOfFile();
  }

 private:
  platform::File* file_ = nullptr;
  int64_t position_ = 0;
};

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_BYTE_SOURCE_H_
