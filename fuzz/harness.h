// Shared pieces of the fuzz targets: a scratch directory per process whose
// files live in memory, one input split into several parts, control bytes,
// an in-memory byte source for the targets that drive internal units, COM
// plumbing for those that go through the public interfaces, and the table
// of targets that driver.cc picks from.
//
// InitFuzzEnvironment() runs before the first input (LLVMFuzzerInitialize):
// it points the library's settings store at the scratch directory, so that
// no run reads or writes the user's settings or picks up a configured key
// file.
#ifndef CORVANE_FUZZ_HARNESS_H_
#define CORVANE_FUZZ_HARNESS_H_

#include <corvane/corvane.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "stream/byte_source.h"

namespace corvane::fuzz {

// Parts of one input are separated by this text. The seed generator joins
// files with it, and the dictionary (corvane.dict) offers it to the mutator.
inline constexpr std::string_view kPartSeparator = "%%CVRPART%%";

// Creates the per-process scratch directory (removed at exit) and sets
// CORVANE_REGISTRY inside it; clears CORVANE_KEY_FILE. With `in_memory`
// (the targets) the library's files live in an in-memory file system, and
// the scratch file functions below use it; the seed generator, which reads
// back what the library wrote, uses the disk. Idempotent.
void InitFuzzEnvironment(bool in_memory = true);

// ScratchDir()/name.
std::string ScratchPath(const std::string& name);
// Writes `bytes` to ScratchPath(name), replacing any earlier file; returns the
// path. Aborts when the file cannot be written: that is no finding.
std::string WriteScratchFile(const std::string& name, std::span<const uint8_t> bytes);
// Writes the file when `present`, else removes it.
void PlaceScratchFile(const std::string& name, std::span<const uint8_t> bytes, bool present);

// Splits data at every kPartSeparator into exactly `count` parts: missing
// parts are empty, and the last part takes the rest of the input, separators
// included. An input without a separator is part 0 alone, so a plain file is
// a valid input of every file-reading target.
std::vector<std::span<const uint8_t>> SplitInput(const uint8_t* data, size_t size, size_t count);
// Joins parts with kPartSeparator (the seed generator's inverse of SplitInput).
std::vector<uint8_t> JoinParts(const std::vector<std::vector<uint8_t>>& parts);

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

// Moves *pos as a file pointer over `size` bytes moves (the seek of the
// in-memory files): overflow and negative targets fail and leave it.
Status SeekInMemory(int64_t* pos, int64_t size, int64_t distance, platform::SeekOrigin origin,
                    int64_t* new_pos);

// A file held in memory, for detection, the cipher and the hex reader.
// Reads at or past `fail_at` (when not negative) fail with an I/O error.
class MemorySource final : public stream::ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  Status Read(void* dst, uint32_t n, uint32_t* got) override;
  Status Seek(int64_t distance, platform::SeekOrigin origin, int64_t* new_pos) override;
  int64_t position() const { return pos_; }
  int64_t fail_at = -1;

 private:
  std::span<const uint8_t> bytes_;
  int64_t pos_ = 0;
};

// An owned interface pointer, released at the end of the scope.
template <class T>
class Owned {
 public:
  Owned() = default;
  ~Owned() {
    if (p_) p_->Release();
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  void** out() { return reinterpret_cast<void**>(&p_); }

 private:
  T* p_ = nullptr;
};

// A new object of `clsid` asked for `iid`, straight from the class object
// (no registration); null when that fails.
template <class T>
void CreateObject(REFCLSID clsid, REFIID iid, Owned<T>* out) {
  IClassFactory* factory = nullptr;
  if (FAILED(DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return;
  (void)factory->CreateInstance(nullptr, iid, out->out());
  factory->Release();
}

// An owned BSTR of 8-bit text (bytes taken as code units: names and
// comments of the targets are ASCII or arbitrary bytes alike).
class OwnedBstr {
 public:
  explicit OwnedBstr(const std::string& text);
  ~OwnedBstr() { SysFreeString(b_); }
  OwnedBstr(const OwnedBstr&) = delete;
  OwnedBstr& operator=(const OwnedBstr&) = delete;
  BSTR get() const { return b_; }

 private:
  BSTR b_ = nullptr;
};

// Stops the run with a message: an input broke a property the library
// promises (libFuzzer records the input as a crash).
[[noreturn]] void Violation(const char* what);
#define CORVANE_FUZZ_CHECK(cond)                                    \
  do {                                                              \
    if (!(cond)) ::corvane::fuzz::Violation(__FILE__ ": " #cond);   \
  } while (0)

// One fuzz target: its name without the "_fuzz" suffix and the function
// that runs one input (targets.cc).
struct Target {
  const char* name;
  void (*run)(const uint8_t* data, size_t size);
};
// The target of that name; aborts for an unknown name.
const Target& FindTarget(std::string_view name);

}  // namespace corvane::fuzz

#endif  // CORVANE_FUZZ_HARNESS_H_
