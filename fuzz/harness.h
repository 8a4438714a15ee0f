// Shared pieces of the fuzz targets: a scratch directory per process whose
// files live in memory, one input split into several parts, control bytes,
// an in-memory file that also serves as the byte source of the targets that
// drive internal units, and the table of targets that driver.cc picks from.
// The COM plumbing (ComPtr, Create, Bstr) and the scratch directory
// (TempDir) are the tests' own (tests/support).
//
// InitFuzzEnvironment() runs before the first input (LLVMFuzzerInitialize):
// it points the library's settings store at the scratch directory, so that
// no run reads or writes the user's settings or picks up a configured key
// file.
#ifndef CORVANE_FUZZ_HARNESS_H_
#define CORVANE_FUZZ_HARNESS_H_

#include <corvane/corvane.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "stream/byte_source.h"
#include "support/com_test_util.h"

namespace corvane::fuzz {

using Bytes = std::vector<uint8_t>;
using test::Bstr, test::ComPtr, test::Create;

// Parts of one input are separated by this text. The seed generator joins
// files with it, and the dictionary (corvane.dict) offers it to the mutator.
inline constexpr std::string_view kPartSeparator = "%%CVRPART%%";

// Creates the per-process scratch directory (removed at exit) and sets
// CORVANE_REGISTRY inside it; clears CORVANE_KEY_FILE. With `in_memory`
// (the targets) the library's files live in an in-memory file system, and
// the scratch file functions below use it; the seed generator, which reads
// back what the library wrote, uses the disk. Idempotent.
void InitFuzzEnvironment(bool in_memory = true);

// The scratch directory's path of `name`.
std::string ScratchPath(const std::string& name);
// Writes `bytes` to ScratchPath(name), replacing any earlier file, when
// `present`, else removes that file; returns the path. Aborts when the file
// cannot be written: that is no finding.
std::string PutScratchFile(const std::string& name, std::span<const uint8_t> bytes, bool present = true);

// Splits data at every kPartSeparator into exactly `count` parts: missing
// parts are empty, and the last part takes the rest of the input, separators
// included. An input without a separator is part 0 alone, so a plain file is
// a valid input of every file-reading target.
std::vector<std::span<const uint8_t>> SplitInput(const uint8_t* data, size_t size, size_t count);

// Reads control values from a part of the input; yields 0 once it is used up.
class Controls {
 public:
  explicit Controls(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool empty() const { return at_ >= bytes_.size(); }
  uint8_t Byte() { return at_ < bytes_.size() ? bytes_[at_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  uint32_t U32() { return U16() | static_cast<uint32_t>(U16()) << 16; }
  uint64_t U64() { return U32() | static_cast<uint64_t>(U32()) << 32; }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

// Files larger than this are refused as a full disk: an input that makes
// the library write without end is caught by the readers' own checks, not
// by the memory of the fuzzing machine.
inline constexpr size_t kMaxFileSize = size_t{64} << 20;
// Guards the bytes of every in-memory file (the indexing thread reads the
// log and writes its own file while the caller reads).
inline std::mutex g_memory_files;

// A handle on a file held in memory: a file of the in-memory file system
// (its bytes shared by every handle open on it), or on its own a byte
// source over a copy of some bytes, for detection, the cipher and the hex
// reader. Reads at or past `fail_at` (when not negative) fail with an I/O
// error.
class MemoryFile final : public platform::File, public stream::ByteSource {
 public:
  MemoryFile(std::shared_ptr<Bytes> bytes, uint32_t access) : bytes_(std::move(bytes)), access_(access) {}
  explicit MemoryFile(std::span<const uint8_t> bytes)
      : MemoryFile(std::make_shared<Bytes>(bytes.begin(), bytes.end()), platform::kAccessRead) {}

  Status Read(void* dst, uint32_t n, uint32_t* got) override {
    *got = 0;
    if (!(access_ & platform::kAccessRead)) return Status::Error(kErrAccessDenied);
    if (fail_at >= 0 && pos_ >= fail_at) return Status::Error(kErrIoDevice);
    std::lock_guard<std::mutex> hold(g_memory_files);
    const auto size = static_cast<int64_t>(bytes_->size());
    if (pos_ < size) *got = static_cast<uint32_t>(std::min<int64_t>(n, size - pos_));
    if (*got) std::memcpy(dst, bytes_->data() + pos_, *got);
    pos_ += *got;
    return Status::Ok();
  }
  Status Write(const void* src, uint32_t n, uint32_t* written) override {
    *written = 0;
    if (!(access_ & platform::kAccessWrite)) return Status::Error(kErrAccessDenied);
    const size_t end = static_cast<size_t>(pos_) + n;
    if (end > kMaxFileSize) return Status::Error(kErrDiskFull);
    std::lock_guard<std::mutex> hold(g_memory_files);
    if (bytes_->size() < end) bytes_->resize(end);
    if (n > 0) std::memcpy(bytes_->data() + pos_, src, n);
    pos_ = static_cast<int64_t>(end);
    *written = n;
    return Status::Ok();
  }
  // Overflowing and negative targets fail and leave the pointer.
  Status Seek(int64_t distance, platform::SeekOrigin origin, int64_t* new_pos) override {
    int64_t size = 0, target = 0;
    (void)GetSize(&size);
    const int64_t base = origin == platform::SeekOrigin::kBegin ? 0 : origin == platform::SeekOrigin::kCurrent ? pos_ : size;
    if (__builtin_add_overflow(base, distance, &target)) return Status::Error(kErrInvalidParameter);
    if (target < 0) return Status::Error(kErrNegativeSeek);
    pos_ = target;
    if (new_pos) *new_pos = target;
    return Status::Ok();
  }
  Status GetSize(int64_t* size) override {
    std::lock_guard<std::mutex> hold(g_memory_files);
    *size = static_cast<int64_t>(bytes_->size());
    return Status::Ok();
  }
  Status Flush() override { return access_ & platform::kAccessWrite ? Status::Ok() : Status::Error(kErrAccessDenied); }
  Status SetEndOfFile() override {
    if (!(access_ & platform::kAccessWrite)) return Status::Error(kErrAccessDenied);
    if (static_cast<uint64_t>(pos_) > kMaxFileSize) return Status::Error(kErrDiskFull);
    std::lock_guard<std::mutex> hold(g_memory_files);
    bytes_->resize(static_cast<size_t>(pos_));
    return Status::Ok();
  }
  int64_t position() const { return pos_; }
  int64_t fail_at = -1;

 private:
  std::shared_ptr<Bytes> bytes_;
  uint32_t access_;
  int64_t pos_ = 0;
};

// Stops the run with a message: an input broke a property the library
// promises (libFuzzer records the input as a crash).
[[noreturn]] void Violation(const char* what);
#define CORVANE_FUZZ_CHECK(cond)                                    \
  do {                                                              \
    if (!(cond)) ::corvane::fuzz::Violation(__FILE__ ": " #cond);   \
  } while (0)

// The function of the target of that name (without the "_fuzz" suffix) that
// runs one input (targets.cc); aborts for an unknown name.
using TargetFn = void (*)(const uint8_t* data, size_t size);
TargetFn FindTarget(std::string_view name);

}  // namespace corvane::fuzz

#endif  // CORVANE_FUZZ_HARNESS_H_
