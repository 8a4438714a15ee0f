// The legacy block file, generation "V 01.00".
//
// File header (60 bytes as written; readers accept any header that holds the
// version tag before its first 0x1A byte, found within the first 2000 bytes):
//
//   0                              27 28 29                           57 58 59
//   +-------------------------------+--+--+-----------------------------+--+--+--+
//   | "KRV Binary Log File V 01.00" |LF|CR| notice text (28 bytes)      |LF|CR|1A|
//   +-------------------------------+--+--+-----------------------------+--+--+--+
//
// Block: a 12-byte header, big-endian, then data-length bytes of data.
//
//   0      2      3      4             8             12
//   +------+------+------+-------------+-------------+----------
//   | id   | conn | 0x00 | tick (ms)   | data length | data ...
//   +------+------+------+-------------+-------------+----------
#ifndef CORVANE_LEGACY_LEGACY_FORMAT_H_
#define CORVANE_LEGACY_LEGACY_FORMAT_H_

#include <array>
#include <cstdint>

namespace corvane::legacy {

inline constexpr uint32_t kFileHeaderSize = 60;
inline constexpr uint32_t kBlockHeaderSize = 12;
inline constexpr uint32_t kHeaderScanLimit = 2000;
inline constexpr uint8_t kEndOfHeader = 0x1A;
inline constexpr char kVersionTag[] = "V 01.00";

struct BlockHeader {
  uint16_t block_id = 0;
  uint8_t conn_id = 0;
  uint32_t time_stamp = 0;  // system tick count in milliseconds
  uint32_t data_length = 0;
};

// The 60 header bytes that every new file starts with.
const std::array<uint8_t, kFileHeaderSize>& FileHeaderBytes();

void EncodeBlockHeader(const BlockHeader& header, uint8_t out[kBlockHeaderSize]);
BlockHeader DecodeBlockHeader(const uint8_t in[kBlockHeaderSize]);

}  // namespace corvane::legacy

#endif  // CORVANE_LEGACY_LEGACY_FORMAT_H_
