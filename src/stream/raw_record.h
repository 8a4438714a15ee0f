// Block headers made up for raw message records (Ferrow records), the
// format that carries no block headers of its own (versions 4 and 6).
//
// A record is a 6-byte head and a payload:
//
//   0       1          2        3          4             6
//   +-------+----------+--------+----------+-------------+--------------//--+
//   | media | receiver | sender | resource | payload len | payload          |
//   +-------+----------+--------+----------+-------------+--------------//--+
//                                  0x7C?      big-endian
//
// A record is stamped when its resource byte is 0x7C, its message kind
// (record byte 9) lies in 0x80..0x84 or 0x87..0x8E, and it is long enough to
// hold the stamp: record bytes 12..19, a big-endian signed count of ticks of
// 1 / 3.6864 microseconds.
//
// The block header handed to callers for a record:
//   wBlockID 0x50, byConnID 0xFF, byTimeStampMode 1 (stamped) or 0,
//   qwTimeStamp ticks * 1000 / 3.6864 in nanoseconds (0 when not stamped),
//   dwDataLength the record length rounded up to a multiple of 4.
// The data of the block is the record itself, head included: the pending
// length is the record length, never more than dwDataLength.
//
// Pure functions: safe from any thread.
#ifndef CORVANE_STREAM_RAW_RECORD_H_
#define CORVANE_STREAM_RAW_RECORD_H_

#include <cstdint>

namespace corvane::stream {

// Bytes a reader looks at ahead of a record to make up its block header.
inline constexpr uint32_t kRawRecordLookAhead = 20;
inline constexpr uint32_t kRawRecordHeadLength = 6;

inline constexpr uint16_t kRawRecordBlockId = 0x50;  // CVR_ID_QUIVOX_MSG
inline constexpr uint8_t kRawRecordConnId = 0xFF;
inline constexpr uint8_t kStampedResource = 0x7C;
inline constexpr uint32_t kMessageKindOffset = 9;
inline constexpr uint32_t kTickStampOffset = 12;
// Nanoseconds per tick, the double nearest to 1000 / 3.6864.
inline constexpr double kNanosecondsPerTick = 271.26736111111114;

struct RawRecordBlock {
  uint16_t block_id = 0;
  uint8_t conn_id = 0;
  uint8_t time_stamp_mode = 0;
  uint64_t time_stamp = 0;      // nanoseconds
  uint32_t data_length = 0;     // announced: record length rounded up to 4
  uint32_t record_length = 0;   // delivered: payload length + 6
};

// Makes up the block header of the record whose first `got` bytes (at most
// kRawRecordLookAhead; fewer at the end of the file) are in `bytes`. False
// when fewer than the 6 head bytes arrived: a record cut inside its head.
// The bytes may run on into the next record; only a record of at least 20
// bytes of which all 20 arrived can be stamped.
bool DecodeRawRecord(const uint8_t* bytes, uint32_t got, RawRecordBlock* out);

// ticks * kNanosecondsPerTick in double precision, truncated toward zero;
// counts beyond the 64-bit range saturate instead of overflowing.
uint64_t TicksToNanoseconds(int64_t ticks);

// True for the message kinds that carry a stamp (0x80..0x84, 0x87..0x8E).
bool IsStampedKind(uint8_t kind);

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_RAW_RECORD_H_
