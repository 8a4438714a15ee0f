// Output helpers: one JSON object per line for --json, and the pieces of the
// human-readable lines (time stamps, data bytes, sizes).
#ifndef CVRTOOL_OUTPUT_H_
#define CVRTOOL_OUTPUT_H_

#include <cstdint>
#include <string>

namespace cvrtool {

class JsonArray;

// Builds one JSON object: Json().Add("a", 1).Add("b", "x").str() gives
// {"a":1,"b":"x"}. Keys keep the order in which they were added.
class Json {
 public:
  Json& Add(const char* key, const std::string& value);
  Json& Add(const char* key, const char* value) { return Add(key, std::string(value)); }
  Json& Add(const char* key, int64_t value);
  Json& Add(const char* key, uint64_t value);
  Json& Add(const char* key, int value) { return Add(key, static_cast<int64_t>(value)); }
  Json& Add(const char* key, unsigned value) { return Add(key, static_cast<uint64_t>(value)); }
  Json& Add(const char* key, bool value);
  Json& Add(const char* key, double value);  // with three decimals
  Json& Add(const char* key, const Json& object);
  Json& Add(const char* key, const JsonArray& array);
  std::string str() const { return body_ + "}"; }

 private:
  void Key(const char* key);
  std::string body_ = "{";
};

// Builds one JSON array of objects or strings, in the order they were added.
class JsonArray {
 public:
  JsonArray& Add(const Json& object);
  JsonArray& Add(const std::string& text);
  std::string str() const { return body_ + "]"; }

 private:
  void Next() {
    if (body_.size() > 1) body_ += ",";
  }
  std::string body_ = "[";
};

std::string JsonString(const std::string& text);  // quoted and escaped

// Nanoseconds as seconds with nine decimals: "12.000000345".
std::string Seconds(uint64_t ns);
// Bytes as "1.5 MB" style text (decimal units).
std::string HumanBytes(double bytes);

enum class DataStyle { kNone, kHex, kAscii };
// Up to `limit` bytes (0: all) as hex ("1d 10 02") or printable ASCII with
// '.' for other bytes; "..." and the count of bytes left out follow a cut.
std::string FormatData(const uint8_t* data, size_t size, DataStyle style, size_t limit);
// Text for a quoted display: control and non-ASCII bytes as \xNN.
std::string EscapeText(const std::string& text);
std::string HexBytes(const uint8_t* data, size_t size);  // "1d1002", for JSON

// Writes a line to standard output.
void PrintLine(const std::string& line);

}  // namespace cvrtool

#endif  // CVRTOOL_OUTPUT_H_
