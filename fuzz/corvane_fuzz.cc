// Fuzzes Corvane reading through ICorvane: part 0 is the V 01.00 file, part
// 1 chooses per block whether its data is read (announced length), read
// with a wrong length (must fail), or left for the next header read to skip.
//
// Properties: no crash or hang; a data read with another length than the
// header announced fails without writing; every header read that succeeds
// before the end consumes twelve bytes, so a file of n bytes yields at most
// n / 12 blocks.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "com_util.h"
#include "fuzz_input.h"

using corvane::fuzz::Controls;
using corvane::fuzz::Owned;
using corvane::fuzz::OwnedBstr;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  corvane::fuzz::InitFuzzEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto parts = corvane::fuzz::SplitInput(data, size, 2);
  const size_t file_size = parts[0].size();
  const std::string path = corvane::fuzz::WriteScratchFile("legacy.cvr", parts[0]);
  Owned<ICorvane> log;
  corvane::fuzz::CreateObject(CLSID_Corvane, IID_ICorvane, &log);
  CORVANE_FUZZ_CHECK(log.get() != nullptr);
  OwnedBstr name(path);
  if (SUCCEEDED(log->Open(name.get(), CVRFileAccessModeRead, CVRFileCreateModeExisting))) {
    Controls c(parts[1]);
    size_t blocks = 0;
    int failures = 0;
    while (failures < 3) {
      USHORT id = 0;
      BYTE conn = 0;
      ULONG stamp = 0, length = 0;
      LONG eof = 0;
      if (FAILED(log->ReadBlockHeader(&id, &conn, &stamp, &length, &eof))) {
        ++failures;
        continue;
      }
      if (eof) break;
      CORVANE_FUZZ_CHECK(++blocks <= file_size / 12);
      const uint8_t how = c.Byte() % 3;
      if (how == 2 || length > file_size) continue;
      std::vector<uint8_t> buffer(size_t{length} + 2, 0xEE);
      if (how == 1) {
        CORVANE_FUZZ_CHECK(FAILED(log->ReadBlockData(buffer.data(), length + 1)));
        CORVANE_FUZZ_CHECK(buffer[0] == 0xEE);
      }
      (void)log->ReadBlockData(buffer.data(), length);
      CORVANE_FUZZ_CHECK(buffer[length] == 0xEE);
    }
    ULONG value = 0;
    (void)log->GetFilePointerPos(&value);
    CORVANE_FUZZ_CHECK(SUCCEEDED(log->GetFileSize(&value)) && value == file_size);
    CORVANE_FUZZ_CHECK(SUCCEEDED(log->Close()));
  }
  corvane::fuzz::ClearErrorInfo();
  return 0;
}
