#include "stream/block_header.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"

namespace corvane::stream {

void EncodeShortBlockHeader(const ShortBlockHeader& h, uint8_t out[kShortBlockHeaderLength]) {
  EncodeBE16(out, h.block_id);
  out[2] = h.conn_id;
  out[3] = 0;
  EncodeBE32(out + 4, h.time_ms);
  EncodeBE32(out + 8, h.data_length);
}

ShortBlockHeader DecodeShortBlockHeader(const uint8_t in[kShortBlockHeaderLength]) {
  ShortBlockHeader h;
  h.block_id = DecodeBE16(in);
  h.conn_id = in[2];
  h.time_ms = DecodeBE32(in + 4);
  h.data_length = DecodeBE32(in + 8);
  return h;
}

void EncodeBlockHeader(int version, const LogBlockHeader& header,
                       uint8_t out[kLongBlockHeaderLength]) {
  const ByteOrder order = GenerationOf(version).block_order;
  Encode16(order, out, header.wBlockID);
  out[2] = header.byConnID;
  out[3] = header.byTimeStampMode;
  Encode64(order, out + 4, header.qwTimeStamp);
  Encode32(order, out + 12, header.dwDataLength);
}

LogBlockHeader DecodeShortAsBlockHeader(const uint8_t* raw) {
  const ShortBlockHeader s = DecodeShortBlockHeader(raw);
  LogBlockHeader h{};
  h.wBlockID = s.block_id;
  h.byConnID = s.conn_id;
  h.byTimeStampMode = 1;
  h.qwTimeStamp = uint64_t{s.time_ms} * kNanosecondsPerMillisecond;
  h.dwDataLength = s.data_length;
  return h;
}

void DeliverPackedHeader(const LogBlockHeader& header, uint8_t* dst, uint32_t room) {
  uint8_t packed[kPackedHeaderSize];
  std::memcpy(packed, &header.wBlockID, 2);
  packed[2] = header.byConnID;
  packed[3] = header.byTimeStampMode;
  std::memcpy(packed + 4, &header.qwTimeStamp, 8);
  std::memcpy(packed + 12, &header.dwDataLength, 4);
  std::memcpy(dst, packed, std::min(room, kPackedHeaderSize));
}

}  // namespace corvane::stream
