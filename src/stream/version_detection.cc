#include "stream/version_detection.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace corvane::stream {
namespace {

using platform::SeekOrigin;

bool LooksLikeFerrowRecords(ByteSource& source) {
  if (!source.Seek(0, SeekOrigin::kBegin, nullptr).ok()) return false;
  for (uint32_t r = 0; r < kFerrowProbeRecords; ++r) {
    uint8_t head[kFerrowHeadLength];
    uint32_t got = 0;
    if (!source.Read(head, sizeof head, &got).ok() || got != sizeof head) return false;
    if (!IsFerrowHead(head)) return false;
    if (!source.Seek(FerrowPayloadLength(head), SeekOrigin::kCurrent, nullptr).ok()) return false;
  }
  return true;
}

Detection Classify(ByteSource& source, TagSet tags) {
  std::string text;
  Detection d;
  d.failure = source.Seek(0, SeekOrigin::kBegin, nullptr);
  if (!d.failure.ok() || !ReadHeaderText(source, &text, true, &d.failure)) return d;
  bool full = tags == TagSet::kFull;
  d.version = MatchTags(text, full ? FullTagSet() : ReducedTagSet());
  if (full) d.index_sub_version = ParseIndexSubVersion(text);
  if (d.version == FileVersionUnknown) d.version = ClassifyHexDump(text);
  if (d.version == FileVersionUnknown && LooksLikeFerrowRecords(source)) {
    d.version = FileVersionFerrow;
  }
  return d;
}

}  // namespace

bool ReadHeaderText(ByteSource& source, std::string* text, bool end_at_carriage_return,
                    Status* failure) {
  // Read in pieces (not byte by byte): the text is the same either way and
  // a byte per system call is slow.
  uint8_t chunk[256];
  while (text->size() < kScanLimit) {
    uint32_t want = static_cast<uint32_t>(std::min<size_t>(sizeof chunk, kScanLimit - text->size()));
    uint32_t got = 0;
    Status st = source.Read(chunk, want, &got);
    if (!st.ok() && failure) *failure = st;
    if (!st.ok() || got == 0) return false;
    for (uint32_t i = 0; i < got; ++i) {
      text->push_back(static_cast<char>(chunk[i]));
      if ((end_at_carriage_return && chunk[i] == kCarriageReturn) || chunk[i] == kHeaderEnd) {
        return true;
      }
    }
  }
  return false;
}

Detection DetectVersion(ByteSource& source, TagSet tags) {
  int64_t start = 0;
  Detection found;
  found.failure = source.Tell(&start);
  if (!found.failure.ok()) return found;
  found = Classify(source, tags);
  Status back = source.Seek(start, SeekOrigin::kBegin, nullptr);
  if (!back.ok()) {
    found.version = FileVersionUnknown;
    found.failure = back;
  }
  return found;
}

}  // namespace corvane::stream
