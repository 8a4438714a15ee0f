// An in-memory file for detection and the cipher, with injected read failures.
#ifndef CORVANE_TESTS_STREAM_MEMORY_SOURCE_H_
#define CORVANE_TESTS_STREAM_MEMORY_SOURCE_H_

#include <algorithm>
#include <cstring>
#include <vector>

#include "stream/byte_source.h"

namespace corvane::stream::fakes {

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

  Status Read(void* dst, uint32_t n, uint32_t* got) override {
    ++reads;
    *got = 0;
    if (fail_reads_at >= 0 && pos_ >= fail_reads_at) return Status::Error(kErrIoDevice);
    const int64_t left = static_cast<int64_t>(bytes_.size()) - pos_;
    if (left > 0) *got = static_cast<uint32_t>(std::min<int64_t>(n, left));
    if (*got) std::memcpy(dst, bytes_.data() + pos_, *got);
    pos_ += *got;
    return Status::Ok();
  }
  Status Seek(int64_t d, platform::SeekOrigin o, int64_t* np) override {
    const int64_t base = o == platform::SeekOrigin::kBegin ? 0 : o == platform::SeekOrigin::kCurrent ? pos_ : static_cast<int64_t>(bytes_.size());
    if (base + d < 0) return Status::Error(kErrNegativeSeek);
    pos_ = base + d;
    if (np) *np = pos_;
    return Status::Ok();
  }
  int64_t pos() const { return pos_; }
  void set_pos(int64_t p) { pos_ = p; }

  int64_t fail_reads_at = -1;  // reads at or past this offset fail
  int reads = 0;

 private:
  std::vector<uint8_t> bytes_;
  int64_t pos_ = 0;
};

}  // namespace corvane::stream::fakes

#endif  // CORVANE_TESTS_STREAM_MEMORY_SOURCE_H_
