// Block headers between file bytes and the caller's LogBlockHeader (see
// block_format.h for the layouts), for the LogFile and LogFile2 components.
//
// Pure functions: safe from any thread.
#ifndef CORVANE_STREAM_BLOCK_HEADER_H_
#define CORVANE_STREAM_BLOCK_HEADER_H_

#include <corvane/corvane.h>

#include <cstdint>

#include "stream/block_format.h"

namespace corvane::stream {

// Bytes of file block header of `version`: 16 for 1, 7, 8, 9; 12 for 2, 3,
// 5; 0 for raw-record files and anything else.
uint32_t FileBlockHeaderLength(int version);

// The 16-byte form in the byte order of `version` (1, 7, 8, 9).
void EncodeBlockHeader(int version, const LogBlockHeader& header,
                       uint8_t out[kLongBlockHeaderLength]);

// Decodes the file block header of `version` (16- or 12-byte form). The
// 12-byte form reports mode 1 and turns its milliseconds into nanoseconds.
LogBlockHeader DecodeBlockHeader(int version, const uint8_t* raw);

// The caller's structure from its natural 24-byte layout.
LogBlockHeader ReadNaturalHeader(const uint8_t* bytes);

// Writes the header for a caller who gave `room` bytes: the natural form
// when room is 24 or more, else the packed 16-byte form, cut to `room`
// bytes when room is below 16. Never writes past `room`.
void DeliverHeader(const LogBlockHeader& header, uint8_t* dst, uint32_t room);

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_BLOCK_HEADER_H_
