// Numbered blocks whose every byte follows from their number, so a reader can
// tell an intact block from a cut, shifted or repeated one; written and read
// back through each of the three interfaces.
#ifndef CORVANE_TESTS_HARDENING_HARDENING_UTIL_H_
#define CORVANE_TESTS_HARDENING_HARDENING_UTIL_H_

#include <corvane/corvane.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/com_test_util.h"

namespace corvane::test {

using Bytes = std::vector<uint8_t>;

// Block i: identifier 0x20 + i % 3, connection i & 0xFF, stamp i * 1000,
// 4 + (i * 53) % 120 data bytes starting with i little-endian.
Bytes NumberedData(uint32_t i);
LogBlockHeader NumberedHeader(uint32_t i);
inline uint64_t NumberedSize(uint32_t i) { return 16 + NumberedHeader(i).dwDataLength; }  // in 1.02/e1.01

HRESULT WriteNumbered(ILogFile2* log, uint32_t i);
HRESULT WriteNumbered(ILogFile* log, uint32_t i);
HRESULT WriteNumbered(ICorvane* log, uint32_t i);

struct Record {
  USHORT id = 0;
  BYTE conn = 0;
  ULONGLONG stamp = 0;
  Bytes data;
};
// The next record; *eof at the end. A failure leaves its error object in the slot.
HRESULT ReadRecord(ILogFile2* log, Record* r, bool* eof);
HRESULT ReadRecord(ILogFile* log, Record* r, bool* eof);
HRESULT ReadRecord(ICorvane* log, Record* r, bool* eof);
bool IsNumbered(const Record& r, uint32_t i, bool stamp, std::string* where = nullptr);

// What reading numbered blocks from the first one found.
struct ReadBack {
  uint32_t blocks = 0;      // intact blocks 0, 1, ... in order
  bool clean_end = false;
  bool mismatch = false;
  HRESULT failure = S_OK;   // the call that stopped the reading
  std::string description;  // its error text
  std::string where;        // what differed
  bool whole(uint32_t n) const { return clean_end && !mismatch && blocks == n; }
};
// LogFile2 skips bookmarks (0x43), collecting their comments in *bookmarks.
template <class Log>
ReadBack ReadNumbered(Log* log, uint32_t limit = 1000000, std::vector<std::string>* bookmarks = nullptr);
bool NextIsNumbered(ILogFile2* log, uint32_t i);

template <class Log> ComPtr<Log> New();
template <> inline ComPtr<ILogFile2> New() { return Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2); }
template <> inline ComPtr<ILogFile> New() { return Create<ILogFile>(CLSID_LogFile, IID_ILogFile); }
template <> inline ComPtr<ICorvane> New() { return Create<ICorvane>(CLSID_Corvane, IID_ICorvane); }

enum class Kind { kLogFile2, kLogFile, kCorvane };
template <class Fn> void WithNew(Kind kind, Fn fn) {
  if (kind == Kind::kLogFile2) return fn(New<ILogFile2>());
  if (kind == Kind::kLogFile) return fn(New<ILogFile>());
  fn(New<ICorvane>());
}

// The disk buffer of the next Open (LogFile reads it from the settings).
void SetBuffer(ILogFile2* log, ULONG bytes);
void SetBuffer(ILogFile* log, ULONG bytes);
inline void SetBuffer(ICorvane*, ULONG) {}
// A new log for writing (LogFile2: of generation `version`), or an existing one for reading.
HRESULT OpenLog(ILogFile2* log, const std::string& path, bool write, EnumFileVersion version = FileVersionCVR_V0102);
HRESULT OpenLog(ILogFile* log, const std::string& path, bool write, EnumFileVersion = {});
HRESULT OpenLog(ICorvane* log, const std::string& path, bool write, EnumFileVersion = {});
// Reads a closed log with a new object.
template <class Log>
ReadBack ReadLog(const std::string& path, std::vector<std::string>* bookmarks = nullptr) {
  auto log = New<Log>();
  ReadBack r;
  r.failure = OpenLog(log.get(), path, false);
  if (FAILED(r.failure)) return r.description = TakeError().description, r;
  return ReadNumbered(log.get(), 1000000, bookmarks);
}
void WriteLog(const std::string& path, uint32_t blocks, EnumFileVersion version = FileVersionCVR_V0102,
              ULONG buffer = 65536);
// The log's companion file ("idx", "bmk").
std::string Companion(const std::string& log_path, const std::string& extension);
inline int64_t IndexSize(int64_t blocks, int64_t resolution) { return 144 + 24 * ((blocks - 1) / resolution); }

}  // namespace corvane::test

#endif  // CORVANE_TESTS_HARDENING_HARDENING_UTIL_H_
