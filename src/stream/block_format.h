// Block headers in log files, and the header structure that the LogFile and
// LogFile2 components exchange with their callers.
//
// 16-byte form, generations 1 (e1.01) and 9 (u1.02) big-endian, 7 (e1.02)
// and 8 (1.02) little-endian:
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
// 12-byte form, generations 2 (V 01.00), 3 (e1.00) and 5 (hex text), always
// big-endian; read only. Its time is in milliseconds and reaches callers in
// nanoseconds, with time stamp mode 1:
//
//   0        2      3      4              8              12
//   | id     | conn | 0    | time (ms)    | data length  |
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
#ifndef CORVANE_STREAM_BLOCK_FORMAT_H_
#define CORVANE_STREAM_BLOCK_FORMAT_H_

#include <corvane/corvane.h>

#include <cstdint>

#include "platform/byte_order.h"

namespace corvane::stream {

inline constexpr uint32_t kLongBlockHeaderLength = 16;   // generations 1, 7, 8, 9
inline constexpr uint32_t kShortBlockHeaderLength = 12;  // generations 2, 3, 5

inline constexpr uint32_t kNaturalHeaderSize = 24;
inline constexpr uint32_t kPackedHeaderSize = 16;
static_assert(sizeof(LogBlockHeader) == kNaturalHeaderSize);

inline constexpr uint64_t kNanosecondsPerMillisecond = 1000000;

// Byte order of the 16-byte form (and of a bulk block's message count).
inline ByteOrder BlockHeaderOrder(int version) {
  return version == FileVersionCVR_Ve101 || version == FileVersionCVR_Vu102 ? ByteOrder::kBig
                                                                             : ByteOrder::kLittle;
}

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_BLOCK_FORMAT_H_
