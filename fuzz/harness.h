// Shared pieces of the fuzz targets: a scratch directory per process whose
// files live in memory, one input split into several parts, control bytes,
// and the table of targets that driver.cc picks from. The COM plumbing
// (ComPtr, Create, Bstr), the scratch directory (TempDir) and the byte
// source over memory of the targets that drive internal units
// (fakes::MemorySource) are the tests' own.
//
// InitFuzzEnvironment() runs before the first input (LLVMFuzzerInitialize):
// it points the library's settings store at the scratch directory, so that
// no run reads or writes the user's settings or picks up a configured key
// file.
#ifndef CORVANE_FUZZ_HARNESS_H_
#define CORVANE_FUZZ_HARNESS_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "stream/memory_source.h"
#include "support/com_test_util.h"

namespace corvane::fuzz {

using Bytes = std::vector<uint8_t>;
using test::Bstr, test::ComPtr, test::Create, stream::fakes::MemorySource;

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
struct Controls {
  std::span<const uint8_t> bytes;
  size_t at = 0;
  bool empty() const { return at >= bytes.size(); }
  uint8_t Byte() { return at < bytes.size() ? bytes[at++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  uint32_t U32() { return U16() | static_cast<uint32_t>(U16()) << 16; }
  uint64_t U64() { return U32() | static_cast<uint64_t>(U32()) << 32; }
};

// Stops the run with a message: an input broke a property the library
// promises (libFuzzer records the input as a crash).
[[noreturn]] inline void Violation(const std::string& what) {
  std::fprintf(stderr, "property violated: %s\n", what.c_str());
  std::abort();
}
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
