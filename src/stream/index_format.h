// The index file (versions 10 and 11) behind its 128-byte header.
//
//   128  8   index resolution: log messages per index record (1 or more)
//   136  8   indexed record count: log messages counted by a completed pass
//   144  24  record 0, describing log message 1 x resolution
//   168  24  record 1, describing log message 2 x resolution ...
//
//   record:  0       8               16                20         24
//            | message position | block position | to block end | 0 (pad) |
//
// Numbers are little-endian in version 10 and big-endian in version 11
// (the index of a "u" log). Pure data and functions: safe from any thread.
#ifndef CORVANE_STREAM_INDEX_FORMAT_H_
#define CORVANE_STREAM_INDEX_FORMAT_H_

#include <cstdint>

#include "platform/byte_order.h"

namespace corvane::stream {

inline constexpr uint32_t kIndexResolutionOffset = 128;
inline constexpr uint32_t kIndexRecordCountOffset = 136;
inline constexpr uint32_t kIndexFieldsLength = 16;  // both fields, behind the header
inline constexpr uint32_t kIndexRecordLength = 24;

struct IndexRecord {
  uint64_t message_position = 0;  // data of an ordinary block, or a bulk message head
  uint64_t block_position = 0;    // header of the block holding the message
  uint32_t messages_to_block_end = 0;  // 0 for an ordinary block
};

inline bool operator==(const IndexRecord& a, const IndexRecord& b) {
  return a.message_position == b.message_position && a.block_position == b.block_position &&
         a.messages_to_block_end == b.messages_to_block_end;
}

inline void EncodeIndexRecord(ByteOrder order, const IndexRecord& r,
                              uint8_t out[kIndexRecordLength]) {
  Encode64(order, out, r.message_position);
  Encode64(order, out + 8, r.block_position);
  Encode32(order, out + 16, r.messages_to_block_end);
  Encode32(order, out + 20, 0);
}

inline IndexRecord DecodeIndexRecord(ByteOrder order, const uint8_t in[kIndexRecordLength]) {
  IndexRecord r;
  r.message_position = Decode64(order, in);
  r.block_position = Decode64(order, in + 8);
  r.messages_to_block_end = Decode32(order, in + 16);
  return r;
}

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_INDEX_FORMAT_H_
