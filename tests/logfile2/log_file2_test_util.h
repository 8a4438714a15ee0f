// Helpers of the LogFile2 and hardening tests. Numbered blocks whose every
// byte follows from their number, so a reader can tell an intact block from a
// cut, shifted or repeated one, written and read back through each of the
// three interfaces; a LogFile2 object per test in a scratch directory.
#ifndef CORVANE_TESTS_LOGFILE2_LOG_FILE2_TEST_UTIL_H_
#define CORVANE_TESTS_LOGFILE2_LOG_FILE2_TEST_UTIL_H_

#include <corvane/corvane.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "support/child_process.h"
#include "support/com_test_util.h"
#include "support/log_bytes.h"
#include "support/temp_dir.h"

namespace corvane::test {

inline constexpr char kTag[] = "LOGFILE";
template <class Log> constexpr bool kIsCorvane = std::is_same_v<Log, ICorvane>;
template <class Log> constexpr bool kIsLogFile2 = std::is_same_v<Log, ILogFile2>;

// Block i: identifier 0x20 + i % 3, connection i & 0xFF, stamp i * 1000,
// 4 + (i * 53) % 120 data bytes starting with i little-endian.
inline Bytes NumberedData(uint32_t i) {
  Bytes b(4 + (i * 53u) % 120u);
  for (size_t k = 0; k < b.size(); ++k) b[k] = static_cast<uint8_t>(k < 4 ? i >> (8 * k) : i * 7 + k * 13);
  return b;
}
inline LogBlockHeader NumberedHeader(uint32_t i) {
  return MakeHeader(0x20 + i % 3, i & 0xFF, 0, uint64_t{i} * 1000, static_cast<uint32_t>(NumberedData(i).size()));
}
inline uint64_t NumberedSize(uint32_t i) { return 16 + NumberedHeader(i).dwDataLength; }  // in 1.02/e1.01

// Writes a LogFile2 block of `data` (the header's length is set to its size).
inline HRESULT Write(ILogFile2* f, LogBlockHeader h, Bytes data, ULONG bulk_count = 0) {
  h.dwDataLength = static_cast<ULONG>(data.size());
  if (data.empty()) data.push_back(0);  // the method wants a buffer even for 0 bytes
  return f->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, data.data(), h.dwDataLength, bulk_count);
}
template <class Log>
HRESULT WriteNumbered(Log* log, uint32_t i) {
  LogBlockHeader h = NumberedHeader(i);
  Bytes d = NumberedData(i);
  if constexpr (kIsCorvane<Log>) return log->WriteBlock(h.wBlockID, h.byConnID, d.data(), h.dwDataLength);
  else if constexpr (kIsLogFile2<Log>) return Write(log, h, d);
  else return log->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, d.data(), h.dwDataLength);
}

struct Record { LogBlockHeader header{}; Bytes data; };
template <class Log>  // LogFile or LogFile2
HRESULT NextHeader(Log* f, LogBlockHeader* h, LONG* eof) {
  ULONG returned = 0;
  return f->ReadBlockHeader(reinterpret_cast<BYTE*>(h), sizeof *h, &returned, eof);
}
// The next record; *eof at the end. A failure leaves its error object in the slot.
template <class Log>
HRESULT ReadRecord(Log* log, Record* r, bool* eof) {
  LogBlockHeader& h = r->header;
  ULONG tick = 0;
  LONG end = 0;
  HRESULT hr;
  if constexpr (kIsCorvane<Log>) {
    hr = log->ReadBlockHeader(&h.wBlockID, &h.byConnID, &tick, &h.dwDataLength, &end);
    if (h.dwDataLength > 1u << 20) h.dwDataLength = 0;  // damage; the comparison fails on the length
  } else {
    hr = NextHeader(log, &h, &end);
  }
  *eof = SUCCEEDED(hr) && end;
  if (FAILED(hr) || *eof) return hr;
  r->data.assign(h.dwDataLength + 1, 0);  // one spare byte: never an empty buffer
  hr = log->ReadBlockData(r->data.data(), h.dwDataLength);
  r->data.pop_back();
  return hr;
}
// Reads every record up to the end of the log (at most `limit`), data included.
inline std::vector<Record> ReadAll(ILogFile2* f, size_t limit = 100000) {
  std::vector<Record> records(1);
  for (bool eof = false; records.size() <= limit && ReadRecord(f, &records.back(), &eof) == S_OK && !eof;)
    records.emplace_back();
  records.pop_back();
  TakeError();
  return records;
}
inline bool IsNumbered(const Record& r, uint32_t i, bool stamp, std::string* where = nullptr) {
  const LogBlockHeader want = NumberedHeader(i);
  const LogBlockHeader& h = r.header;
  const char* what = h.wBlockID != want.wBlockID ? "identifier" : h.byConnID != want.byConnID ? "connection"
                     : r.data != NumberedData(i) ? "data" : stamp && h.qwTimeStamp != want.qwTimeStamp ? "stamp" : nullptr;
  if (what && where) *where = "block " + std::to_string(i) + ": " + what + " differs";
  return !what;
}

