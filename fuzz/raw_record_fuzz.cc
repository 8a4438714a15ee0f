// Fuzzes the block headers made up for raw message records: the input is
// the bytes ahead of a record (any number of them; the reader hands over at
// most 20).
//
// Properties: a record cut inside its head is refused; otherwise the length
// is the payload length plus the head, the announced length is that rounded
// up to four, and only a whole, long enough record of a stamped kind with
// the stamped resource gets a stamp.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz_input.h"
#include "platform/byte_order.h"
#include "stream/raw_record.h"

using namespace corvane::stream;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto got = static_cast<uint32_t>(std::min<size_t>(size, kRawRecordLookAhead));
  RawRecordBlock block;
  block.data_length = 0xDEADBEEF;
  const bool ok = DecodeRawRecord(data, got, &block);
  CORVANE_FUZZ_CHECK(ok == (got >= kRawRecordHeadLength));
  if (!ok) {
    CORVANE_FUZZ_CHECK(block.data_length == 0xDEADBEEF);  // untouched
    return 0;
  }
  const uint32_t length = corvane::DecodeBE16(data + 4) + 6u;
  CORVANE_FUZZ_CHECK(block.record_length == length);
  CORVANE_FUZZ_CHECK(block.data_length % 4 == 0 && block.data_length >= length &&
                     block.data_length < length + 4);
  CORVANE_FUZZ_CHECK(block.block_id == kRawRecordBlockId && block.conn_id == kRawRecordConnId);
  const bool stamped = got == kRawRecordLookAhead && length >= kRawRecordLookAhead &&
                       data[3] == kStampedResource && IsStampedKind(data[kMessageKindOffset]);
  CORVANE_FUZZ_CHECK(block.time_stamp_mode == (stamped ? 1 : 0));
  if (!stamped) CORVANE_FUZZ_CHECK(block.time_stamp == 0);
  if (stamped) {
    const auto ticks = static_cast<int64_t>(corvane::DecodeBE64(data + kTickStampOffset));
    CORVANE_FUZZ_CHECK(block.time_stamp == TicksToNanoseconds(ticks));
  }
  return 0;
}
