#include "legacy/legacy_format.h"

#include <cstring>

#include "platform/byte_order.h"

namespace corvane::legacy {

const std::array<uint8_t, kFileHeaderSize>& FileHeaderBytes() {
  static const std::array<uint8_t, kFileHeaderSize> bytes = [] {
    std::array<uint8_t, kFileHeaderSize> b{};
    static const char kTitle[] = "KRV Binary Log File V 01.00";     // 27 characters
    static const char kNotice[] = "Corvane binary block log    ";  // 28 characters
    static_assert(sizeof kTitle - 1 == 27 && sizeof kNotice - 1 == 28);
    std::memcpy(b.data(), kTitle, 27);
    b[27] = 0x0A;
    b[28] = 0x0D;
    std::memcpy(b.data() + 29, kNotice, 28);
    b[57] = 0x0A;
    b[58] = 0x0D;
    b[59] = kEndOfHeader;
    return b;
  }();
  return bytes;
}

void EncodeBlockHeader(const BlockHeader& h, uint8_t out[kBlockHeaderSize]) {
  EncodeBE16(out, h.block_id);
  out[2] = h.conn_id;
  out[3] = 0;
  EncodeBE32(out + 4, h.time_stamp);
  EncodeBE32(out + 8, h.data_length);
}

BlockHeader DecodeBlockHeader(const uint8_t in[kBlockHeaderSize]) {
  BlockHeader h;
  h.block_id = DecodeBE16(in);
  h.conn_id = in[2];
  h.time_stamp = DecodeBE32(in + 4);
  h.data_length = DecodeBE32(in + 8);
  return h;
}

}  // namespace corvane::legacy
