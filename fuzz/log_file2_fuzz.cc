// Fuzzes LogFile2 reading through ILogFile2: part 0 is the log (every
// generation it reads: 1.02 plain, enciphered and big-endian with bulk
// blocks, e1.01, V 01.00, e1.00, raw records, hex dumps), part 1 the
// bookmark file beside it (none when empty), part 2 a list of steps that
// mix record reads with the bookmark methods.
//
//   part 2, per step: [op] then operands
//     op % 8 == 0  read up to 1 + b % 32 records; per record [how] as below
//              1   BookmarkJump(b) and BookmarkRead
//              2   GetBookmarkBlockNumber(b), GetBookmarkIndexNumber(u16)
//              3   InsertBookmark(u16, comment of b % 8 bytes)
//              4   BookmarkEdit(comment of b % 8 bytes)
//              5   BookmarkDelete
//              6   Jump(u16)
//              7   the position, size and count queries
//   how % 4: 0 data with the announced length, 1 one byte short first (must
//   fail and keep the data pending), 2 left for the next header read to
//   skip, 3 a larger buffer; how / 4 % 3 the header buffer length (24, 16, 5).
//   Without part 2 every record is read with its data.
//
// Properties: no crash or hang; caller buffers are never written past their
// length; a failed short data read writes nothing; reading forward from a
// place yields at most one record per six bytes of the log plus the
// bookmarks, then the end.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "com_util.h"
#include "fuzz_input.h"

using corvane::fuzz::Controls;
using corvane::fuzz::Owned;
using corvane::fuzz::OwnedBstr;

namespace {

constexpr ULONG kHeaderLengths[] = {24, 16, 5};
constexpr uint8_t kGuard = 0xEE;

class Session {
 public:
  Session(ILogFile2* log, size_t file_size) : log_(log), file_size_(file_size) { Restart(); }

  // Reads up to `limit` records; false at the end of the log.
  bool ReadRecords(size_t limit, Controls& c, bool default_how) {
    for (size_t i = 0; i < limit; ++i) {
      const uint8_t how = default_how ? 0 : c.Byte();
      const ULONG header_length = kHeaderLengths[how / 4 % 3];
      uint8_t header[32];
      std::fill(std::begin(header), std::end(header), kGuard);
      ULONG returned = 0;
      LONG eof = 0;
      if (FAILED(log_->ReadBlockHeader(header, header_length, &returned, &eof))) {
        // A corrupt header is passed over; the reader goes on behind it.
        if (++failures_ > 8) return false;
        continue;
      }
      CORVANE_FUZZ_CHECK(header[header_length] == kGuard);
      if (eof) return false;
      CORVANE_FUZZ_CHECK(++records_ <= budget_);
      if (header_length < 16) continue;
      uint32_t length = 0;
      std::memcpy(&length, header + (header_length == 24 ? 16 : 12), sizeof length);
      if (length > file_size_ + 4096) continue;
      ReadData(how, length);
    }
    return true;
  }

  // After a move of the reader: the records from here on get a new budget.
  void Restart() {
    LONGLONG bookmarks = 0;
    (void)log_->GetBookmarkCount(&bookmarks);
    records_ = 0;
    budget_ = file_size_ / 6 + static_cast<size_t>(std::max<LONGLONG>(bookmarks, 0)) + 8;
  }

 private:
  void ReadData(uint8_t how, uint32_t length) {
    std::vector<uint8_t> data(size_t{length} + 64, kGuard);
    switch (how % 4) {
      case 0: (void)log_->ReadBlockData(data.data(), length); break;
      case 1:
        if (length > 0) {
          CORVANE_FUZZ_CHECK(FAILED(log_->ReadBlockData(data.data(), length - 1)));
          CORVANE_FUZZ_CHECK(data[0] == kGuard);
        }
        (void)log_->ReadBlockData(data.data(), length);
        break;
      case 2: break;
      case 3: (void)log_->ReadBlockData(data.data(), length + 64); break;
    }
    CORVANE_FUZZ_CHECK(data[length] == kGuard);
  }

  ILogFile2* log_;
  size_t file_size_;
  size_t records_ = 0;
  size_t budget_ = 0;
  int failures_ = 0;
};

std::string Comment(Controls& c) {
  std::string text(c.Byte() % 8, ' ');
  for (char& ch : text) ch = static_cast<char>(0x20 + c.Byte() % 0x5F);
  return text;
}

void RunSteps(ILogFile2* log, Session& session, Controls& c) {
  for (int step = 0; step < 48 && !c.empty(); ++step) {
    switch (c.Byte() % 8) {
      case 0: (void)session.ReadRecords(1 + c.Byte() % 32, c, false); break;
      case 1: {
        if (SUCCEEDED(log->BookmarkJump(c.Byte()))) {
          BSTR comment = nullptr;
          if (SUCCEEDED(log->BookmarkRead(&comment))) SysFreeString(comment);
        }
        break;
      }
      case 2: {
        LONGLONG out = 0;
        (void)log->GetBookmarkBlockNumber(static_cast<int8_t>(c.Byte()), &out);
        (void)log->GetBookmarkIndexNumber(c.U16(), &out);
        break;
      }
      case 3: {
        const LONGLONG at = c.U16();
        OwnedBstr comment(Comment(c));
        if (SUCCEEDED(log->InsertBookmark(at, comment.get()))) session.Restart();
        break;
      }
      case 4: {
        OwnedBstr comment(Comment(c));
        (void)log->BookmarkEdit(comment.get());
        break;
      }
      case 5: (void)log->BookmarkDelete(); break;
      case 6:
        if (SUCCEEDED(log->Jump(c.U16()))) session.Restart();
        break;
      case 7: {
        LONGLONG value = 0;
        (void)log->GetFilePointerPos(&value);
        (void)log->GetFileSize(&value);
        (void)log->GetIndexedRecCount(&value);
        (void)log->GetBookmarkCount(&value);
        CORVANE_FUZZ_CHECK(value >= 0);
        break;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  corvane::fuzz::InitFuzzEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parts = corvane::fuzz::SplitInput(data, size, 3);
  const std::string path = corvane::fuzz::WriteScratchFile("reader.cvr", parts[0]);
  corvane::fuzz::RemoveScratchFile("reader.idx");
  if (parts[1].empty()) {
    corvane::fuzz::RemoveScratchFile("reader.bmk");
  } else {
    corvane::fuzz::WriteScratchFile("reader.bmk", parts[1]);
  }

  Owned<ILogFile2> log;
  corvane::fuzz::CreateObject(CLSID_LogFile2, IID_ILogFile2, &log);
  CORVANE_FUZZ_CHECK(log.get() != nullptr);
  OwnedBstr name(path);
  EnumFileVersion version = FileVersionUnknown;
  if (SUCCEEDED(log->Open(name.get(), FileAccessModeReadOnly, &version, 0))) {
    CORVANE_FUZZ_CHECK(version >= FileVersionCVR_Ve101 && version <= FileVersionCVR_Vu102);
    Session session(log.get(), parts[0].size());
    Controls c(parts[2]);
    if (c.empty()) {
      while (session.ReadRecords(64, c, true)) {
      }
    } else {
      RunSteps(log.get(), session, c);
    }
    (void)log->Close();
  }
  corvane::fuzz::ClearErrorInfo();
  return 0;
}
