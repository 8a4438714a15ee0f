#include "platform/posix/registry_format.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "platform/byte_order.h"
#include "platform/registry.h"

namespace corvane::platform {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(s[i]) != Lower(prefix[i])) return false;
  }
  return true;
}

// True for `key` itself and every key below it.
bool InTree(const std::string& path, const std::string& key) {
  return RegistryNamesEqual(path, key) ||
         (path.size() > key.size() && path[key.size()] == '\\' && StartsWithNoCase(path, key));
}

std::string Quote(const std::string& s) {
  static const char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads a quoted string starting at s[*pos] == '"'; *pos ends after the
// closing quote.
bool Unquote(const std::string& s, size_t* pos, std::string* out) {
  out->clear();
  size_t i = *pos + 1;
  while (i < s.size()) {
    char c = s[i++];
    if (c == '"') {
      *pos = i;
      return true;
    }
    if (c != '\\') {
      out->push_back(c);
      continue;
    }
    if (i >= s.size()) return false;
    char e = s[i++];
    switch (e) {
      case '\\': out->push_back('\\'); break;
      case '"': out->push_back('"'); break;
      case 'n': out->push_back('\n'); break;
      case 'r': out->push_back('\r'); break;
      case 't': out->push_back('\t'); break;
      case 'x': {
        if (i + 2 > s.size() || HexDigit(s[i]) < 0 || HexDigit(s[i + 1]) < 0) return false;
        out->push_back(static_cast<char>(HexDigit(s[i]) * 16 + HexDigit(s[i + 1])));
        i += 2;
        break;
      }
      default: return false;
    }
  }
  return false;
}

bool ParseDword(const std::string& text, std::string* data) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  const bool hex = text.size() > 2 && text[0] == '0' && Lower(text[1]) == 'x';
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
  if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
  uint8_t bytes[4];
  EncodeLE32(bytes, static_cast<uint32_t>(v));
  data->assign(reinterpret_cast<char*>(bytes), 4);
  return true;
}

bool ParseHex(const std::string& text, std::string* data) {
  data->clear();
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    if (i + 2 > text.size() || HexDigit(text[i]) < 0 || HexDigit(text[i + 1]) < 0) return false;
    data->push_back(static_cast<char>(HexDigit(text[i]) * 16 + HexDigit(text[i + 1])));
    i += 2;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i < text.size() && text[i++] != ',') return false;
  }
  return true;
}

// `"Name"=...` or `@=...`; false for anything else.
bool ParseValueLine(const std::string& line, RegistryValue* value) {
  size_t pos = 0;
  if (line[0] == '@') {
    value->name.clear();
    pos = 1;
  } else if (line[0] != '"' || !Unquote(line, &pos, &value->name)) {
    return false;
  }
  if (pos >= line.size() || line[pos] != '=') return false;
  const std::string rest = line.substr(pos + 1);
  if (!rest.empty() && rest[0] == '"') {
    size_t p = 0;
    value->type = kRegString;
    return Unquote(rest, &p, &value->data) && p == rest.size();
  }
  if (StartsWithNoCase(rest, "dword:")) {
    value->type = kRegDword;
    return ParseDword(rest.substr(6), &value->data);
  }
  if (StartsWithNoCase(rest, "hex:")) {
    value->type = kRegBinary;
    return ParseHex(rest.substr(4), &value->data);
  }
  return false;
}

std::string FormatValue(const RegistryValue& v) {
  std::string line = v.name.empty() ? "@=" : Quote(v.name) + "=";
  if (v.type == kRegDword && v.data.size() == 4) {
    return line + "dword:" +
           std::to_string(DecodeLE32(reinterpret_cast<const uint8_t*>(v.data.data())));
  }
  if (v.type == kRegString) return line + Quote(v.data);
  static const char kHex[] = "0123456789abcdef";
  line += "hex:";
  for (size_t i = 0; i < v.data.size(); ++i) {
    const auto b = static_cast<unsigned char>(v.data[i]);
    if (i) line += ',';
    line += kHex[b >> 4];
    line += kHex[b & 0xF];
  }
  return line;
}

std::string TrimRight(const std::string& s) {
  size_t end = s.find_last_not_of(" \t\r");
  return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

}  // namespace

