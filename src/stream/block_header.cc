#include "stream/block_header.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"

namespace corvane::stream {

uint32_t FileBlockHeaderLength(int version) {
  switch (version) {
    case FileVersionCVR_Ve101:
    case FileVersionCVR_Ve102:
    case FileVersionCVR_V0102:
    case FileVersionCVR_Vu102: return kLongBlockHeaderLength;
    case FileVersionCVR_V0100:
    case FileVersionCVR_Ve100:
    case FileVersionCvrConvHex: return kShortBlockHeaderLength;
    default: return 0;
  }
}

void EncodeBlockHeader(int version, const LogBlockHeader& header,
                       uint8_t out[kLongBlockHeaderLength]) {
  const ByteOrder order = BlockHeaderOrder(version);
  Encode16(order, out, header.wBlockID);
  out[2] = header.byConnID;
  out[3] = header.byTimeStampMode;
  Encode64(order, out + 4, header.qwTimeStamp);
  Encode32(order, out + 12, header.dwDataLength);
}

LogBlockHeader DecodeBlockHeader(int version, const uint8_t* raw) {
  LogBlockHeader h{};
  if (FileBlockHeaderLength(version) == kShortBlockHeaderLength) {
    h.wBlockID = DecodeBE16(raw);
    h.byConnID = raw[2];
    h.byTimeStampMode = 1;
    h.qwTimeStamp = uint64_t{DecodeBE32(raw + 4)} * kNanosecondsPerMillisecond;
    h.dwDataLength = DecodeBE32(raw + 8);
    return h;
  }
  const ByteOrder order = BlockHeaderOrder(version);
  h.wBlockID = Decode16(order, raw);
  h.byConnID = raw[2];
  h.byTimeStampMode = raw[3];
  h.qwTimeStamp = Decode64(order, raw + 4);
  h.dwDataLength = Decode32(order, raw + 12);
  return h;
}

LogBlockHeader ReadNaturalHeader(const uint8_t* bytes) {
  LogBlockHeader h;
  std::memcpy(&h, bytes, sizeof h);
  return h;
}

void DeliverHeader(const LogBlockHeader& header, uint8_t* dst, uint32_t room) {
  if (room >= kNaturalHeaderSize) {
    std::memcpy(dst, &header, kNaturalHeaderSize);
    return;
  }
  uint8_t packed[kPackedHeaderSize];
  std::memcpy(packed, &header.wBlockID, 2);
  packed[2] = header.byConnID;
  packed[3] = header.byTimeStampMode;
  std::memcpy(packed + 4, &header.qwTimeStamp, 8);
  std::memcpy(packed + 12, &header.dwDataLength, 4);
  std::memcpy(dst, packed, std::min(room, kPackedHeaderSize));
}

}  // namespace corvane::stream
