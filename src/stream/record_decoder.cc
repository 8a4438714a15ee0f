#include "stream/record_decoder.h"

#include <algorithm>

#include "stream/block_header.h"

namespace corvane::stream {

using platform::SeekOrigin;

Status ReadBlockHeaderAt(ByteSource& source, int version, LogBlockHeader* header,
                         RecordStart* found) {
  const uint32_t length = FileBlockHeaderLength(version);
  int64_t start = 0;
  Status st = source.Tell(&start);
  if (!st.ok()) return st;
  uint8_t raw[kLongBlockHeaderLength] = {};
  uint32_t got = 0;
  st = source.Read(raw, length, &got);
  if (!st.ok()) return st;
  *found = got == 0 ? RecordStart::kEnd : got < length ? RecordStart::kCut : RecordStart::kRecord;
  if (*found == RecordStart::kCut) (void)source.Seek(start, SeekOrigin::kBegin, nullptr);
  *header = DecodeBlockHeader(version, raw);
  return Status::Ok();
}

Status ReadRawRecordAt(ByteSource& source, RawRecordBlock* record, RecordStart* found) {
  int64_t start = 0;
  Status st = source.Tell(&start);
  if (!st.ok()) return st;
  uint8_t ahead[kRawRecordLookAhead] = {};
  uint32_t got = 0;
  st = source.Read(ahead, sizeof ahead, &got);
  if (!st.ok()) return st;
  st = source.Seek(start, SeekOrigin::kBegin, nullptr);
  if (!st.ok()) return st;
  *found = got == 0                               ? RecordStart::kEnd
           : DecodeRawRecord(ahead, got, record) ? RecordStart::kRecord
                                                  : RecordStart::kCut;  // inside its head
  return Status::Ok();
}

Status SkipHexText(ByteSource& source, uint32_t n) {
  uint8_t scratch[1024];
  while (n > 0) {
    const uint32_t want = std::min<uint32_t>(n, sizeof scratch);
    uint32_t got = 0;
    Status st = source.Read(scratch, want, &got);
    if (!st.ok()) return st;
    if (got < want) break;  // the end of the text: nothing left to skip
    n -= got;
  }
  return Status::Ok();
}

}  // namespace corvane::stream
