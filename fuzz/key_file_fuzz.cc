// Fuzzes the key file parser: the input is the text of a key file.
//
// Properties: a refused file leaves the key untouched and says why; an
// accepted one holds two sets that the cipher accepts; parsing is
// deterministic; and the same text configured as the key file (through
// CORVANE_KEY_FILE) gives the same key to the cipher parameters of every
// enciphered version.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "stream/key_source.h"

using namespace corvane::stream;

namespace {

KeyMaterial Marker() {
  KeyMaterial m;
  for (auto& set : m.sets) set.fill(0xA5);
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  corvane::fuzz::InitFuzzEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  KeyMaterial key = Marker();
  std::string message;
  const corvane::Status st = ParseKeyFile(text, &key, &message);
  if (!st.ok()) {
    CORVANE_FUZZ_CHECK(st.code() == corvane::kErrInvalidData);
    CORVANE_FUZZ_CHECK(!message.empty());
    CORVANE_FUZZ_CHECK(key.sets == Marker().sets);
    return 0;
  }
  for (const auto& set : key.sets) CORVANE_FUZZ_CHECK(ParametersFromKey(set).Validate().ok());
  KeyMaterial again = Marker();
  CORVANE_FUZZ_CHECK(ParseKeyFile(text, &again, nullptr).ok() && again.sets == key.sets);

  // Through the configured file: the cipher of each version takes its set.
  const std::string path = corvane::fuzz::WriteScratchFile("key.txt", {data, size});
  setenv(kKeyFileEnvironment, path.c_str(), 1);
  KeyMaterial loaded = Marker();
  const corvane::Status load = LoadKeyMaterial(&loaded, nullptr);
  for (int version : {1, 3, 7, 13, 16}) {
    CipherParameters p;
    const corvane::Status st_v = p.Load(version);
    CORVANE_FUZZ_CHECK(st_v.ok() == load.ok());
    if (st_v.ok()) {
      const auto set = *KeySetFor(version);
      CORVANE_FUZZ_CHECK(p == ParametersFromKey(key.sets[static_cast<int>(set)]));
    }
  }
  unsetenv(kKeyFileEnvironment);
  // Only a file too large to be read is refused here after parsing.
  CORVANE_FUZZ_CHECK(load.ok() == (size <= kMaxKeyFileSize));
  if (load.ok()) CORVANE_FUZZ_CHECK(loaded.sets == key.sets);
  return 0;
}