bool RegistryNamesEqual(const std::string& a, const std::string& b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

RegistryDocument RegistryDocument::Parse(const std::string& text) {
  RegistryDocument doc;
  std::istringstream in(text);
  std::string raw;
  while (std::getline(in, raw)) {
    const std::string line = TrimRight(raw);
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      doc.sections_.push_back(Section{line.substr(1, line.size() - 2), {}});
      continue;
    }
    if (doc.sections_.empty()) {
      if (!line.empty()) doc.preamble_.push_back(line);
      continue;
    }
    if (line.empty()) continue;  // blank lines are regenerated
    Entry entry;
    entry.known = ParseValueLine(line, &entry.value);
    if (!entry.known) entry.raw = line;
    std::vector<Entry>& entries = doc.sections_.back().entries;
    if (entry.known) {
      // A name given twice: the later line wins, as when it was written.
      auto same = std::find_if(entries.begin(), entries.end(), [&](const Entry& e) {
        return e.known && RegistryNamesEqual(e.value.name, entry.value.name);
      });
      if (same != entries.end()) {
        *same = std::move(entry);
        continue;
      }
    }
    entries.push_back(std::move(entry));
  }
  return doc;
}

std::string RegistryDocument::Serialize() const {
  std::string out;
  if (preamble_.empty()) {
    out += "; Settings of the corvane library. One section per key; values are\n";
    out += "; \"Name\"=dword:<decimal>, \"Name\"=\"text\" or \"Name\"=hex:<bytes>.\n";
  }
  for (const std::string& line : preamble_) out += line + "\n";
  for (const Section& s : sections_) {
    out += "\n[" + s.path + "]\n";
    for (const Entry& e : s.entries) out += (e.known ? FormatValue(e.value) : e.raw) + "\n";
  }
  return out;
}

RegistryDocument::Section* RegistryDocument::FindSection(const std::string& key) {
  for (Section& s : sections_) {
    if (RegistryNamesEqual(s.path, key)) return &s;
  }
  return nullptr;
}

const RegistryDocument::Section* RegistryDocument::FindSection(const std::string& key) const {
  return const_cast<RegistryDocument*>(this)->FindSection(key);
}

bool RegistryDocument::KeyExists(const std::string& key) const {
  for (const Section& s : sections_) {
    if (InTree(s.path, key)) return true;
  }
  return false;
}

bool RegistryDocument::CreateKey(const std::string& key) {
  if (KeyExists(key)) return false;
  // Ancestors below the hive first, each placed after its parent's subtree
  // so that related keys stay together in the file.
  size_t pos = key.find('\\');
  while (pos != std::string::npos) {
    size_t next = key.find('\\', pos + 1);
    const std::string path = key.substr(0, next);
    if (!FindSection(path)) {
      const std::string parent = key.substr(0, pos);
      size_t at = sections_.size();
      for (size_t i = 0; i < sections_.size(); ++i) {
        if (InTree(sections_[i].path, parent)) at = i + 1;
      }
      sections_.insert(sections_.begin() + static_cast<std::ptrdiff_t>(at), Section{path, {}});
    }
    pos = next;
  }
  if (!FindSection(key)) sections_.push_back(Section{key, {}});  // a hive of its own
  return true;
}

const RegistryValue* RegistryDocument::FindValue(const std::string& key,
                                                 const std::string& name) const {
  const Section* s = FindSection(key);
  if (!s) return nullptr;
  for (const Entry& e : s->entries) {
    if (e.known && RegistryNamesEqual(e.value.name, name)) return &e.value;
  }
  return nullptr;
}

bool RegistryDocument::SetValue(const std::string& key, const RegistryValue& value) {
  bool changed = CreateKey(key);
  Section* s = FindSection(key);
  if (!s) {
    // The key existed only through its subkeys: give it a section before
    // them.
    auto first = std::find_if(sections_.begin(), sections_.end(),
                              [&](const Section& x) { return InTree(x.path, key); });
    s = &*sections_.insert(first, Section{key, {}});
    changed = true;
  }
  for (Entry& e : s->entries) {
    if (e.known && RegistryNamesEqual(e.value.name, value.name)) {
      if (e.value.type == value.type && e.value.data == value.data) return changed;
      e.value.type = value.type;
      e.value.data = value.data;
      return true;
    }
  }
  Entry entry;
  entry.known = true;
  entry.value = value;
  s->entries.push_back(std::move(entry));
  return true;
}

bool RegistryDocument::DeleteTree(const std::string& key) {
  const size_t before = sections_.size();
  std::erase_if(sections_, [&](const Section& s) { return InTree(s.path, key); });
  return sections_.size() != before;
}

bool RegistryDocument::DeleteValue(const std::string& key, const std::string& name) {
  Section* s = FindSection(key);
  if (!s) return false;
  return std::erase_if(s->entries, [&](const Entry& e) {
           return e.known && RegistryNamesEqual(e.value.name, name);
         }) > 0;
}

}  // namespace corvane::platform
