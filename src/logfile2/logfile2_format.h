// The blocks that LogFile2 writes and reads, and the header it exchanges
// with its callers.
//
// File block header, 16 bytes, in the byte order of the log's generation:
// big-endian in 1 (e1.01) and 9 (u1.02), little-endian in 7 (e1.02) and
// 8 (1.02):
//
//   0        2      3      4                              12             16
//   +--------+------+------+------------------------------+--------------+
//   | id     | conn | mode | time stamp (ns, 64-bit)      | data length  |
//   +--------+------+------+------------------------------+--------------+
//
//   e.g. id 0x0102, conn 3, mode 0, stamp 0x0102030405060708, length 5:
//     u1.02:  01 02 03 00 01 02 03 04 05 06 07 08 00 00 00 05
//     1.02:   02 01 03 00 08 07 06 05 04 03 02 01 05 00 00 00
//
// Older generations 2 (V 01.00), 3 (e1.00) and 5 (hex text) carry the
// 12-byte big-endian form, read only:
//
//   0        2      3      4              8              12
//   | id     | conn | 0    | time (ms)    | data length  |
//
// Bulk block (id 0x51): the header's data length is the caller's data
// length + 4; the header is followed by the 32-bit message count (same
// byte order as the header in 1 and 9, little-endian in every other
// generation), then the messages:
//
//   | header (16) | count (4) | message 0 | message 1 | ... |
//
// Each message is a 6-byte head (payload length big-endian at bytes 4-5)
// and its payload; in generations 7 and 8 it occupies 6 + payload bytes,
// in every other generation that size rounded up to a multiple of 4.
//
// Raw-record files (4, 6) hold messages back to back without padding; a
// record is delivered with its own length (6 + payload), which is both the
// header's dwDataLength and the number of bytes ReadBlockData delivers.
//
// LogBlockHeader as callers receive it (host byte order):
//
//   natural, 24 bytes:  0    2      3      4      8               16       20
//                       | id | conn | mode | res1 | time stamp    | length | res2 |
//   packed, 16 bytes:   0    2      3      4                      12       16
//                       | id | conn | mode | time stamp           | length |
//
// The packed form goes to callers whose dwBlockHeaderLength is below 24,
// and never more than dwBlockHeaderLength bytes of it.
#ifndef CORVANE_LOGFILE2_LOGFILE2_FORMAT_H_
#define CORVANE_LOGFILE2_LOGFILE2_FORMAT_H_

#include <corvane/corvane.h>

#include <cstdint>

#include "platform/byte_order.h"

namespace corvane::logfile2 {

inline constexpr uint32_t kBlockHeaderLength = 16;       // generations 1, 7, 8, 9
inline constexpr uint32_t kShortBlockHeaderLength = 12;  // generations 2, 3, 5
inline constexpr uint32_t kBulkCountLength = 4;
inline constexpr uint32_t kNaturalHeaderSize = 24;
inline constexpr uint32_t kPackedHeaderSize = 16;
static_assert(sizeof(LogBlockHeader) == kNaturalHeaderSize);

inline constexpr uint8_t kRecordConnId = 0xFF;  // bulk messages, raw records, bookmarks
inline constexpr uint64_t kNanosecondsPerMillisecond = 1000000;

// Time stamp modes of WriteBlock: stamp now; stamp now and restart the base.
inline constexpr uint8_t kStampNow = 2;
inline constexpr uint8_t kStampNowAndRestart = 3;

// Byte order of the 16-byte header.
inline ByteOrder HeaderOrder(int version) {
  return version == FileVersionCVR_Ve101 || version == FileVersionCVR_Vu102 ? ByteOrder::kBig
                                                                             : ByteOrder::kLittle;
}
// Byte order of a bulk block's message count.
inline ByteOrder BulkCountOrder(int version) { return HeaderOrder(version); }

// Generations whose bulk messages occupy exactly 6 + payload bytes.
inline bool UnpaddedMessages(int version) {
  return version == FileVersionCVR_Ve102 || version == FileVersionCVR_V0102;
}

// Generations that LogFile2 writes.
inline bool WritableVersion(int version) {
  return version == FileVersionCVR_Ve101 || version == FileVersionCVR_Ve102 ||
         version == FileVersionCVR_V0102 || version == FileVersionCVR_Vu102;
}

// Generations that carry no block headers: messages are read as records.
inline bool RawRecordVersion(int version) {
  return version == FileVersionFerrow || version == FileVersionVantrelHex;
}

// Generations stored as hexadecimal text (data is skipped by decoding).
inline bool HexTextVersion(int version) {
  return version == FileVersionCvrConvHex || version == FileVersionVantrelHex;
}

}  // namespace corvane::logfile2

#endif  // CORVANE_LOGFILE2_LOGFILE2_FORMAT_H_
