// Helpers of the LogFile tests: crafted files, and an ILogFile per test in a
// scratch directory.
#ifndef CORVANE_TESTS_LOGFILE_LOG_FILE_TEST_UTIL_H_
#define CORVANE_TESTS_LOGFILE_LOG_FILE_TEST_UTIL_H_

#include <corvane/corvane.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/com_test_util.h"
#include "support/log_bytes.h"
#include "support/temp_dir.h"

namespace corvane::test {

inline constexpr char kTag[] = "LOGFILE";

// A 60-byte header whose title carries `tag` ("V 01.00", "V e1.00", ...),
// line ends LF CR as the first generation writes them.
inline Bytes TitledHeader(const std::string& tag) {
  Bytes h;
  PutText(h, "KRV Binary Log File " + tag + "\n\r");
  PutText(h, "crafted for the LogFile test");
  h.resize(57, ' ');
  PutText(h, "\n\r\x1A");
  return h;
}

// A block with the 12-byte header (versions 2, 3, 5) or the 16-byte one
// (version 1), big-endian.
inline Bytes ShortBlock(uint16_t id, uint8_t conn, uint32_t ms, const Bytes& data) {
  Bytes b;
  PutBE(b, id, 2);
  PutBE(b, uint32_t{conn} << 8, 2);
  PutBE(b, ms, 4);
  PutBE(b, data.size(), 4);
  PutBytes(b, data);
  return b;
}
inline Bytes LongBlock(uint16_t id, uint8_t conn, uint8_t mode, uint64_t stamp, const Bytes& data) {
  Bytes b;
  PutBE(b, id, 2);
  PutBE(b, uint32_t{conn} << 8 | mode, 2);
  PutBE(b, stamp, 8);
  PutBE(b, data.size(), 4);
  PutBytes(b, data);
  return b;
}

// Writes a block of `data` (the header's length is set to its size).
inline HRESULT Write(ILogFile* f, LogBlockHeader h, Bytes data) {
  h.dwDataLength = static_cast<ULONG>(data.size());
  if (data.empty()) data.push_back(0);  // the method wants a buffer even for 0 bytes
  return f->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, data.data(), h.dwDataLength);
}

inline HRESULT OpenFile(ILogFile* f, const std::string& path, EnumFileAccessMode mode,
                        EnumFileVersion* version) {
  return f->Open(Bstr(path).get(), mode, version);
}

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
    HRESULT hr = f->ReadBlockHeader(reinterpret_cast<BYTE*>(&b.header), sizeof b.header, &returned, &eof);
    EXPECT_EQ(hr, S_OK);
    if (FAILED(hr) || eof) break;
    b.data.assign(b.header.dwDataLength + 1, 0);  // +1: a buffer even for 0 bytes
    hr = f->ReadBlockData(b.data.data(), b.header.dwDataLength);
    EXPECT_EQ(hr, S_OK);
    if (FAILED(hr)) break;
    b.data.pop_back();
    blocks.push_back(std::move(b));
  }
  TakeError();
  return blocks;
}

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(file_); }

  std::string Craft(const std::string& name, const Bytes& bytes) {
    const std::string path = dir_.File(name);
    WriteFileBytes(path, bytes);
    return path;
  }
  EnumFileVersion OpenRead(const std::string& path) {
    EnumFileVersion v = FileVersionUnknown;
    EXPECT_EQ(OpenFile(file_.get(), path, FileAccessModeReadOnly, &v), S_OK) << path;
    return v;
  }
  void OpenWrite(const std::string& path) {
    EnumFileVersion v = FileVersionCVR_Ve101;
    ASSERT_EQ(OpenFile(file_.get(), path, FileAccessModeWriteCreateAlways, &v), S_OK);
  }
  // Reads the next header; expects success.
  LogBlockHeader NextHeader(LONG* eof = nullptr) {
    LogBlockHeader h{};
    ULONG returned = 0;
    LONG end = 0;
    EXPECT_EQ(file_->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &end), S_OK);
    if (eof) *eof = end;
    return h;
  }

  TempDir dir_;
  ComPtr<ILogFile> file_ = Create<ILogFile>(CLSID_LogFile, IID_ILogFile);
};

}  // namespace corvane::test

#endif  // CORVANE_TESTS_LOGFILE_LOG_FILE_TEST_UTIL_H_
