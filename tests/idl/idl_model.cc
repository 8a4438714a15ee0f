#include "idl/idl_model.h"

#include <cctype>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace corvane::test {
namespace {

using Matches = std::sregex_iterator;

// Removes comments (string literals kept) and, when asked, preprocessor lines
// with their continuations.
std::string StripComments(const std::string& in, bool drop_preprocessor) {
  std::string out;
  bool line_start = true;
  for (size_t i = 0; i < in.size();) {
    char c = in[i];
    if (drop_preprocessor && line_start && c == '#') {
      while (i < in.size() && in[i] != '\n') i += in[i] == '\\' ? 2 : 1;
    } else if (c == '"') {
      size_t j = i + 1;
      while (j < in.size() && in[j] != '"') j += in[j] == '\\' ? 2 : 1;
      out.append(in, i, j + 1 - i);
      i = j + 1;
      line_start = false;
    } else if (in.compare(i, 2, "//") == 0) {
      i = std::min(in.find('\n', i), in.size());
    } else if (in.compare(i, 2, "/*") == 0) {
      i = std::min(in.find("*/", i + 2), in.size() - 2) + 2;
      out.push_back(' ');
    } else {
      out.push_back(c);
      if (c == '\n') line_start = true;
      else if (!std::isspace(static_cast<unsigned char>(c))) line_start = false;
      ++i;
    }
  }
  return out;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// Splits at `sep` outside brackets, parentheses and string literals.
std::vector<std::string> SplitTopLevel(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string cur;
  int depth = 0;
  bool in_string = false;
  for (char c : s) {
    if (c == '"') in_string = !in_string;
    if (!in_string && (c == '(' || c == '[' || c == '{')) ++depth;
    if (!in_string && (c == ')' || c == ']' || c == '}')) --depth;
    if (!in_string && c == sep && depth == 0) {
      parts.push_back(Trim(cur));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!Trim(cur).empty()) parts.push_back(Trim(cur));
  return parts;
}

// The text between the brace at `open` and its partner.
std::string BracedBody(const std::string& s, size_t open) {
  int depth = 0;
  for (size_t i = open; i < s.size(); ++i) {
    if (s[i] == '{') ++depth;
    if (s[i] == '}' && --depth == 0) return s.substr(open + 1, i - open - 1);
  }
  throw std::runtime_error("unbalanced braces");
}

// "[in, size_is(n)] unsigned char* pbyData": attributes, type, pointer count, name.
Param ParseParam(std::string decl) {
  Param p;
  if (!decl.empty() && decl[0] == '[') {
    size_t close = decl.find(']');
    for (const std::string& attr : SplitTopLevel(decl.substr(1, close - 1), ',')) {
      std::smatch m;
      if (attr == "in") p.in = true;
      else if (attr == "out") p.out = true;
      else if (attr == "retval") p.retval = true;
      else if (std::regex_match(attr, m, std::regex("size_is\\((\\w+)\\)"))) p.size_is = m[1];
      else throw std::runtime_error("unexpected parameter attribute: " + attr);
    }
    decl = decl.substr(close + 1);
  }
  for (char& c : decl) {
    if (c == '*') ++p.pointers, c = ' ';
  }
  decl = Trim(decl);
  size_t last = decl.find_last_of(" \t\n");
  p.name = Trim(decl.substr(last + 1));
  p.type = Trim(std::regex_replace(decl.substr(0, last), std::regex("\\s+"), " "));
  static const std::map<std::string, std::string> kNames = {
      {"unsigned short", "USHORT"}, {"unsigned char", "BYTE"},         {"unsigned long", "ULONG"},
      {"long", "LONG"},             {"hyper", "LONGLONG"},             {"__int64", "LONGLONG"},
      {"unsigned hyper", "ULONGLONG"}, {"MIDL_uhyper", "ULONGLONG"}};
  if (auto it = kNames.find(p.type); it != kNames.end()) p.type = it->second;
  return p;
}

std::vector<Param> ParseParams(const std::string& list) {
  std::vector<Param> out;
  for (const std::string& p : SplitTopLevel(list, ',')) {
    if (p != "void") out.push_back(ParseParam(p));
  }
  return out;
}

std::string HelpString(const std::string& attributes) {
  std::smatch m;
  return std::regex_search(attributes, m, std::regex("helpstring\\(\"([^\"]*)\"\\)")) ? m[1].str()
                                                                                       : "";
}

GuidValue ParseUuid(const std::string& attributes) {
  std::smatch m;
  if (!std::regex_search(attributes, m, std::regex("uuid\\(([0-9A-Fa-f-]{36})\\)"))) {
    throw std::runtime_error("no uuid in: " + attributes);
  }
  std::string hex = std::regex_replace(m[1].str(), std::regex("-"), "");
  GuidValue g{};
  for (size_t i = 0, at = 0, n = 8; i < 11; ++i, at += n, n = i < 3 ? 4 : 2) {
    g[i] = static_cast<uint32_t>(std::stoul(hex.substr(at, n), nullptr, 16));
  }
  return g;
}

GuidValue ParseGuidNumbers(const std::string& list) {
  std::vector<std::string> parts = SplitTopLevel(std::regex_replace(list, std::regex("[{}]"), " "), ',');
  if (parts.size() != 11) throw std::runtime_error("GUID needs 11 numbers: " + list);
  GuidValue g{};
  for (int i = 0; i < 11; ++i) g[i] = static_cast<uint32_t>(std::stoul(parts[i], nullptr, 0));
  return g;
}

// The enumerations and the block header, written alike in both texts.
void ParseEnumsAndBlockHeader(const std::string& text, Model* model) {
  const std::regex enum_re(
      "typedef\\s*(?:\\[([^\\]]*)\\])?\\s*enum\\s+(\\w+)\\s*\\{([^}]*)\\}\\s*(\\w+)\\s*;");
  for (Matches it(text.begin(), text.end(), enum_re), end; it != end; ++it) {
    if ((*it)[2] != (*it)[4]) throw std::runtime_error("enum tag and typedef differ");
    Enumeration e{(*it)[2], HelpString((*it)[1]), {}};
    for (const std::string& item : SplitTopLevel((*it)[3], ',')) {
      size_t eq = item.find('=');
      if (eq == std::string::npos) throw std::runtime_error("constant without value: " + item);
      std::string v = std::regex_replace(item.substr(eq + 1), std::regex("\\(\\s*int\\s*\\)"), "");
      // 32-bit signed, as COM stores them.
      e.constants.push_back({Trim(item.substr(0, eq)),
                             static_cast<int32_t>(static_cast<uint32_t>(std::stoll(Trim(v), nullptr, 0)))});
    }
    model->enums.push_back(e);
  }
  std::smatch m;
  if (std::regex_search(text, m, std::regex("typedef\\s+struct\\s+LogBlockHeader\\s*\\{([^}]*)\\}"))) {
    for (const std::string& decl : SplitTopLevel(m[1], ';')) {
      Param p = ParseParam(decl);
      model->block_header.push_back({p.name, p.type + std::string(p.pointers, '*')});
    }
  }
}

Model ParseIdl(const std::string& raw) {
  const std::string text = StripComments(raw, /*drop_preprocessor=*/false);
  Model model;
  ParseEnumsAndBlockHeader(text, &model);
  const std::regex iface_re("\\[([^\\[\\]]*)\\]\\s*interface\\s+(\\w+)\\s*:\\s*(\\w+)\\s*\\{");
  const std::regex method_re("\\s*(?:\\[([^\\]]*)\\])?\\s*HRESULT\\s+(\\w+)\\s*\\(([\\s\\S]*)\\)\\s*");
  for (Matches it(text.begin(), text.end(), iface_re), end; it != end; ++it) {
    Interface iface{(*it)[2], (*it)[3], HelpString((*it)[1]), {}};
    model.guids["IID_" + iface.name] = ParseUuid((*it)[1]);
    for (const std::string& stmt : SplitTopLevel(BracedBody(text, it->position(0) + it->length(0) - 1), ';')) {
      std::smatch m;
      if (!std::regex_match(stmt, m, method_re)) throw std::runtime_error("unexpected statement: " + stmt);
      iface.methods.push_back({m[2], HelpString(m[1]), ParseParams(m[3])});
    }
    model.interfaces.push_back(iface);
  }
  const std::regex coclass_re(
      "\\[([^\\[\\]]*)\\]\\s*coclass\\s+(\\w+)\\s*\\{\\s*\\[default\\]\\s*interface\\s+(\\w+)\\s*;\\s*\\}");
  for (Matches it(text.begin(), text.end(), coclass_re), end; it != end; ++it) {
    model.coclasses.push_back({(*it)[2], HelpString((*it)[1]), (*it)[3]});
    model.guids["CLSID_" + (*it)[2].str()] = ParseUuid((*it)[1]);
  }
  std::smatch m;
  if (std::regex_search(text, m, std::regex("\\[([^\\[\\]]*)\\]\\s*library\\s+(\\w+)"))) {
    model.guids["LIBID_" + m[2].str()] = ParseUuid(m[1]);
  }
  return model;
}

Model ParseHeader(const std::string& raw) {
  // The Windows branch lies between "#ifdef _WIN32" and the "#else" before
  // compat.h; the hand-written declarations follow up to "#endif  // _WIN32".
  size_t win = raw.find("#ifdef _WIN32"), posix = raw.find("#include <corvane/compat.h>"),
         posix_end = raw.find("#endif  // _WIN32");
  if (posix_end == std::string::npos || !(win < posix && posix < posix_end)) {
    throw std::runtime_error("corvane.h: platform branches not found");
  }
  const std::string windows = StripComments(raw.substr(win, posix - win), true);
  const std::string text = StripComments(raw.substr(posix, posix_end - posix), true);
  Model model;
  ParseEnumsAndBlockHeader(text, &model);
  const std::regex guid_re("inline\\s+constexpr\\s+(?:IID|CLSID|GUID)\\s+(\\w+)\\s*=\\s*([^;]*);");
  for (Matches it(text.begin(), text.end(), guid_re), end; it != end; ++it) {
    model.guids[(*it)[1]] = ParseGuidNumbers((*it)[2]);
  }
  const std::regex win_guid_re("CORVANE_DEFINE_GUID_\\(\\s*(\\w+)\\s*,([^)]*)\\)");
  for (Matches it(windows.begin(), windows.end(), win_guid_re), end; it != end; ++it) {
    model.guids["win:" + (*it)[1].str()] = ParseGuidNumbers((*it)[2]);
  }
  const std::regex iface_re("struct\\s+(\\w+)\\s*:\\s*public\\s+(\\w+)\\s*\\{");
  const std::regex method_re(
      "virtual\\s+HRESULT\\s+STDMETHODCALLTYPE\\s+(\\w+)\\s*\\(([^)]*)\\)\\s*=\\s*0\\s*;");
  for (Matches it(text.begin(), text.end(), iface_re), end; it != end; ++it) {
    Interface iface{(*it)[1], (*it)[2], "", {}};
    const std::string body = BracedBody(text, it->position(0) + it->length(0) - 1);
    for (Matches mt(body.begin(), body.end(), method_re); mt != end; ++mt) {
      iface.methods.push_back({(*mt)[1], "", ParseParams((*mt)[2])});
    }
    model.interfaces.push_back(iface);
  }
  return model;
}

std::string ReadSourceFile(const std::string& name) {
  std::ifstream in(std::string(CORVANE_SOURCE_DIR) + "/" + name, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + name);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

const Model& IdlModel() {
  static const Model model = ParseIdl(ReadSourceFile("idl/corvane.idl"));
  return model;
}

const Model& HeaderModel() {
  static const Model model = ParseHeader(ReadSourceFile("include/corvane/corvane.h"));
  return model;
}

}  // namespace corvane::test
