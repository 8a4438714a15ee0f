// Byte-level helpers for crafting log files in tests: numbers in either
// byte order, text, block headers in the caller's layout, raw message
// records.
#ifndef CORVANE_TESTS_SUPPORT_LOG_BYTES_H_
#define CORVANE_TESTS_SUPPORT_LOG_BYTES_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::test {

using Bytes = std::vector<uint8_t>;

inline void PutBE(Bytes& b, uint64_t v, int n) {
  for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutLE(Bytes& b, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
inline void PutBytes(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// n bytes of a simple pattern that differs with the seed.
inline Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

// A raw message record (also a message of a bulk block): 6-byte head and
// payload.
inline Bytes RawRecord(uint8_t media, uint8_t receiver, uint8_t resource, const Bytes& payload) {
  Bytes r{media, receiver, 0x01, resource};
  PutBE(r, payload.size(), 2);
  PutBytes(r, payload);
  return r;
}

// A stamped record: resource 0x7C, message kind `kind` at record byte 9,
// the tick count at record bytes 12..19.
inline Bytes StampedRecord(uint8_t kind, int64_t ticks) {
  Bytes payload{0xA0, 0xA1, 0xA2, kind, 0xA4, 0xA5};
  PutBE(payload, static_cast<uint64_t>(ticks), 8);
  return RawRecord(0x10, 0xFD, 0x7C, payload);
}

// A header of the first generations: `text`, LF CR, spaces, then LF CR and
// the ^Z at byte `end` (60 bytes in all for the usual 59).
inline Bytes TitledHeader(const std::string& text, size_t end = 59) {
  Bytes b(text.begin(), text.end());
  b.insert(b.end(), {0x0A, 0x0D});
  b.resize(end - 2, ' ');
  b.insert(b.end(), {0x0A, 0x0D, 0x1A});
  return b;
}

inline LogBlockHeader MakeHeader(uint16_t id, uint8_t conn, uint8_t mode, uint64_t stamp, uint32_t length) {
  return LogBlockHeader{id, conn, mode, 0, stamp, length, 0};
}

}  // namespace corvane::test

#endif  // CORVANE_TESTS_SUPPORT_LOG_BYTES_H_
