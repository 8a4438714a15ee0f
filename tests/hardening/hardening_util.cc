#include "hardening/hardening_util.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace corvane::test {
namespace {

// ILogFile and ILogFile2 read the same 16-byte header.
template <class Log>
HRESULT ReadStructRecord(Log* log, Record* r, bool* eof) {
  LogBlockHeader h{};
  ULONG returned = 0;
  LONG end = 0;
  HRESULT hr = log->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &end);
  *eof = SUCCEEDED(hr) && end;
  if (FAILED(hr) || *eof) return hr;
  *r = Record{h.wBlockID, h.byConnID, h.qwTimeStamp, Bytes(h.dwDataLength)};
  BYTE spare = 0;
  return log->ReadBlockData(r->data.empty() ? &spare : r->data.data(), h.dwDataLength);
}

}  // namespace

Bytes NumberedData(uint32_t i) {
  Bytes b(4 + (i * 53u) % 120u);
  for (int k = 0; k < 4; ++k) b[k] = static_cast<uint8_t>(i >> (8 * k));
  for (size_t k = 4; k < b.size(); ++k) b[k] = static_cast<uint8_t>(i * 7 + k * 13);
  return b;
}

LogBlockHeader NumberedHeader(uint32_t i) {
  LogBlockHeader h{};
  h.wBlockID = static_cast<USHORT>(0x20 + i % 3);
  h.byConnID = static_cast<BYTE>(i & 0xFF);
  h.qwTimeStamp = uint64_t{i} * 1000;
  h.dwDataLength = static_cast<ULONG>(NumberedData(i).size());
  return h;
}

HRESULT WriteNumbered(ILogFile2* log, uint32_t i) {
  LogBlockHeader h = NumberedHeader(i);
  Bytes d = NumberedData(i);
  return log->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, d.data(), h.dwDataLength, 0);
}

HRESULT WriteNumbered(ILogFile* log, uint32_t i) {
  LogBlockHeader h = NumberedHeader(i);
  Bytes d = NumberedData(i);
  return log->WriteBlock(reinterpret_cast<BYTE*>(&h), sizeof h, d.data(), h.dwDataLength);
}

HRESULT WriteNumbered(ICorvane* log, uint32_t i) {
  const LogBlockHeader h = NumberedHeader(i);
  Bytes d = NumberedData(i);
  return log->WriteBlock(h.wBlockID, h.byConnID, d.data(), h.dwDataLength);
}

HRESULT ReadRecord(ILogFile2* log, Record* r, bool* eof) { return ReadStructRecord(log, r, eof); }
HRESULT ReadRecord(ILogFile* log, Record* r, bool* eof) { return ReadStructRecord(log, r, eof); }

HRESULT ReadRecord(ICorvane* log, Record* r, bool* eof) {
  ULONG tick = 0, length = 0;
  LONG end = 0;
  HRESULT hr = log->ReadBlockHeader(&r->id, &r->conn, &tick, &length, &end);
  *eof = SUCCEEDED(hr) && end;
  if (FAILED(hr) || *eof) return hr;
  if (length > 1u << 20) length = 0;  // damage; the comparison fails on the length
  r->data.assign(length, 0);
  BYTE spare = 0;
  return log->ReadBlockData(r->data.empty() ? &spare : r->data.data(), length);
}

bool IsNumbered(const Record& r, uint32_t i, bool stamp, std::string* where) {
  const LogBlockHeader want = NumberedHeader(i);
  const char* what = r.id != want.wBlockID                 ? "identifier"
                     : r.conn != want.byConnID             ? "connection"
                     : r.data != NumberedData(i)           ? "data"
                     : stamp && r.stamp != want.qwTimeStamp ? "stamp"
                                                           : nullptr;
  if (what && where) *where = "block " + std::to_string(i) + ": " + what + " differs";
  return !what;
}

// Only LogFile2 keeps stamps and bookmark blocks.
template <class Log>
ReadBack ReadNumbered(Log* log, uint32_t limit, std::vector<std::string>* bookmarks) {
  constexpr bool kLogFile2 = std::is_same_v<Log, ILogFile2>;
  ReadBack rb;
  for (uint32_t calls = 0; rb.blocks < limit && calls < limit + 100000; ++calls) {
    Record r;
    bool eof = false;
    if (HRESULT hr = ReadRecord(log, &r, &eof); FAILED(hr)) {
      rb.failure = hr;
      rb.description = TakeError().description;
      return rb;
    }
    if (eof) return rb.clean_end = true, rb;
    if (kLogFile2 && r.id == CVR_ID_BOOKMARK) {
      if (bookmarks) bookmarks->emplace_back(r.data.begin(), r.data.end());
      continue;
    }
    if (!IsNumbered(r, rb.blocks, kLogFile2, &rb.where)) return rb.mismatch = true, rb;
    ++rb.blocks;
  }
  return rb;
}
template ReadBack ReadNumbered(ILogFile2*, uint32_t, std::vector<std::string>*);
template ReadBack ReadNumbered(ILogFile*, uint32_t, std::vector<std::string>*);
template ReadBack ReadNumbered(ICorvane*, uint32_t, std::vector<std::string>*);

bool NextIsNumbered(ILogFile2* log, uint32_t i) {
  Record r;
  bool eof = false;
  if (FAILED(ReadRecord(log, &r, &eof))) return TakeError(), false;
  return !eof && IsNumbered(r, i, true);
}

void SetBuffer(ILogFile2* log, ULONG bytes) { log->SetDiskBufferSize(bytes); }
void SetBuffer(ILogFile*, ULONG bytes) { New<ILogFile2>()->SetDiskBufferSize(bytes); }

HRESULT OpenLog(ILogFile2* log, const std::string& path, bool write, EnumFileVersion version) {
  return log->Open(Bstr(path).get(), write ? FileAccessModeWriteCreateAlways : FileAccessModeReadOnly, &version, 0);
}

HRESULT OpenLog(ILogFile* log, const std::string& path, bool write, EnumFileVersion) {
  EnumFileVersion version = FileVersionCVR_Ve101;
  return log->Open(Bstr(path).get(), write ? FileAccessModeWriteCreateAlways : FileAccessModeReadOnly, &version);
}

HRESULT OpenLog(ICorvane* log, const std::string& path, bool write, EnumFileVersion) {
  return write ? log->Open(Bstr(path).get(), CVRFileAccessModeWrite, CVRFileCreateModeAlways)
               : log->Open(Bstr(path).get(), CVRFileAccessModeRead, CVRFileCreateModeExisting);
}

void WriteLog(const std::string& path, uint32_t blocks, EnumFileVersion version, ULONG buffer) {
  auto log = New<ILogFile2>();
  log->SetDiskBufferSize(buffer);
  ASSERT_EQ(OpenLog(log.get(), path, true, version), S_OK);
  for (uint32_t i = 0; i < blocks; ++i) ASSERT_EQ(WriteNumbered(log.get(), i), S_OK);
  ASSERT_EQ(log->Close(), S_OK);
}

std::string Companion(const std::string& log_path, const std::string& extension) {
  const size_t dot = log_path.find_last_of('.'), slash = log_path.find_last_of("/\\");
  const bool has_dot = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (has_dot ? log_path.substr(0, dot) : log_path) + "." + extension;
}

}  // namespace corvane::test
