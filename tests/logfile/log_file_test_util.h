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
#include "support/log_bytes.h"

namespace corvane::test {

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
