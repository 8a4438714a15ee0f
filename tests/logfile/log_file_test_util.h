// Helpers of the LogFile tests: crafting files byte by byte and driving an
// ILogFile through a whole file.
#ifndef CORVANE_TESTS_LOGFILE_LOG_FILE_TEST_UTIL_H_
#define CORVANE_TESTS_LOGFILE_LOG_FILE_TEST_UTIL_H_

#include <corvane/corvane.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/com_test_util.h"

namespace corvane::test {

using Bytes = std::vector<uint8_t>;

inline void PutBE(Bytes& b, uint64_t v, int n) {
  for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
inline void PutBytes(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// A 60-byte header whose title line carries `tag` ("V 01.00", "V e1.00",
// "V E1.01", ...), line ends LF CR as the first generation writes them.
inline Bytes TitledHeader(const std::string& tag) {
  Bytes h;
  PutText(h, "KRV Binary Log File " + tag + "\n\r");
  PutText(h, "crafted for the LogFile test");
  h.resize(57, ' ');
  PutText(h, "\n\r\x1A");
  return h;
}

// The 12-byte block header of versions 2, 3 and 5.
inline Bytes ShortBlock(uint16_t id, uint8_t conn, uint32_t ms, const Bytes& data) {
  Bytes b;
  PutBE(b, id, 2);
  b.push_back(conn);
  b.push_back(0);
  PutBE(b, ms, 4);
  PutBE(b, data.size(), 4);
  PutBytes(b, data);
  return b;
}

// The 16-byte block header of version 1.
inline Bytes LongBlock(uint16_t id, uint8_t conn, uint8_t mode, uint64_t stamp, const Bytes& data) {
  Bytes b;
  PutBE(b, id, 2);
  b.push_back(conn);
  b.push_back(mode);
  PutBE(b, stamp, 8);
  PutBE(b, data.size(), 4);
  PutBytes(b, data);
  return b;
}

// A raw message record: 6-byte head and payload.
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

inline Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

inline LogBlockHeader MakeHeader(uint16_t id, uint8_t conn, uint8_t mode, uint64_t stamp,
                                 uint32_t length) {
  LogBlockHeader h{};
  h.wBlockID = id;
  h.byConnID = conn;
  h.byTimeStampMode = mode;
  h.qwTimeStamp = stamp;
  h.dwDataLength = length;
  return h;
}

inline HRESULT Write(ILogFile* f, LogBlockHeader h, Bytes data) {
  if (data.empty()) data.push_back(0);  // the method wants a buffer even for 0 bytes
  return f->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, data.data(),
                       static_cast<ULONG>(data.size()));
}

inline HRESULT OpenFile(ILogFile* f, const std::string& path, EnumFileAccessMode mode,
                        EnumFileVersion* version) {
  Bstr bstr(path);
  return f->Open(bstr.get(), mode, version);
}

// One block as read back: the header in natural form and the data.
struct ReadBack {
  LogBlockHeader header{};
  Bytes data;
};

// Reads every block up to the end of the file, data included.
inline std::vector<ReadBack> ReadAll(ILogFile* f) {
  std::vector<ReadBack> blocks;
  for (int guard = 0; guard < 100000; ++guard) {
    ReadBack b;
    ULONG returned = 0;
    LONG eof = 0;
    HRESULT hr = f->ReadBlockHeader(reinterpret_cast<BYTE*>(&b.header), sizeof b.header,
                                    &returned, &eof);
    EXPECT_EQ(hr, S_OK);
    if (FAILED(hr) || eof) break;
    // Bytes the record does not fill stay 0 (made-up headers announce the
    // record length rounded up to 4).
    b.data.assign(b.header.dwDataLength + 1, 0);
    hr = f->ReadBlockData(b.data.data(), b.header.dwDataLength);
    EXPECT_EQ(hr, S_OK);
    if (FAILED(hr)) break;
    b.data.pop_back();
    blocks.push_back(std::move(b));
  }
  TakeError();
  return blocks;
}

}  // namespace corvane::test

#endif  // CORVANE_TESTS_LOGFILE_LOG_FILE_TEST_UTIL_H_