// What reading numbered blocks from the first one found: intact blocks 0, 1,
// ... in order, the call that stopped the reading with its error text, and
// what differed.
struct ReadBack {
  uint32_t blocks = 0;
  bool clean_end = false, mismatch = false;
  HRESULT failure = S_OK;
  std::string description, where;
  bool whole(uint32_t n) const { return clean_end && !mismatch && blocks == n; }
};
// Only LogFile2 keeps stamps and bookmark blocks; it skips bookmarks (0x43),
// collecting their comments in *bookmarks.
template <class Log>
ReadBack ReadNumbered(Log* log, std::vector<std::string>* bookmarks = nullptr) {
  ReadBack rb;
  for (uint32_t calls = 0; calls < 2000000; ++calls) {
    Record r;
    bool eof = false;
    if (HRESULT hr = ReadRecord(log, &r, &eof); FAILED(hr)) {
      rb.failure = hr;
      rb.description = TakeError().description;
      return rb;
    }
    if (eof) return rb.clean_end = true, rb;
    if (kIsLogFile2<Log> && r.header.wBlockID == CVR_ID_BOOKMARK) {
      if (bookmarks) bookmarks->emplace_back(r.data.begin(), r.data.end());
    } else if (!IsNumbered(r, rb.blocks++, kIsLogFile2<Log>, &rb.where)) {
      return --rb.blocks, rb.mismatch = true, rb;
    }
  }
  return rb;
}
inline bool NextIsNumbered(ILogFile2* log, uint32_t i) {
  const std::vector<Record> next = ReadAll(log, 1);
  return next.size() == 1 && IsNumbered(next[0], i, true);
}

template <class Log> ComPtr<Log> New() {
  if constexpr (kIsCorvane<Log>) return Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
  else if constexpr (kIsLogFile2<Log>) return Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2);
  else return Create<ILogFile>(CLSID_LogFile, IID_ILogFile);
}
enum class Kind { kLogFile2, kLogFile, kCorvane };
template <class Fn> void WithNew(Kind kind, Fn fn) {
  if (kind == Kind::kLogFile2) return fn(New<ILogFile2>());
  if (kind == Kind::kLogFile) return fn(New<ILogFile>());
  fn(New<ICorvane>());
}

// The disk buffer of the next Open (LogFile reads it from the settings;
// Corvane has none).
template <class Log> void SetBuffer(Log* log, ULONG bytes) {
  if constexpr (kIsLogFile2<Log>) log->SetDiskBufferSize(bytes);
  else if constexpr (!kIsCorvane<Log>) New<ILogFile2>()->SetDiskBufferSize(bytes);
}
// A new log for writing (LogFile2: of generation `version`; LogFile: e1.01),
// or an existing one for reading.
template <class Log>
HRESULT OpenLog(Log* log, const std::string& path, bool write, EnumFileVersion version = FileVersionCVR_V0102) {
  const Bstr name(path);
  const auto access = write ? FileAccessModeWriteCreateAlways : FileAccessModeReadOnly;
  if constexpr (kIsCorvane<Log>) {
    return write ? log->Open(name.get(), CVRFileAccessModeWrite, CVRFileCreateModeAlways)
                 : log->Open(name.get(), CVRFileAccessModeRead, CVRFileCreateModeExisting);
  } else if constexpr (kIsLogFile2<Log>) {
    return log->Open(name.get(), access, &version, 0);
  } else {
    version = FileVersionCVR_Ve101;
    return log->Open(name.get(), access, &version);
  }
}
// Reads a closed log with a new object.
template <class Log>
ReadBack ReadLog(const std::string& path, std::vector<std::string>* bookmarks = nullptr) {
  auto log = New<Log>();
  if (HRESULT hr = OpenLog(log.get(), path, false); FAILED(hr)) return ReadBack{0, false, false, hr, TakeError().description, {}};
  return ReadNumbered(log.get(), bookmarks);
}
inline bool WriteLog(const std::string& path, uint32_t blocks, EnumFileVersion version = FileVersionCVR_V0102,
                     ULONG buffer = 65536) {
  auto log = New<ILogFile2>();
  log->SetDiskBufferSize(buffer);
  bool ok = OpenLog(log.get(), path, true, version) == S_OK;
  for (uint32_t i = 0; ok && i < blocks; ++i) ok = WriteNumbered(log.get(), i) == S_OK;
  return log->Close() == S_OK && ok;
}
// The log's companion file ("idx", "bmk"); the tests' logs end in ".cvr" or ".log".
inline std::string Companion(const std::string& log_path, const std::string& extension) {
  return log_path.substr(0, log_path.size() - 3) + extension;
}
inline int64_t IndexSize(int64_t blocks, int64_t resolution) { return 144 + 24 * ((blocks - 1) / resolution); }

class LogFile2Test : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(log_); }

  // LogFile2's Open in any mode, the generation going in and out through `v`.
  HRESULT Open(const std::string& path, int mode, EnumFileVersion* v) {
    return log_->Open(Bstr(path).get(), static_cast<EnumFileAccessMode>(mode), v, 0);
  }
  std::string Craft(const std::string& name, const Bytes& bytes) { return WriteFileBytes(dir_.File(name), bytes), dir_.File(name); }
  EnumFileVersion OpenRead(const std::string& path) {
    EnumFileVersion v = FileVersionUnknown;
    EXPECT_EQ(Open(path, FileAccessModeReadOnly, &v), S_OK) << path;
    return v;
  }
  void OpenWrite(const std::string& path, EnumFileVersion v) {
    ASSERT_EQ(Open(path, FileAccessModeWriteCreateAlways, &v), S_OK) << path;
  }
  LONGLONG BookmarkCount() { LONGLONG n = -1; return log_->GetBookmarkCount(&n) == S_OK ? n : -2; }

  TempDir dir_;
  ComPtr<ILogFile2> log_ = New<ILogFile2>();
};

}  // namespace corvane::test

#endif  // CORVANE_TESTS_LOGFILE2_LOG_FILE2_TEST_UTIL_H_
