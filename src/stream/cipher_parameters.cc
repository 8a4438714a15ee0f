#include "stream/cipher_parameters.h"

#include <algorithm>

#include "stream/key_source.h"

namespace corvane::stream {

Status CipherParameters::Load(int version) {
  std::optional<KeySetId> id = KeySetFor(version);
  if (!id) return Status::Error(kErrNotSupported);
  KeyMaterial key;
  Status st = LoadKeyMaterial(&key, nullptr);
  if (!st.ok()) return st;
  *this = ParametersFromKey(key.sets[static_cast<int>(*id)]);
  return Status::Ok();
}

Status CipherParameters::Validate(std::string* why) const {
  auto fail = [&](std::string reason) {
    if (why) *why = std::move(reason);
    return Status::Error(kErrInvalidParameter);
  };
  if (block_size < 2 || block_size > kMaxBlockSize || kMaxBlockSize % block_size != 0) {
    return fail("block size " + std::to_string(block_size) +
                " is not one of 2, 4, 8, 16, 32, 64, 128");
  }
  for (int i = 0; i < kTapCount; ++i) {
    if (taps[i] < 1 || taps[i] >= block_size) {
      return fail("tap " + std::to_string(i + 1) + " is " + std::to_string(taps[i]) +
                  ", not within 1.." + std::to_string(block_size - 1));
    }
  }
  if (pass_count < 1) return fail("pass count " + std::to_string(pass_count) + " is below 1");
  return Status::Ok();
}

bool operator==(const CipherParameters& a, const CipherParameters& b) {
  return a.whitening == b.whitening && a.feedback == b.feedback &&
         a.pass_count == b.pass_count && a.block_size == b.block_size &&
         std::equal(a.taps, a.taps + CipherParameters::kTapCount, b.taps);
}

}  // namespace corvane::stream
