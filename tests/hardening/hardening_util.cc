#include "hardening/hardening_util.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "support/com_test_util.h"
#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#ifndef CORVANE_TEST_EXE_SUFFIX
#define CORVANE_TEST_EXE_SUFFIX ""
#endif

namespace corvane::test {
namespace {

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string DescribeBlock(uint32_t i, const char* what) {
  return "block " + std::to_string(i) + ": " + what;
}

// Compares a header and data read back with block i.
bool Matches(uint32_t i, uint16_t id, uint8_t conn, uint32_t length, const Bytes& data,
             std::string* where) {
  const LogBlockHeader want = NumberedHeader(i);
  if (id != want.wBlockID) return *where = DescribeBlock(i, "identifier differs"), false;
  if (conn != want.byConnID) return *where = DescribeBlock(i, "connection differs"), false;
  if (length != want.dwDataLength) return *where = DescribeBlock(i, "length differs"), false;
  if (data != NumberedData(i)) return *where = DescribeBlock(i, "data differs"), false;
  return true;
}

void Fail(ReadBack* r, HRESULT hr) {
  r->failure = hr;
  r->description = TakeError().description;
}

}  // namespace

uint32_t NumberedLength(uint32_t i) { return 4 + (i * 53u) % 120u; }

Bytes NumberedData(uint32_t i) {
  Bytes b(NumberedLength(i));
  for (int k = 0; k < 4; ++k) b[k] = static_cast<uint8_t>(i >> (8 * k));
  for (size_t k = 4; k < b.size(); ++k) b[k] = static_cast<uint8_t>(i * 7 + k * 13);
  return b;
}

LogBlockHeader NumberedHeader(uint32_t i) {
  LogBlockHeader h{};
  h.wBlockID = static_cast<USHORT>(0x20 + i % 3);
  h.byConnID = static_cast<BYTE>(i & 0xFF);
  h.byTimeStampMode = 0;
  h.qwTimeStamp = uint64_t{i} * 1000;
  h.dwDataLength = NumberedLength(i);
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

ReadBack ReadNumbered(ILogFile2* log, uint32_t limit, std::vector<std::string>* bookmarks) {
  ReadBack r;
  for (uint32_t calls = 0; r.blocks < limit && calls < limit + 100000; ++calls) {
    LogBlockHeader h{};
    ULONG returned = 0;
    LONG eof = 0;
    HRESULT hr = log->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &eof);
    if (FAILED(hr)) return Fail(&r, hr), r;
    if (eof) return r.clean_end = true, r;
    Bytes data(h.dwDataLength);
    BYTE spare = 0;
    hr = log->ReadBlockData(data.empty() ? &spare : data.data(), h.dwDataLength);
    if (FAILED(hr)) return Fail(&r, hr), r;
    if (h.wBlockID == CVR_ID_BOOKMARK) {
      if (bookmarks) bookmarks->emplace_back(data.begin(), data.end());
      continue;
    }
    if (!Matches(r.blocks, h.wBlockID, h.byConnID, h.dwDataLength, data, &r.where) ||
        h.qwTimeStamp != NumberedHeader(r.blocks).qwTimeStamp) {
      if (r.where.empty()) r.where = DescribeBlock(r.blocks, "stamp differs");
      return r.mismatch = true, r;
    }
    ++r.blocks;
  }
  return r;
}

ReadBack ReadNumbered(ILogFile* log, uint32_t limit) {
  ReadBack r;
  while (r.blocks < limit) {
    LogBlockHeader h{};
    ULONG returned = 0;
    LONG eof = 0;
    HRESULT hr = log->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &eof);
    if (FAILED(hr)) return Fail(&r, hr), r;
    if (eof) return r.clean_end = true, r;
    Bytes data(h.dwDataLength);
    BYTE spare = 0;
    hr = log->ReadBlockData(data.empty() ? &spare : data.data(), h.dwDataLength);
    if (FAILED(hr)) return Fail(&r, hr), r;
    if (!Matches(r.blocks, h.wBlockID, h.byConnID, h.dwDataLength, data, &r.where)) {
      return r.mismatch = true, r;
    }
    ++r.blocks;
  }
  return r;
}

