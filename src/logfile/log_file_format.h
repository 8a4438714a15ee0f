// The files that LogFile reads and writes, and the block header it hands
// to its callers.
//
// Versions it reads (detected with the reduced tag set) and how:
//
//   version               bytes read by       block header          first block
//   1 CVR_Ve101           deciphering read    16-byte big-endian    60
//   2 CVR_V0100           plain read          12-byte big-endian    60
//   3 CVR_Ve100           deciphering read    12-byte big-endian    60
//   4 Ferrow              plain read          made up per record    0
//   5 CvrConvHex          hex text            12-byte, hex-decoded  0
//   6 VantrelHex          hex text            made up per record    0
//
// It writes version 1 only: the 60-byte e1.01 header in its LogFile form,
// then every block as the 16-byte big-endian header and the data,
// enciphered from byte 60 on.
//
// File block headers (big-endian):
//
//   12-byte form:  0    2      3     4              8              12
//                  | id | conn | 0   | time (ms)    | data length  |
//   16-byte form:  0    2      3     4                             12             16
//                  | id | conn | mode| time stamp (ns, 64-bit)     | data length  |
//
// LogBlockHeader as callers receive it (host byte order):
//
//   natural, 24 bytes:  0    2      3      4      8               16       20
//                       | id | conn | mode | res1 | time stamp    | length | res2 |
//   packed, 16 bytes:   0    2      3      4                      12       16
//                       | id | conn | mode | time stamp           | length |
//
// The packed form goes to callers whose dwBlockHeaderLength is below 24.
#ifndef CORVANE_LOGFILE_LOG_FILE_FORMAT_H_
#define CORVANE_LOGFILE_LOG_FILE_FORMAT_H_

#include <corvane/corvane.h>

#include <cstdint>

namespace corvane::logfile {

inline constexpr uint32_t kFileHeaderLength = 60;
inline constexpr uint32_t kLongBlockHeaderLength = 16;   // version 1
inline constexpr uint32_t kShortBlockHeaderLength = 12;  // versions 2, 3, 5
inline constexpr uint32_t kMaxRawBlockHeaderLength = 16;

// Largest data length a block header may announce.
inline constexpr uint32_t kMaxBlockDataLength = 32768;

inline constexpr uint32_t kNaturalHeaderSize = 24;
inline constexpr uint32_t kPackedHeaderSize = 16;
static_assert(sizeof(LogBlockHeader) == kNaturalHeaderSize);

// Milliseconds of the 12-byte form to the nanoseconds callers receive.
inline constexpr uint64_t kNanosecondsPerMillisecond = 1000000;

// The disk buffer grows in steps of this many bytes (a multiple of every
// cipher block size), so buffers tile the file on the cipher grid.
inline constexpr uint32_t kBufferGranule = 128;

}  // namespace corvane::logfile

#endif  // CORVANE_LOGFILE_LOG_FILE_FORMAT_H_
