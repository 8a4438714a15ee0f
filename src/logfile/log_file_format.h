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
// Block headers and the caller's header structure: stream/block_format.h.
#ifndef CORVANE_LOGFILE_LOG_FILE_FORMAT_H_
#define CORVANE_LOGFILE_LOG_FILE_FORMAT_H_

#include <corvane/corvane.h>

#include <cstdint>

#include "stream/block_format.h"

namespace corvane::logfile {

inline constexpr uint32_t kFileHeaderLength = 60;
using stream::kLongBlockHeaderLength;   // version 1
using stream::kShortBlockHeaderLength;  // versions 2, 3, 5
inline constexpr uint32_t kMaxRawBlockHeaderLength = 16;

// Largest data length a block header may announce.
inline constexpr uint32_t kMaxBlockDataLength = 32768;

// Milliseconds of the 12-byte form to the nanoseconds callers receive.
using stream::kNanosecondsPerMillisecond;

// The disk buffer grows in steps of this many bytes (a multiple of every
// cipher block size), so buffers tile the file on the cipher grid.
inline constexpr uint32_t kBufferGranule = 128;

}  // namespace corvane::logfile

#endif  // CORVANE_LOGFILE_LOG_FILE_FORMAT_H_