ReadBack ReadNumbered(ICorvane* log, uint32_t limit) {
  ReadBack r;
  while (r.blocks < limit) {
    USHORT id = 0;
    BYTE conn = 0;
    ULONG stamp = 0, length = 0;
    LONG eof = 0;
    HRESULT hr = log->ReadBlockHeader(&id, &conn, &stamp, &length, &eof);
    if (FAILED(hr)) return Fail(&r, hr), r;
    if (eof) return r.clean_end = true, r;
    if (length > 1u << 20) return r.mismatch = true, r.where = "absurd length", r;
    Bytes data(length);
    BYTE spare = 0;
    hr = log->ReadBlockData(data.empty() ? &spare : data.data(), length);
    if (FAILED(hr)) return Fail(&r, hr), r;
    if (!Matches(r.blocks, id, conn, length, data, &r.where)) return r.mismatch = true, r;
    ++r.blocks;
  }
  return r;
}

bool NextIsNumbered(ILogFile2* log, uint32_t i, HRESULT* failure) {
  LogBlockHeader h{};
  ULONG returned = 0;
  LONG eof = 0;
  HRESULT hr = log->ReadBlockHeader(reinterpret_cast<BYTE*>(&h), sizeof h, &returned, &eof);
  if (SUCCEEDED(hr) && eof) hr = E_FAIL;
  Bytes data;
  if (SUCCEEDED(hr)) {
    data.resize(h.dwDataLength);
    BYTE spare = 0;
    hr = log->ReadBlockData(data.empty() ? &spare : data.data(), h.dwDataLength);
  }
  if (failure) *failure = hr;
  if (FAILED(hr)) {
    TakeError();
    return false;
  }
  std::string where;
  return Matches(i, h.wBlockID, h.byConnID, h.dwDataLength, data, &where);
}

HRESULT OpenLogFile2(ILogFile2* log, const std::string& path, EnumFileAccessMode mode,
                     EnumFileVersion version) {
  Bstr name(path);
  return log->Open(name.get(), mode, &version, 0);
}

HRESULT OpenLogFile(ILogFile* log, const std::string& path, EnumFileAccessMode mode) {
  Bstr name(path);
  EnumFileVersion version = FileVersionCVR_Ve101;
  return log->Open(name.get(), mode, &version);
}

HRESULT OpenCorvane(ICorvane* log, const std::string& path, EnumCVRFileAccessMode access,
                    EnumCVRFileCreateMode create) {
  Bstr name(path);
  return log->Open(name.get(), access, create);
}

std::string Companion(const std::string& log_path, const std::string& extension) {
  const size_t dot = log_path.find_last_of('.');
  const size_t slash = log_path.find_last_of("/\\");
  const bool has_dot = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (has_dot ? log_path.substr(0, dot) : log_path) + "." + extension;
}

void PauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool WaitUntil(const std::function<bool()>& done, int limit) {
  for (int i = 0; i < limit; ++i) {
    if (done()) return true;
    PauseMs(1);
  }
  return done();
}

std::string ChildPath() {
  char path[4096] = {};
#ifdef _WIN32
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string exe(path, n);
  const std::string dir = exe.substr(0, exe.find_last_of("\\/") + 1);
#else
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string exe(path, n > 0 ? static_cast<size_t>(n) : 0);
  const std::string dir = exe.substr(0, exe.find_last_of('/') + 1);
#endif
  return dir + "hardening_child" CORVANE_TEST_EXE_SUFFIX;
}

int RunChild(const std::vector<std::string>& args) {
  std::string command = Quoted(ChildPath());
  for (const std::string& a : args) command += " " + Quoted(a);
#ifdef _WIN32
  // cmd.exe strips the outermost pair of quotes of the whole line.
  return std::system(Quoted(command).c_str());
#else
  int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

BackgroundChild::BackgroundChild(std::vector<std::string> args)
    : thread_([this, args = std::move(args)] {
        code_ = RunChild(args);
        finished_.store(true);
      }) {}

bool BackgroundChild::AwaitFile(const std::string& path) {
  WaitUntil([&] { return finished() || FileExists(path); });
  return FileExists(path);
}

BackgroundChild::~BackgroundChild() { Join(); }

int BackgroundChild::Join() {
  if (!joined_) {
    thread_.join();
    joined_ = true;
  }
  return code_;
}

}  // namespace corvane::test
