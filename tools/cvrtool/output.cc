#include "output.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace cvrtool {

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (u < 0x20) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", u);
          out += esc;
        } else {
          out.push_back(c);  // UTF-8 passes through
        }
    }
  }
  return out + "\"";
}

void Json::Key(const char* key) {
  if (body_.size() > 1) body_ += ",";
  body_ += JsonString(key) + ":";
}

Json& Json::Add(const char* key, const std::string& value) {
  Key(key);
  body_ += JsonString(value);
  return *this;
}

Json& Json::Add(const char* key, int64_t value) {
  Key(key);
  body_ += std::to_string(value);
  return *this;
}

Json& Json::Add(const char* key, uint64_t value) {
  Key(key);
  body_ += std::to_string(value);
  return *this;
}

Json& Json::Add(const char* key, bool value) {
  Key(key);
  body_ += value ? "true" : "false";
  return *this;
}

Json& Json::Add(const char* key, double value) {
  // Room for any finite double in fixed notation (DBL_MAX has 309 digits);
  // JSON has no spelling for infinities and NaN.
  char text[320];
  if (std::isfinite(value)) std::snprintf(text, sizeof text, "%.3f", value);
  Key(key);
  body_ += std::isfinite(value) ? text : "null";
  return *this;
}

Json& Json::Add(const char* key, const Json& object) {
  Key(key);
  body_ += object.str();
  return *this;
}

Json& Json::Add(const char* key, const JsonArray& array) {
  Key(key);
  body_ += array.str();
  return *this;
}

JsonArray& JsonArray::Add(const Json& object) {
  Next();
  body_ += object.str();
  return *this;
}

JsonArray& JsonArray::Add(const std::string& text) {
  Next();
  body_ += JsonString(text);
  return *this;
}

std::string Seconds(uint64_t ns) {
  char text[48];
  std::snprintf(text, sizeof text, "%" PRIu64 ".%09" PRIu64, ns / 1000000000u, ns % 1000000000u);
  return text;
}

std::string HumanBytes(double bytes) {
  const char* units[] = {"B", "kB", "MB", "GB", "TB"};
  int u = 0;
  while (bytes >= 1000.0 && u < 4) bytes /= 1000.0, ++u;
  char text[32];
  std::snprintf(text, sizeof text, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
  return text;
}

std::string FormatData(const uint8_t* data, size_t size, DataStyle style, size_t limit) {
  if (style == DataStyle::kNone) return "";
  const size_t shown = (limit != 0 && size > limit) ? limit : size;
  std::string out;
  out.reserve(shown * 3 + 16);
  static const char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i < shown; ++i) {
    if (style == DataStyle::kHex) {
      if (i) out.push_back(' ');
      out.push_back(kHex[data[i] >> 4]);
      out.push_back(kHex[data[i] & 0xF]);
    } else {
      out.push_back(data[i] >= 0x20 && data[i] < 0x7F ? static_cast<char>(data[i]) : '.');
    }
  }
  if (shown < size) out += " ...(+" + std::to_string(size - shown) + ")";
  return out;
}

std::string EscapeText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F && c != '"' && c != '\\') {
      out.push_back(c);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02x", u);
      out += esc;
    }
  }
  return out;
}

std::string HexBytes(const uint8_t* data, size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out.push_back(kHex[data[i] >> 4]);
    out.push_back(kHex[data[i] & 0xF]);
  }
  return out;
}

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace cvrtool
