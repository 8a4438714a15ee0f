// The libFuzzer entry points of one target: every *_fuzz program is this file
// built with CORVANE_FUZZ_TARGET naming its function in targets.cc.
#include "harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  corvane::fuzz::InitFuzzEnvironment();
  return 0;
}

// The error object a failed COM call left behind is dropped after each input.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const auto run = corvane::fuzz::FindTarget(CORVANE_FUZZ_TARGET);
  run(data, size);
  SetErrorInfo(0, nullptr);
  return 0;
}
