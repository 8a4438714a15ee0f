// The one record decoder of LogFile and LogFile2: the steps both readers
// take at the start of a record, on a source that delivers decoded bytes
// (deciphered, or decoded from hex text) at its pointer.
//
//   - a block header (12 or 16 bytes by the generation table) cut short by
//     the end of the file is damage, not the end of the log: the pointer
//     returns to where the header began, so every later read finds it again
//     (whole, once a recorder still writing has written the rest);
//   - a raw message record gets a made-up header (raw_record.h) from the
//     bytes ahead of it, and the pointer returns to its start, since its data
//     is the record itself;
//   - unread data of hex text is skipped by decoding it, since positions in
//     the text are not decoded bytes.
//
// Not thread-safe; the caller holds the lock that guards the source.
#ifndef CORVANE_STREAM_RECORD_DECODER_H_
#define CORVANE_STREAM_RECORD_DECODER_H_

#include <corvane/corvane.h>

#include <cstdint>

#include "platform/status.h"
#include "stream/block_header.h"
#include "stream/byte_source.h"
#include "stream/raw_record.h"

namespace corvane::stream {

// What a reader found at the start of a record.
enum class RecordStart {
  kRecord,  // a whole header (or record head)
  kEnd,     // nothing left: the end of the log
  kCut,     // the file ends inside it: damage
};

// The two functions below are templates on the source, so that a reader
// whose source is a final class (LogFile2's stream) pays no virtual call on
// its hot path; any ByteSource serves.

// Reads the file block header of `version` at the pointer into *header:
// where the source holds it whole, in place (ByteSource::BytesAhead). A
// failed read or move fails; *found tells the rest.
template <typename Source>
Status ReadBlockHeaderAt(Source& source, int version, LogBlockHeader* header,
                         RecordStart* found) {
  const uint32_t length = FileBlockHeaderLength(version);
  if (const uint8_t* at_hand = nullptr; length > 0 && source.BytesAhead(&at_hand) >= length) {
    *header = DecodeBlockHeader(version, at_hand);
    source.PassBytes(length);
    *found = RecordStart::kRecord;
    return Status::Ok();
  }
  int64_t start = 0;
  Status st = source.Seek(0, platform::SeekOrigin::kCurrent, &start);
  if (!st.ok()) return st;
  uint8_t raw[kLongBlockHeaderLength] = {};
  uint32_t got = 0;
  st = source.Read(raw, length, &got);
  if (!st.ok()) return st;
  *found = got == 0 ? RecordStart::kEnd : got < length ? RecordStart::kCut : RecordStart::kRecord;
  if (*found == RecordStart::kCut) (void)source.Seek(start, platform::SeekOrigin::kBegin, nullptr);
  *header = DecodeBlockHeader(version, raw);
  return Status::Ok();
}

// Makes up the header of the raw record at the pointer (*record) and moves
// the pointer back to the record's start. A failed read or move fails.
template <typename Source>
Status ReadRawRecordAt(Source& source, RawRecordBlock* record, RecordStart* found) {
  int64_t start = 0;
  Status st = source.Seek(0, platform::SeekOrigin::kCurrent, &start);
  if (!st.ok()) return st;
  uint8_t ahead[kRawRecordLookAhead] = {};
  uint32_t got = 0;
  st = source.Read(ahead, sizeof ahead, &got);
  if (!st.ok()) return st;
  st = source.Seek(start, platform::SeekOrigin::kBegin, nullptr);
  if (!st.ok()) return st;
  *found = got == 0                               ? RecordStart::kEnd
           : DecodeRawRecord(ahead, got, record) ? RecordStart::kRecord
                                                  : RecordStart::kCut;  // inside its head
  return Status::Ok();
}

// Skips n decoded bytes of hex text by decoding them; the end of the text
// ends the skip. A failed read fails.
Status SkipHexText(ByteSource& source, uint32_t n);

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_RECORD_DECODER_H_
