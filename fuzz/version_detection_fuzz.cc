// Fuzzes version detection: the input is a file's content; both tag sets
// run over it from a pointer in the middle of the file.
//
// Properties: the pointer is where it was, the version is in range (the
// reduced set never yields a 1.02 kind), the two sets agree on the versions
// they share, and the answer is the same on a second run.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.h"
#include "stream/version_detection.h"

using corvane::fuzz::MemorySource;
using corvane::stream::DetectVersion;
using corvane::stream::TagSet;

namespace {

bool Shared(EnumFileVersion v) {
  return v == FileVersionCVR_Ve101 || v == FileVersionCVR_V0100 || v == FileVersionCVR_Ve100;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> bytes(data, size);
  const int64_t start = static_cast<int64_t>(size / 2);

  MemorySource source(bytes);
  CORVANE_FUZZ_CHECK(source.Seek(start, corvane::platform::SeekOrigin::kBegin, nullptr).ok());
  const auto full = DetectVersion(source, TagSet::kFull);
  CORVANE_FUZZ_CHECK(source.position() == start);
  const auto reduced = DetectVersion(source, TagSet::kReduced);
  CORVANE_FUZZ_CHECK(source.position() == start);

  CORVANE_FUZZ_CHECK(full.version >= FileVersionUnknown && full.version <= FileVersionINF_Vu102);
  CORVANE_FUZZ_CHECK(reduced.version >= FileVersionUnknown && reduced.version <= FileVersionVantrelHex);
  CORVANE_FUZZ_CHECK(reduced.index_sub_version == 0);
  if (Shared(full.version) || Shared(reduced.version)) {
    CORVANE_FUZZ_CHECK(full.version == reduced.version);
  }

  const auto again = DetectVersion(source, TagSet::kFull);
  CORVANE_FUZZ_CHECK(again.version == full.version &&
                     again.index_sub_version == full.index_sub_version);

  // A source that fails part way: an answer or unknown, never a crash, and
  // the pointer is kept whenever the final move back succeeds.
  MemorySource failing(bytes);
  failing.fail_at = static_cast<int64_t>(size / 3);
  const auto broken = DetectVersion(failing, TagSet::kFull);
  CORVANE_FUZZ_CHECK(broken.version >= FileVersionUnknown &&
                     broken.version <= FileVersionINF_Vu102);
  CORVANE_FUZZ_CHECK(failing.position() == 0);
  return 0;
}
