#include "logfile/block_header.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"

namespace corvane::logfile {

uint32_t FileBlockHeaderLength(int version) {
  switch (version) {
    case FileVersionCVR_Ve101: return kLongBlockHeaderLength;
    case FileVersionCVR_V0100:
    case FileVersionCVR_Ve100:
    case FileVersionCvrConvHex: return kShortBlockHeaderLength;
    default: return 0;
  }
}

LogBlockHeader DecodeFileBlockHeader(int version, const uint8_t* raw) {
  LogBlockHeader h{};
  h.wBlockID = DecodeBE16(raw);
  h.byConnID = raw[2];
  if (version == FileVersionCVR_Ve101) {
    h.byTimeStampMode = raw[3];
    h.qwTimeStamp = DecodeBE64(raw + 4);
    h.dwDataLength = DecodeBE32(raw + 12);
  } else {
    h.byTimeStampMode = 1;
    h.qwTimeStamp = uint64_t{DecodeBE32(raw + 4)} * kNanosecondsPerMillisecond;
    h.dwDataLength = DecodeBE32(raw + 8);
  }
  return h;
}

void EncodeLongBlockHeader(const LogBlockHeader& header, uint8_t out[kLongBlockHeaderLength]) {
  EncodeBE16(out, header.wBlockID);
  out[2] = header.byConnID;
  out[3] = header.byTimeStampMode;
  EncodeBE64(out + 4, header.qwTimeStamp);
  EncodeBE32(out + 12, header.dwDataLength);
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

}  // namespace corvane::logfile
