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
#include "stream/byte_source.h"
#include "stream/raw_record.h"

namespace corvane::stream {

// What a reader found at the start of a record.
enum class RecordStart {
  kRecord,  // a whole header (or record head)
  kEnd,     // nothing left: the end of the log
  kCut,     // the file ends inside it: damage
};

// Reads the file block header of `version` at the pointer into *header.
// A failed read or move fails; *found tells the rest.
Status ReadBlockHeaderAt(ByteSource& source, int version, LogBlockHeader* header,
                         RecordStart* found);

// Makes up the header of the raw record at the pointer (*record) and moves
// the pointer back to the record's start. A failed read or move fails.
Status ReadRawRecordAt(ByteSource& source, RawRecordBlock* record, RecordStart* found);

// Skips n decoded bytes of hex text by decoding them; the end of the text
// ends the skip. A failed read fails.
Status SkipHexText(ByteSource& source, uint32_t n);

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_RECORD_DECODER_H_
