// The files that LogFile reads and writes, and the block header it hands
// to its callers.
//
// It reads the generations whose rows in stream/generations.h carry
// kLogFileReads (detected with the reduced tag set: 1 to 6) and writes
// those with kLogFileWrites (1: the e1.01 header in its LogFile form, then
// every block as the 16-byte header and its data, enciphered behind the
// header). Layouts: docs/formats.md.
#ifndef CORVANE_LOGFILE_LOG_FILE_FORMAT_H_
#define CORVANE_LOGFILE_LOG_FILE_FORMAT_H_

#include <corvane/corvane.h>

#include <cstdint>

#include "stream/block_header.h"

namespace corvane::logfile {

inline constexpr uint32_t kFileHeaderLength =
    stream::GenerationOf(FileVersionCVR_Ve101).header_length;
using stream::kLongBlockHeaderLength;
using stream::kShortBlockHeaderLength;

// Largest data length a block header may announce.
inline constexpr uint32_t kMaxBlockDataLength = 32768;

// Milliseconds of the 12-byte form to the nanoseconds callers receive.
using stream::kNanosecondsPerMillisecond;

}  // namespace corvane::logfile

#endif  // CORVANE_LOGFILE_LOG_FILE_FORMAT_H_
