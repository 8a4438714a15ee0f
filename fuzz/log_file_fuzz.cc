// Fuzzes LogFile reading through ILogFile: part 0 is the file that Open
// reads (detected by the reduced tag set: V 01.00, e1.00, e1.01, raw
// records, both hex dumps), part 1 chooses per record how it is read.
//
//   part 1, per record: [how] — how % 4: 0 read the data with the announced
//   length, 1 with an empty buffer first (must fail and keep the data
//   pending, then read it whole), 2 leave it for the next header read to
//   skip, 3 read it with a large buffer; how / 4 % 3 picks the header buffer
//   length (24, 16, 7).
//
// Properties: no crash or hang; caller buffers are never written past their
// length; a buffer too small is refused untouched; every header read that succeeds before the end of the file moves
// forward, so a file of n bytes yields at most n records.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "com_util.h"
#include "fuzz_input.h"

using corvane::fuzz::Controls;
using corvane::fuzz::Owned;
using corvane::fuzz::OwnedBstr;

namespace {

constexpr ULONG kHeaderLengths[] = {24, 16, 7};
constexpr uint8_t kGuard = 0xEE;

void ReadRecords(ILogFile* log, size_t file_size, Controls& c) {
  size_t records = 0;
  int failures = 0;
  while (failures < 3) {
    const uint8_t how = c.Byte();
    const ULONG header_length = kHeaderLengths[how / 4 % 3];
    uint8_t header[32];
    std::fill(std::begin(header), std::end(header), kGuard);
    ULONG returned = 0;
    LONG eof = 0;
    if (FAILED(log->ReadBlockHeader(header, header_length, &returned, &eof))) {
      ++failures;
      continue;
    }
    CORVANE_FUZZ_CHECK(returned == header_length);
    CORVANE_FUZZ_CHECK(header[header_length] == kGuard);
    if (eof) break;
    // Each record takes at least the six bytes of a raw record head.
    CORVANE_FUZZ_CHECK(++records <= file_size / 6 + 1);
    if (header_length < 16) continue;
    uint32_t length = 0;
    std::memcpy(&length, header + (header_length == 24 ? 16 : 12), sizeof length);
    if (length > file_size + 4) continue;  // the reader refuses those itself
    std::vector<uint8_t> data(length + 64, kGuard);
    switch (how % 4) {
      case 0: (void)log->ReadBlockData(data.data(), length); break;
      case 1:
        // Every record has data pending (a raw record at least its head),
        // so an empty buffer must be refused untouched.
        if (length > 0) {
          CORVANE_FUZZ_CHECK(FAILED(log->ReadBlockData(data.data(), 0)));
          CORVANE_FUZZ_CHECK(data[0] == kGuard);
        }
        (void)log->ReadBlockData(data.data(), length);
        break;
      case 2: break;
      case 3: (void)log->ReadBlockData(data.data(), length + 64); break;
    }
    if (how % 4 != 3) CORVANE_FUZZ_CHECK(data[length] == kGuard);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  corvane::fuzz::InitFuzzEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parts = corvane::fuzz::SplitInput(data, size, 2);
  const std::string path = corvane::fuzz::WriteScratchFile("old.log", parts[0]);
  Owned<ILogFile> log;
  corvane::fuzz::CreateObject(CLSID_LogFile, IID_ILogFile, &log);
  CORVANE_FUZZ_CHECK(log.get() != nullptr);
  OwnedBstr name(path);
  EnumFileVersion version = FileVersionUnknown;
  if (SUCCEEDED(log->Open(name.get(), FileAccessModeReadOnly, &version))) {
    CORVANE_FUZZ_CHECK(version >= FileVersionCVR_Ve101 && version <= FileVersionVantrelHex);
    Controls c(parts[1]);
    ReadRecords(log.get(), parts[0].size(), c);
    ULONGLONG position = 0, file_size = 0;
    (void)log->GetFilePointerPos(&position);
    CORVANE_FUZZ_CHECK(SUCCEEDED(log->GetFileSize(&file_size)) && file_size == parts[0].size());
    CORVANE_FUZZ_CHECK(SUCCEEDED(log->Close()));
  }
  corvane::fuzz::ClearErrorInfo();
  return 0;
}
