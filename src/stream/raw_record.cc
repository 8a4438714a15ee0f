#include "stream/raw_record.h"

#include "platform/byte_order.h"

namespace corvane::stream {

bool IsStampedKind(uint8_t kind) {
  return (kind >= 0x80 && kind <= 0x84) || (kind >= 0x87 && kind <= 0x8E);
}

uint64_t TicksToNanoseconds(int64_t ticks) {
  const double ns = static_cast<double>(ticks) * kNanosecondsPerTick;
  // 2^63 is exact as a double; anything at or past it (either sign) would be
  // undefined behaviour in the conversion.
  constexpr double kLimit = 9223372036854775808.0;
  if (ns >= kLimit) return static_cast<uint64_t>(INT64_MAX);
  if (ns <= -kLimit) return static_cast<uint64_t>(INT64_MIN);
  return static_cast<uint64_t>(static_cast<int64_t>(ns));
}

bool DecodeRawRecord(const uint8_t* bytes, uint32_t got, RawRecordBlock* out) {
  if (got < kRawRecordHeadLength) return false;
  const uint32_t record_length = uint32_t{DecodeBE16(bytes + 4)} + kRawRecordHeadLength;
  RawRecordBlock block;
  block.block_id = kRawRecordBlockId;
  block.conn_id = kRawRecordConnId;
  block.record_length = record_length;
  block.data_length = (record_length + 3u) & ~3u;
  // The stamp lies inside the record itself: a record shorter than the
  // look-ahead would take it from the record behind it.
  const bool stamped = got >= kRawRecordLookAhead && record_length >= kRawRecordLookAhead &&
                       bytes[3] == kStampedResource && IsStampedKind(bytes[kMessageKindOffset]);
  if (stamped) {
    block.time_stamp_mode = 1;
    block.time_stamp =
        TicksToNanoseconds(static_cast<int64_t>(DecodeBE64(bytes + kTickStampOffset)));
  }
  *out = block;
  return true;
}

}  // namespace corvane::stream
