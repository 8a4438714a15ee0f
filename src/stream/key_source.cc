#include "stream/key_source.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/file.h"
#include "platform/registry.h"
#include "stream/generations.h"
#include "stream/settings.h"

namespace corvane::stream {
namespace {

// Built-in sets. Their taps keep at least 8 bytes away from both ends of the
// block, which lets the cipher work on eight bytes at a time (cipher.cc).
constexpr KeyMaterial kDefaults = {{{
    // e1.00: whitening, feedback, passes, taps 1..10, block size 32
    {0x5A, 0xC3, 1, 8, 9, 11, 13, 16, 18, 19, 21, 22, 24, 32},
    // shared: block size 64
    {0xA7, 0x3D, 1, 8, 11, 15, 20, 26, 31, 37, 42, 50, 56, 64},
}}};

constexpr std::string_view kMagicLine = "corvane-key-file 1";
constexpr std::string_view kSetNames[2] = {"e1.00", "shared"};

std::vector<std::string_view> SplitWords(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

int DigitValue(char c, int base) {
  int v = c >= '0' && c <= '9' ? c - '0'
          : c >= 'a' && c <= 'f' ? c - 'a' + 10
          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                 : 99;
  return v < base ? v : -1;
}

// A byte value: decimal 0..255 (at most three digits) or 0x followed by one
// or two hexadecimal digits.
bool ParseByte(std::string_view word, uint8_t* out) {
  int base = 10;
  size_t max_digits = 3;
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
    base = 16;
    max_digits = 2;
    word.remove_prefix(2);
  }
  if (word.empty() || word.size() > max_digits) return false;
  int value = 0;
  for (char c : word) {
    int d = DigitValue(c, base);
    if (d < 0) return false;
    value = value * base + d;
  }
  if (value > 255) return false;
  *out = static_cast<uint8_t>(value);
  return true;
}

Status Refuse(std::string* message, const std::string& text) {
  if (message) *message = text;
  return Status::Error(kErrInvalidData);
}

Status ReadWholeFile(const std::string& path, std::string* text, std::string* message) {
  platform::OpenOptions options;
  options.access = platform::kAccessRead;
  options.share = platform::kShareRead;
  options.disposition = platform::Disposition::kOpenExisting;
  std::unique_ptr<platform::File> file;
  Status st = platform::OpenFile(path, options, &file);
  int64_t size = 0;
  if (st.ok()) st = file->GetSize(&size);
  if (!st.ok()) {
    if (message) *message = "key file \"" + path + "\" cannot be opened (system error " +
                            std::to_string(st.code()) + ")";
    return st;
  }
  if (size > kMaxKeyFileSize) {
    return Refuse(message, "key file \"" + path + "\" is " + std::to_string(size) +
                               " bytes long, more than " + std::to_string(kMaxKeyFileSize));
  }
  text->resize(static_cast<size_t>(size));
  uint32_t got = 0;
  st = file->Read(text->data(), static_cast<uint32_t>(size), &got);
  if (!st.ok() || got != size) {
    if (message) *message = "key file \"" + path + "\" cannot be read";
    return st.ok() ? Status::Error(kErrInvalidData) : st;
  }
  return Status::Ok();
}

}  // namespace

std::optional<KeySetId> KeySetFor(int version) {
  switch (GenerationOf(version).cipher) {
    case CipherSet::kE100: return KeySetId::kE100;
    case CipherSet::kShared: return KeySetId::kShared;
    default: return std::nullopt;
  }
}

CipherParameters ParametersFromKey(const KeySetBytes& b) {
  CipherParameters p;
  p.whitening = b[0];
  p.feedback = b[1];
  p.pass_count = b[2];
  for (int i = 0; i < CipherParameters::kTapCount; ++i) p.taps[i] = b[3 + i];
  p.block_size = b[13];
  return p;
}

const KeyMaterial& DefaultKeyMaterial() { return kDefaults; }

Status ParseKeyFile(std::string_view text, KeyMaterial* out, std::string* message) {
  KeyMaterial key;
  bool seen[2] = {false, false};
  bool magic = false;
  int line_no = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::vector<std::string_view> words = SplitWords(line);
    if (words.empty() || words[0][0] == '#') continue;
    std::string where = "key file line " + std::to_string(line_no) + ": ";
    if (!magic) {
      if (words.size() != 2 || words[0] != "corvane-key-file" || words[1] != "1") {
        return Refuse(message, where + "expected \"" + std::string(kMagicLine) + "\"");
      }
      magic = true;
      continue;
    }
    int id = words[0] == kSetNames[0] ? 0 : words[0] == kSetNames[1] ? 1 : -1;
    if (id < 0) return Refuse(message, where + "unknown set \"" + std::string(words[0]) + "\"");
    if (seen[id]) return Refuse(message, where + "set \"" + std::string(words[0]) + "\" repeated");
    if (words.size() != 1 + kKeyBytesPerSet) {
      return Refuse(message, where + "set \"" + std::string(words[0]) + "\" has " +
                                 std::to_string(words.size() - 1) + " values, expected 14");
    }
    for (int i = 0; i < kKeyBytesPerSet; ++i) {
      if (!ParseByte(words[1 + i], &key.sets[id][i])) {
        return Refuse(message, where + "value " + std::to_string(i + 1) + " \"" +
                                   std::string(words[1 + i]) + "\" is not a byte (0..255, 0x00..0xFF)");
      }
    }
    std::string why;
    if (!ParametersFromKey(key.sets[id]).Validate(&why).ok()) {
      return Refuse(message, where + "set \"" + std::string(words[0]) + "\": " + why);
    }
    seen[id] = true;
  }
  if (!magic) return Refuse(message, "key file is empty");
  for (int id = 0; id < 2; ++id) {
    if (!seen[id]) {
      return Refuse(message, "key file lacks the set \"" + std::string(kSetNames[id]) + "\"");
    }
  }
  *out = key;
  return Status::Ok();
}

std::string ConfiguredKeyFilePath() {
  if (const char* env = std::getenv(kKeyFileEnvironment); env && *env) return env;
  std::string value;
  if (platform::registry::QueryString(platform::Hive::kCurrentUser, kSettingsKey,
                                      kKeyFileValueName, &value)
          .ok()) {
    return value;
  }
  return {};
}

Status LoadKeyMaterial(KeyMaterial* out, std::string* message) {
  std::string path = ConfiguredKeyFilePath();
  if (path.empty()) {
    *out = kDefaults;
    return Status::Ok();
  }
  std::string text;
  Status st = ReadWholeFile(path, &text, message);
  if (!st.ok()) return st;
  st = ParseKeyFile(text, out, message);
  if (!st.ok() && message) *message = "\"" + path + "\": " + *message;
  return st;
}

}  // namespace corvane::stream
