// Block headers between file bytes and the caller's LogBlockHeader.
//
// Pure functions: safe from any thread.
#ifndef CORVANE_LOGFILE_BLOCK_HEADER_H_
#define CORVANE_LOGFILE_BLOCK_HEADER_H_

#include <corvane/corvane.h>

#include <cstdint>

#include "logfile/log_file_format.h"

namespace corvane::logfile {

// Bytes of file block header that `version` has: 16 for 1; 12 for 2, 3, 5;
// 0 for the versions whose headers are made up from records.
uint32_t FileBlockHeaderLength(int version);

// Decodes a 16-byte (version 1) or 12-byte (versions 2, 3, 5) block header.
// The 12-byte form always reports time stamp mode 1 and turns its
// milliseconds into nanoseconds.
LogBlockHeader DecodeFileBlockHeader(int version, const uint8_t* raw);

// The 16-byte big-endian form that WriteBlock stores.
void EncodeLongBlockHeader(const LogBlockHeader& header, uint8_t out[kLongBlockHeaderLength]);

// The caller's structure read from its natural 24-byte layout.
LogBlockHeader ReadNaturalHeader(const uint8_t* bytes);

// Writes the header for a caller who gave `room` bytes: the natural form
// when room is 24 or more, else the packed 16-byte form, of which only the
// first `room` bytes when room is below 16. Never writes past `room`.
void DeliverHeader(const LogBlockHeader& header, uint8_t* dst, uint32_t room);

}  // namespace corvane::logfile

#endif  // CORVANE_LOGFILE_BLOCK_HEADER_H_
