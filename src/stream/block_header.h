// Block headers between file bytes and the caller's LogBlockHeader, for the
// LogFile, LogFile2 and Corvane components. Which form a generation uses
// and in which byte order is a row of stream/generations.h; the layouts
// are drawn in docs/formats.md:
//
//   16-byte form:  | id (2) | conn (1) | mode (1) | time stamp (8, ns) | data length (4) |
//   12-byte form:  | id (2) | conn (1) | 0x00 (1) | time (4, ms) | data length (4) |  big-endian
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
//
// Pure functions: safe from any thread.
#ifndef CORVANE_STREAM_BLOCK_HEADER_H_
#define CORVANE_STREAM_BLOCK_HEADER_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <cstring>

#include "stream/generations.h"

namespace corvane::stream {

inline constexpr uint32_t kLongBlockHeaderLength = GenerationOf(FileVersionCVR_V0102).block_header_length;
inline constexpr uint32_t kShortBlockHeaderLength = GenerationOf(FileVersionCVR_V0100).block_header_length;

inline constexpr uint32_t kNaturalHeaderSize = 24;
inline constexpr uint32_t kPackedHeaderSize = 16;
static_assert(sizeof(LogBlockHeader) == kNaturalHeaderSize);

inline constexpr uint64_t kNanosecondsPerMillisecond = 1000000;

// Bytes of file block header of `version`: 16, 12, or 0 for raw-record
// files and anything else.
inline uint32_t FileBlockHeaderLength(int version) {
  return GenerationOf(version).block_header_length;
}

// The 12-byte form as it stands in the file (time in milliseconds).
struct ShortBlockHeader {
  uint16_t block_id = 0;
  uint8_t conn_id = 0;
  uint32_t time_ms = 0;
  uint32_t data_length = 0;
};
void EncodeShortBlockHeader(const ShortBlockHeader& header, uint8_t out[kShortBlockHeaderLength]);
ShortBlockHeader DecodeShortBlockHeader(const uint8_t in[kShortBlockHeaderLength]);

// The 12-byte form as a caller receives it: mode 1, the milliseconds
// turned into nanoseconds.
LogBlockHeader DecodeShortAsBlockHeader(const uint8_t* raw);

// The 16-byte form in the byte order of `version` (1, 7, 8, 9).
void EncodeBlockHeader(int version, const LogBlockHeader& header,
                       uint8_t out[kLongBlockHeaderLength]);

// Decodes the file block header of `version` (16- or 12-byte form). Inline:
// it runs once per block read.
inline LogBlockHeader DecodeBlockHeader(int version, const uint8_t* raw) {
  const Generation& g = GenerationOf(version);
  if (g.block_header_length == kShortBlockHeaderLength) return DecodeShortAsBlockHeader(raw);
  LogBlockHeader h{};
  h.wBlockID = Decode16(g.block_order, raw);
  h.byConnID = raw[2];
  h.byTimeStampMode = raw[3];
  h.qwTimeStamp = Decode64(g.block_order, raw + 4);
  h.dwDataLength = Decode32(g.block_order, raw + 12);
  return h;
}

// What a walk over blocks needs of a file block header, read in place: its
// identifier and the length of the data behind it (the last four bytes in
// both forms), in the generation's block byte order.
struct BlockExtent {
  uint16_t block_id;
  uint32_t data_length;
};
inline BlockExtent PeekBlockExtent(ByteOrder order, uint32_t header_length, const uint8_t* raw) {
  return {Decode16(order, raw), Decode32(order, raw + header_length - 4)};
}

// The caller's structure from its natural 24-byte layout.
inline LogBlockHeader ReadNaturalHeader(const uint8_t* bytes) {
  LogBlockHeader h;
  std::memcpy(&h, bytes, sizeof h);
  return h;
}

// Writes the header for a caller who gave `room` bytes: the natural form
// when room is 24 or more, else the packed 16-byte form, cut to `room`
// bytes when room is below 16. Never writes past `room`.
void DeliverPackedHeader(const LogBlockHeader& header, uint8_t* dst, uint32_t room);
inline void DeliverHeader(const LogBlockHeader& header, uint8_t* dst, uint32_t room) {
  if (room < kNaturalHeaderSize) return DeliverPackedHeader(header, dst, room);
  std::memcpy(dst, &header, kNaturalHeaderSize);
}

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_BLOCK_HEADER_H_
