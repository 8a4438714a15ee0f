// Helpers of the hardening tests: numbered blocks whose every byte follows
// from their number (so a reader can tell an intact block from a cut,
// shifted or repeated one), written and read back through each interface.
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
// data of 4 + (i * 53) % 120 bytes: i little-endian, then a pattern.
Bytes NumberedData(uint32_t i);
LogBlockHeader NumberedHeader(uint32_t i);
// Bytes the block occupies in a 1.02 or e1.01 log (16-byte header).
inline uint64_t NumberedSize(uint32_t i) { return 16 + NumberedHeader(i).dwDataLength; }

HRESULT WriteNumbered(ILogFile2* log, uint32_t i);
HRESULT WriteNumbered(ILogFile* log, uint32_t i);
HRESULT WriteNumbered(ICorvane* log, uint32_t i);

// One record as read: header fields and data.
struct Record {
  USHORT id = 0;
  BYTE conn = 0;
  ULONGLONG stamp = 0;
  Bytes data;
};
// Reads the next record; *eof set at the end of the file. A failure's error
// object stays in the thread's slot.
HRESULT ReadRecord(ILogFile2* log, Record* r, bool* eof);
HRESULT ReadRecord(ILogFile* log, Record* r, bool* eof);
HRESULT ReadRecord(ICorvane* log, Record* r, bool* eof);
// The record is block i (the stamp is compared when `stamp` is set).
bool IsNumbered(const Record& r, uint32_t i, bool stamp, std::string* where = nullptr);

// What reading a log of numbered blocks from its first block found.
struct ReadBack {
  uint32_t blocks = 0;       // intact blocks 0, 1, ... in order
  bool clean_end = false;    // the reader reported the end of the file
  bool mismatch = false;     // a block other than the next number, or changed bytes
  HRESULT failure = S_OK;    // the call that stopped the reading, if it failed
  std::string description;   // its error object's description
  std::string where;         // what differed, for a mismatch
  bool whole(uint32_t n) const { return clean_end && !mismatch && blocks == n; }
};
// Reads up to `limit` blocks. LogFile2 skips bookmarks (0x43), collecting
// their comments in *bookmarks when given.
ReadBack ReadNumbered(ILogFile2* log, uint32_t limit = 1000000, std::vector<std::string>* bookmarks = nullptr);
ReadBack ReadNumbered(ILogFile* log, uint32_t limit = 1000000, std::vector<std::string>* bookmarks = nullptr);
ReadBack ReadNumbered(ICorvane* log, uint32_t limit = 1000000, std::vector<std::string>* bookmarks = nullptr);
// Reads the next record and checks that it is block i.
bool NextIsNumbered(ILogFile2* log, uint32_t i);

// A new object of the class.
template <class Log> ComPtr<Log> New();
template <> inline ComPtr<ILogFile2> New() { return Create<ILogFile2>(CLSID_LogFile2, IID_ILogFile2); }
template <> inline ComPtr<ILogFile> New() { return Create<ILogFile>(CLSID_LogFile, IID_ILogFile); }
template <> inline ComPtr<ICorvane> New() { return Create<ICorvane>(CLSID_Corvane, IID_ICorvane); }

enum class Kind { kLogFile2, kLogFile, kCorvane };
// Calls fn with a new object of the kind.
template <class Fn> void WithNew(Kind kind, Fn fn) {
  if (kind == Kind::kLogFile2) return fn(New<ILogFile2>());
  if (kind == Kind::kLogFile) return fn(New<ILogFile>());
  fn(New<ICorvane>());
}

// The disk buffer of the next Open: LogFile2's own, LogFile's in the
// settings (which LogFile2 writes); Corvane has none.
void SetBuffer(ILogFile2* log, ULONG bytes);
void SetBuffer(ILogFile* log, ULONG bytes);
inline void SetBuffer(ICorvane*, ULONG) {}
// Opens a log as a new file for writing (LogFile2: of generation
// `version`) or an existing one for reading.
HRESULT OpenLog(ILogFile2* log, const std::string& path, bool write, EnumFileVersion version = FileVersionCVR_V0102);
HRESULT OpenLog(ILogFile* log, const std::string& path, bool write, EnumFileVersion = {});
HRESULT OpenLog(ICorvane* log, const std::string& path, bool write, EnumFileVersion = {});
HRESULT OpenLogFile2(ILogFile2* log, const std::string& path, EnumFileAccessMode mode,
                     EnumFileVersion version = FileVersionCVR_V0102);
// Reads a closed log with a new object of the class.
template <class Log>
ReadBack ReadLog(const std::string& path, std::vector<std::string>* bookmarks = nullptr) {
  auto log = New<Log>();
  ReadBack r;
  r.failure = OpenLog(log.get(), path, false);
  if (FAILED(r.failure)) return r.description = TakeError().description, r;
  return ReadNumbered(log.get(), 1000000, bookmarks);
}
// Writes `blocks` numbered blocks with LogFile2 into a new log.
void WriteLog(const std::string& path, uint32_t blocks, EnumFileVersion version = FileVersionCVR_V0102,
              ULONG buffer = 65536);
// The companion file of a log: same name, other extension ("idx", "bmk").
std::string Companion(const std::string& log_path, const std::string& extension);
// Size of a complete index of `blocks` messages at `resolution`.
inline int64_t IndexSize(int64_t blocks, int64_t resolution) { return 144 + 24 * ((blocks - 1) / resolution); }

}  // namespace corvane::test

#endif  // CORVANE_TESTS_HARDENING_HARDENING_UTIL_H_
