// The blocks that LogFile2 writes and reads, and the header it exchanges
// with its callers.
//
// Block headers and the caller's header structure: stream/block_header.h;
// which generation has which is a row of stream/generations.h.
//
// Bulk block (id 0x51): the header's data length is the caller's data
// length + 4; the header is followed by the 32-bit message count (in the
// row's count order), then the messages:
//
//   | header (16) | count (4) | message 0 | message 1 | ... |
//
// Each message is a 6-byte head (payload length big-endian at bytes 4-5)
// and its payload; it occupies 6 + payload bytes, rounded up to a multiple
// of 4 in the generations whose row says padded.
//
// Raw-record files (4, 6) hold messages back to back without padding; a
// record is delivered with its own length (6 + payload), which is both the
// header's dwDataLength and the number of bytes ReadBlockData delivers.
#ifndef CORVANE_LOGFILE2_LOGFILE2_FORMAT_H_
#define CORVANE_LOGFILE2_LOGFILE2_FORMAT_H_

#include <corvane/corvane.h>

#include <cstdint>

#include "platform/byte_order.h"
#include "stream/block_header.h"
#include "stream/generations.h"

namespace corvane::logfile2 {

using stream::kNanosecondsPerMillisecond;
using stream::kNaturalHeaderSize;
using stream::kPackedHeaderSize;
using stream::kShortBlockHeaderLength;
inline constexpr uint32_t kBlockHeaderLength = stream::kLongBlockHeaderLength;
inline constexpr uint32_t kBulkCountLength = 4;

inline constexpr uint8_t kRecordConnId = 0xFF;  // bulk messages, raw records, bookmarks

// Time stamp modes of WriteBlock: stamp now; stamp now and restart the base.
inline constexpr uint8_t kStampNow = 2;
inline constexpr uint8_t kStampNowAndRestart = 3;

using stream::GenerationOf;

// Byte order of the 16-byte header.
inline ByteOrder HeaderOrder(int version) { return GenerationOf(version).block_order; }
// Byte order of a bulk block's message count.
inline ByteOrder BulkCountOrder(int version) { return GenerationOf(version).count_order; }

// Generations whose bulk messages occupy exactly 6 + payload bytes.
inline bool UnpaddedMessages(int version) { return !GenerationOf(version).padded_messages; }

// Generations that LogFile2 writes.
inline bool WritableVersion(int version) {
  return GenerationOf(version).version == version && stream::Handles(version, stream::kLogFile2Writes);
}

// Generations that carry no block headers: messages are read as records.
inline bool RawRecordVersion(int version) {
  const stream::Generation& g = GenerationOf(version);
  return g.version == version && stream::Handles(version, stream::kLogFile2Reads) &&
         g.block_header_length == 0;
}

// Generations stored as hexadecimal text (data is skipped by decoding).
inline bool HexTextVersion(int version) {
  return GenerationOf(version).kind == stream::FileKind::kHexText;
}

}  // namespace corvane::logfile2

#endif  // CORVANE_LOGFILE2_LOGFILE2_FORMAT_H_
