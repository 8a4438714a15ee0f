// Byte order helpers: the only place where numbers meet file bytes.
//
// Shift code that works on any host and any alignment. A file version picks
// its byte order once (see ByteOrder) and the rest of the code asks.
#ifndef CORVANE_PLATFORM_BYTE_ORDER_H_
#define CORVANE_PLATFORM_BYTE_ORDER_H_

#include <cstdint>

namespace corvane {

enum class ByteOrder { kLittle, kBig };

inline void EncodeLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void EncodeLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void EncodeLE64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void EncodeBE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void EncodeBE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}
inline void EncodeBE64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (7 - i)));
}

inline uint16_t DecodeLE16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t DecodeLE32(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
inline uint64_t DecodeLE64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
inline uint16_t DecodeBE16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t DecodeBE32(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | p[i];
  return v;
}
inline uint64_t DecodeBE64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

inline void Encode16(ByteOrder o, uint8_t* p, uint16_t v) {
  o == ByteOrder::kBig ? EncodeBE16(p, v) : EncodeLE16(p, v);
}
inline void Encode32(ByteOrder o, uint8_t* p, uint32_t v) {
  o == ByteOrder::kBig ? EncodeBE32(p, v) : EncodeLE32(p, v);
}
inline void Encode64(ByteOrder o, uint8_t* p, uint64_t v) {
  o == ByteOrder::kBig ? EncodeBE64(p, v) : EncodeLE64(p, v);
}
inline uint16_t Decode16(ByteOrder o, const uint8_t* p) {
  return o == ByteOrder::kBig ? DecodeBE16(p) : DecodeLE16(p);
}
inline uint32_t Decode32(ByteOrder o, const uint8_t* p) {
  return o == ByteOrder::kBig ? DecodeBE32(p) : DecodeLE32(p);
}
inline uint64_t Decode64(ByteOrder o, const uint8_t* p) {
  return o == ByteOrder::kBig ? DecodeBE64(p) : DecodeLE64(p);
}

}  // namespace corvane

#endif  // CORVANE_PLATFORM_BYTE_ORDER_H_
