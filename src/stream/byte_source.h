// The small file surface that detection, the cipher and the hex reader need:
// read at the file pointer and move it.
//
// The stream hands them its read-ahead file; the LogFile component hands
// them its own handle through FileByteSource (or a ReadAheadFile of its own).
// Not thread-safe: one caller at a time, as for the file beneath.
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

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_BYTE_SOURCE_H_
