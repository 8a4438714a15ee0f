// Byte order helpers: the only place where numbers meet file bytes.
//
// Works on any host and any alignment. A file version picks
// its byte order once (see ByteOrder) and the rest of the code asks.
#ifndef CORVANE_PLATFORM_BYTE_ORDER_H_
#define CORVANE_PLATFORM_BYTE_ORDER_H_

#include <bit>
#include <cstdint>
#include <cstring>

namespace corvane {

enum class ByteOrder { kLittle, kBig };

inline uint16_t ByteSwap(uint16_t v) { return __builtin_bswap16(v); }
inline uint32_t ByteSwap(uint32_t v) { return __builtin_bswap32(v); }
inline uint64_t ByteSwap(uint64_t v) { return __builtin_bswap64(v); }

// Each helper is one load or store plus a byte swap where the orders
// differ; memcpy keeps them free of alignment and aliasing assumptions.
template <typename T>
inline T LoadAs(const uint8_t* p, bool big) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return big == (std::endian::native == std::endian::big) ? v : ByteSwap(v);
}
template <typename T>
inline void StoreAs(uint8_t* p, T v, bool big) {
  if (big != (std::endian::native == std::endian::big)) v = ByteSwap(v);
  std::memcpy(p, &v, sizeof v);
}

inline void EncodeLE16(uint8_t* p, uint16_t v) { StoreAs(p, v, false); }
inline void EncodeLE32(uint8_t* p, uint32_t v) { StoreAs(p, v, false); }
inline void EncodeLE64(uint8_t* p, uint64_t v) { StoreAs(p, v, false); }
inline void EncodeBE16(uint8_t* p, uint16_t v) { StoreAs(p, v, true); }
inline void EncodeBE32(uint8_t* p, uint32_t v) { StoreAs(p, v, true); }
inline void EncodeBE64(uint8_t* p, uint64_t v) { StoreAs(p, v, true); }

inline uint16_t DecodeLE16(const uint8_t* p) { return LoadAs<uint16_t>(p, false); }
inline uint32_t DecodeLE32(const uint8_t* p) { return LoadAs<uint32_t>(p, false); }
inline uint64_t DecodeLE64(const uint8_t* p) { return LoadAs<uint64_t>(p, false); }
inline uint16_t DecodeBE16(const uint8_t* p) { return LoadAs<uint16_t>(p, true); }
inline uint32_t DecodeBE32(const uint8_t* p) { return LoadAs<uint32_t>(p, true); }
inline uint64_t DecodeBE64(const uint8_t* p) { return LoadAs<uint64_t>(p, true); }

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
