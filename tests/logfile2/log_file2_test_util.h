// Helpers of the LogFile2 tests: an object per test in a scratch directory,
// records written and read through ILogFile2, crafted files.
#ifndef CORVANE_TESTS_LOGFILE2_LOG_FILE2_TEST_UTIL_H_
#define CORVANE_TESTS_LOGFILE2_LOG_FILE2_TEST_UTIL_H_

#include <corvane/corvane.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/com_test_util.h"
#include "support/log_bytes.h"
#include "support/temp_dir.h"

namespace corvane::test {

inline constexpr char kTag[] = "LOGFILE";

// The 128-byte header of generation 1.02 files: four lines at 0, 32, 64, 96
// (the tag, "IDX V 01.02.001" and the like, on the third), then 0x1A.
inline Bytes Header102(const std::string& banner, const std::string& tag) {
  Bytes h(128, 0);
  const std::string lines[] = {"Tamri Zuduva Deravi\n", banner + "\n", tag + "\n", "crafted by the test run.\n"};
  for (int i = 0; i < 4; ++i) std::copy(lines[i].begin(), lines[i].end(), h.begin() + 32 * i);
  h[127] = 0x1A;
  return h;
}

// A complete index file (sub-version "001" unless given) with its fields.
inline Bytes IndexFile(uint64_t resolution, uint64_t count, const std::string& sub = ".001") {
  Bytes idx = Header102("Binary Log Index File", "IDX V 01.02" + sub);
  PutLE(idx, resolution, 8);
  PutLE(idx, count, 8);
  return idx;
}

inline ComPtr<ILogFile2> NewLogFile2() { return Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2); }

inline HRESULT OpenLog(ILogFile2* f, const std::string& path, EnumFileAccessMode mode, EnumFileVersion* version) {
  return f->Open(Bstr(path).get(), mode, version, 0);
}

// Writes a block of `data` (the header's length is set to its size).
inline HRESULT Write(ILogFile2* f, LogBlockHeader h, Bytes data, ULONG bulk_count = 0) {
  h.dwDataLength = static_cast<ULONG>(data.size());
  if (data.empty()) data.push_back(0);  // the method wants a buffer even for 0 bytes
  return f->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, data.data(), h.dwDataLength, bulk_count);
}

struct Record {
  LogBlockHeader header{};
  Bytes data;
};

inline HRESULT NextHeader(ILogFile2* f, LogBlockHeader* h, LONG* eof) {
  ULONG returned = 0;
  return f->ReadBlockHeader(reinterpret_cast<BYTE*>(h), sizeof *h, &returned, eof);
}

// Reads every record up to the end of the log (at most `limit`), data included.
inline std::vector<Record> ReadAll(ILogFile2* f, size_t limit = 100000) {
  std::vector<Record> records;
  while (records.size() < limit) {
    Record r;
    LONG eof = 0;
    HRESULT hr = NextHeader(f, &r.header, &eof);
    if (hr == S_OK && !eof) {
      r.data.assign(r.header.dwDataLength + 1, 0);  // one spare byte: never an empty buffer
      hr = f->ReadBlockData(r.data.data(), r.header.dwDataLength);
      r.data.pop_back();
    }
    EXPECT_EQ(hr, S_OK);
    if (hr != S_OK || eof) break;
    records.push_back(std::move(r));
  }
  TakeError();
  return records;
}

class LogFile2Test : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(log_); }

  std::string Craft(const std::string& name, const Bytes& bytes) {
    WriteFileBytes(dir_.File(name), bytes);
    return dir_.File(name);
  }
  EnumFileVersion OpenRead(const std::string& path) {
    EnumFileVersion v = FileVersionUnknown;
    EXPECT_EQ(OpenLog(log_.get(), path, FileAccessModeReadOnly, &v), S_OK) << path;
    return v;
  }
  void OpenWrite(const std::string& path, EnumFileVersion v) {
    ASSERT_EQ(OpenLog(log_.get(), path, FileAccessModeWriteCreateAlways, &v), S_OK) << path;
  }
  // Writes a 1.02 log of `blocks` one-byte blocks whose ids are their numbers,
  // through log_ left open (`keep_open`) or through an object of its own.
  std::string WriteLog(const std::string& name, int blocks, bool keep_open = false) {
    const std::string path = dir_.File(name);
    ComPtr<ILogFile2> writer = keep_open ? log_ : NewLogFile2();
    EnumFileVersion v = FileVersionCVR_V0102;
    EXPECT_EQ(OpenLog(writer.get(), path, FileAccessModeWriteCreateAlways, &v), S_OK);
    for (int i = 0; i < blocks; ++i) EXPECT_EQ(Write(writer.get(), MakeHeader(i, 0, 0, 0, 0), {1}), S_OK);
    EXPECT_TRUE(keep_open || writer->Close() == S_OK);
    return path;
  }
  LONGLONG BookmarkCount() {
    LONGLONG n = -1;
    EXPECT_EQ(log_->GetBookmarkCount(&n), S_OK);
    return n;
  }

  TempDir dir_;
  ComPtr<ILogFile2> log_ = NewLogFile2();
};

}  // namespace corvane::test

#endif  // CORVANE_TESTS_LOGFILE2_LOG_FILE2_TEST_UTIL_H_
