// Where the cipher parameters come from.
//
// Each of the two parameter sets (e1.00 for version 3; the shared set for
// versions 1, 7, 13 and 16) is fourteen bytes, one per parameter in the
// order of CipherParameters; a parameter's value is its byte (0 to 255).
// The library carries a built-in default for both sets. A key file replaces
// them when the environment variable CORVANE_KEY_FILE names one, or else the
// string value "Key File" under the settings key does. docs/key-file.md
// describes the file. A configured key file that cannot be read, is
// malformed, or holds a set that breaks a requirement of the cipher is
// refused with an error and never used: enciphered files then cannot be
// opened, rather than being written with a key nobody asked for.
//
// Thread-safe: every call reads the configuration anew and shares no state.
#ifndef CORVANE_STREAM_KEY_SOURCE_H_
#define CORVANE_STREAM_KEY_SOURCE_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "stream/cipher_parameters.h"

namespace corvane::stream {

enum class KeySetId { kE100 = 0, kShared = 1 };

inline constexpr int kKeyBytesPerSet = 14;
using KeySetBytes = std::array<uint8_t, kKeyBytesPerSet>;

struct KeyMaterial {
  std::array<KeySetBytes, 2> sets{};  // indexed by KeySetId
};

inline constexpr char kKeyFileEnvironment[] = "CORVANE_KEY_FILE";
inline constexpr char kKeyFileValueName[] = "Key File";
// Key files are small; anything larger is refused unread.
inline constexpr uint32_t kMaxKeyFileSize = 64 * 1024;

// The set of a version: kE100 for 3, kShared for 1, 7, 13, 16, else none.
std::optional<KeySetId> KeySetFor(int version);

// Each parameter takes the value of its byte.
CipherParameters ParametersFromKey(const KeySetBytes& bytes);

// The library's built-in sets; both meet every requirement.
const KeyMaterial& DefaultKeyMaterial();

// Parses and checks key file text. On failure: kErrInvalidData and a
// message naming the line and the fault; *out is left unchanged.
Status ParseKeyFile(std::string_view text, KeyMaterial* out, std::string* message);

// The path of the configured key file ("" when none is configured).
std::string ConfiguredKeyFilePath();

// The key in force: the configured key file, else the defaults. A key file
// that cannot be opened fails with the system's code; one that cannot be
// used fails with kErrInvalidData. *message (may be null) tells why.
Status LoadKeyMaterial(KeyMaterial* out, std::string* message);

}  // namespace corvane::stream

#endif  // CORVANE_STREAM_KEY_SOURCE_H_
