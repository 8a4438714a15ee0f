#include "idl/idl_model.h"

#include <cctype>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace corvane::test {
namespace {

// Removes comments (keeping string literals intact) and, when asked,
// preprocessor lines with their continuations.
std::string StripComments(const std::string& in, bool drop_preprocessor) {
  std::string out;
  bool line_start = true;
  for (size_t i = 0; i < in.size();) {
    char c = in[i];
    if (drop_preprocessor && line_start && c == '#') {
      while (i < in.size() && in[i] != '\n') {
        if (in[i] == '\\' && i + 1 < in.size() && in[i + 1] == '\n') ++i;
        ++i;
      }
      continue;
    }
    if (c == '"') {
      size_t j = i + 1;
      while (j < in.size() && in[j] != '"') j += in[j] == '\\' ? 2 : 1;
      out.append(in, i, j + 1 - i);
      i = j + 1;
      line_start = false;
      continue;
    }
    if (c == '/' && i + 1 < in.size() && in[i + 1] == '/') {
      while (i < in.size() && in[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < in.size() && in[i + 1] == '*') {
      size_t end = in.find("*/", i + 2);
      i = end == std::string::npos ? in.size() : end + 2;
      out.push_back(' ');
      continue;
    }
    out.push_back(c);
    if (c == '\n') {
      line_start = true;
    } else if (!std::isspace(static_cast<unsigned char>(c))) {
      line_start = false;
    }
    ++i;
  }
  return out;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// Splits at `sep` outside brackets, parentheses and string literals.
std::vector<std::string> SplitTopLevel(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::string cur;
  int depth = 0;
  bool in_string = false;
  for (char c : s) {
    if (c == '"') in_string = !in_string;
    if (!in_string) {
      if (c == '(' || c == '[' || c == '{') ++depth;
      if (c == ')' || c == ']' || c == '}') --depth;
      if (c == sep && depth == 0) {
        parts.push_back(Trim(cur));
        cur.clear();
        continue;
      }
    }
    cur.push_back(c);
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

std::string NormaliseType(std::string type) {
  type = std::regex_replace(type, std::regex("\\s+"), " ");
  type = Trim(type);
  static const std::map<std::string, std::string> kNames = {
      {"unsigned short", "USHORT"}, {"unsigned char", "BYTE"},   {"unsigned long", "ULONG"},
      {"long", "LONG"},             {"hyper", "LONGLONG"},       {"__int64", "LONGLONG"},
      {"unsigned hyper", "ULONGLONG"}, {"MIDL_uhyper", "ULONGLONG"},
  };
  auto it = kNames.find(type);
  return it == kNames.end() ? type : it->second;
}

// "unsigned char* pbyData" -> type, pointer count, name.
void SplitDeclaration(const std::string& decl, std::string* type, int* pointers,
                      std::string* name) {
  std::string d = decl;
  *pointers = 0;
  for (char& c : d) {
    if (c == '*') {
      ++*pointers;
      c = ' ';
    }
  }
  d = Trim(d);
  size_t last = d.find_last_of(" \t\n");
  *name = Trim(d.substr(last + 1));
  *type = NormaliseType(d.substr(0, last));
}

int64_t ParseConstant(std::string text) {
  text = std::regex_replace(text, std::regex("\\(\\s*int\\s*\\)"), "");
  text = Trim(text);
  long long v = std::stoll(text, nullptr, 0);
  return static_cast<int32_t>(static_cast<uint32_t>(v));  // 32-bit signed, as COM stores them
}

std::vector<Constant> ParseConstants(const std::string& body) {
  std::vector<Constant> out;
  for (const std::string& item : SplitTopLevel(body, ',')) {
    size_t eq = item.find('=');
    if (eq == std::string::npos) throw std::runtime_error("constant without value: " + item);
    out.push_back({Trim(item.substr(0, eq)), ParseConstant(item.substr(eq + 1))});
  }
  return out;
}

std::string HelpString(const std::string& attributes) {
  std::smatch m;
  if (std::regex_search(attributes, m, std::regex("helpstring\\(\"([^\"]*)\"\\)"))) return m[1];
  return std::string();
}

GuidValue ParseUuid(const std::string& attributes) {
  std::smatch m;
  if (!std::regex_search(attributes, m,
                         std::regex("uuid\\(([0-9A-Fa-f]{8})-([0-9A-Fa-f]{4})-([0-9A-Fa-f]{4})-"
                                    "([0-9A-Fa-f]{4})-([0-9A-Fa-f]{12})\\)"))) {
    throw std::runtime_error("no uuid in: " + attributes);
  }
  GuidValue g{};
  g[0] = static_cast<uint32_t>(std::stoul(m[1], nullptr, 16));
  g[1] = static_cast<uint32_t>(std::stoul(m[2], nullptr, 16));
  g[2] = static_cast<uint32_t>(std::stoul(m[3], nullptr, 16));
  std::string tail = m[4].str() + m[5].str();
  for (int i = 0; i < 8; ++i) g[3 + i] = static_cast<uint32_t>(std::stoul(tail.substr(2 * i, 2), nullptr, 16));
  return g;
}

GuidValue ParseGuidNumbers(const std::string& list) {
  std::string digits = std::regex_replace(list, std::regex("[{}]"), " ");
  std::vector<std::string> parts = SplitTopLevel(digits, ',');
  if (parts.size() != 11) throw std::runtime_error("GUID needs 11 numbers: " + list);
  GuidValue g{};
  for (int i = 0; i < 11; ++i) g[i] = static_cast<uint32_t>(std::stoul(parts[i], nullptr, 0));
  return g;
}

std::vector<Field> ParseFields(const std::string& body) {
  std::vector<Field> out;
  for (const std::string& decl : SplitTopLevel(body, ';')) {
    Field f;
    int pointers = 0;
    SplitDeclaration(decl, &f.type, &pointers, &f.name);
    if (pointers) f.type += "*";
    out.push_back(f);
  }
  return out;
}

Param ParseIdlParam(const std::string& text) {
  Param p;
  std::string decl = text;
  if (!decl.empty() && decl[0] == '[') {
    size_t close = decl.find(']');
    for (const std::string& attr : SplitTopLevel(decl.substr(1, close - 1), ',')) {
      if (attr == "in") p.in = true;
      else if (attr == "out") p.out = true;
      else if (attr == "retval") p.retval = true;
      else if (attr.rfind("size_is", 0) == 0) {
        p.size_is = Trim(attr.substr(attr.find('(') + 1, attr.rfind(')') - attr.find('(') - 1));
      } else {
        throw std::runtime_error("unexpected parameter attribute: " + attr);
      }
    }
    decl = decl.substr(close + 1);
  }
  SplitDeclaration(decl, &p.type, &p.pointers, &p.name);
  return p;
}

Param ParseCppParam(const std::string& text) {
  Param p;
  SplitDeclaration(text, &p.type, &p.pointers, &p.name);
  return p;
}

}  // namespace

Model ParseIdl(const std::string& raw) {
  const std::string text = StripComments(raw, /*drop_preprocessor=*/false);
  Model model;
  std::smatch m;

  const std::regex enum_re(
      "typedef\\s*\\[([^\\]]*)\\]\\s*enum\\s+(\\w+)\\s*\\{([^}]*)\\}\\s*(\\w+)\\s*;");
  for (std::sregex_iterator it(text.begin(), text.end(), enum_re), end; it != end; ++it) {
    if ((*it)[2] != (*it)[4]) throw std::runtime_error("enum tag and typedef differ");
    model.enums.push_back({(*it)[2], HelpString((*it)[1]), ParseConstants((*it)[3])});
  }

  if (std::regex_search(text, m, std::regex("typedef\\s+struct\\s+LogBlockHeader\\s*\\{([^}]*)\\}"))) {
    model.block_header = ParseFields(m[1]);
  }

  const std::regex iface_re("\\[([^\\[\\]]*)\\]\\s*interface\\s+(\\w+)\\s*:\\s*(\\w+)\\s*\\{");
  for (std::sregex_iterator it(text.begin(), text.end(), iface_re), end; it != end; ++it) {
    Interface iface;
    iface.name = (*it)[2];
    iface.base = (*it)[3];
    iface.help = HelpString((*it)[1]);
    model.guids["IID_" + iface.name] = ParseUuid((*it)[1]);
    size_t open = static_cast<size_t>(it->position(0) + it->length(0) - 1);
    for (const std::string& stmt : SplitTopLevel(BracedBody(text, open), ';')) {
      std::smatch mm;
      if (!std::regex_match(stmt, mm,
                            std::regex("\\s*(?:\\[([^\\]]*)\\])?\\s*HRESULT\\s+(\\w+)\\s*\\(([\\s\\S]*)\\)\\s*"))) {
        throw std::runtime_error("unexpected statement: " + stmt);
      }
      Method method;
      method.name = mm[2];
      method.help = HelpString(mm[1]);
      for (const std::string& p : SplitTopLevel(mm[3], ',')) {
        if (p != "void") method.params.push_back(ParseIdlParam(p));
      }
      iface.methods.push_back(method);
    }
    model.interfaces.push_back(iface);
  }

  const std::regex coclass_re("\\[([^\\[\\]]*)\\]\\s*coclass\\s+(\\w+)");
  for (std::sregex_iterator it(text.begin(), text.end(), coclass_re), end; it != end; ++it) {
    model.guids["CLSID_" + (*it)[2].str()] = ParseUuid((*it)[1]);
  }
  if (std::regex_search(text, m, std::regex("\\[([^\\[\\]]*)\\]\\s*library\\s+(\\w+)"))) {
    model.guids["LIBID_" + m[2].str()] = ParseUuid(m[1]);
  }
  return model;
}

Model ParseHeader(const std::string& raw) {
  // The Windows branch lies between "#ifdef _WIN32" and the "#else" before
  // compat.h; the hand-written declarations follow up to "#endif  // _WIN32".
  size_t win_begin = raw.find("#ifdef _WIN32");
  size_t posix_begin = raw.find("#include <corvane/compat.h>");
  size_t posix_end = raw.find("#endif  // _WIN32");
  if (win_begin == std::string::npos || posix_begin == std::string::npos ||
      posix_end == std::string::npos || !(win_begin < posix_begin && posix_begin < posix_end)) {
    throw std::runtime_error("corvane.h: platform branches not found");
  }
  const std::string windows = StripComments(raw.substr(win_begin, posix_begin - win_begin), true);
  const std::string text = StripComments(raw.substr(posix_begin, posix_end - posix_begin), true);
  Model model;
  std::smatch m;

  const std::regex enum_re("typedef\\s+enum\\s+(\\w+)\\s*\\{([^}]*)\\}\\s*(\\w+)\\s*;");
  for (std::sregex_iterator it(text.begin(), text.end(), enum_re), end; it != end; ++it) {
    if ((*it)[1] != (*it)[3]) throw std::runtime_error("enum tag and typedef differ");
    model.enums.push_back({(*it)[1], "", ParseConstants((*it)[2])});
  }

  if (std::regex_search(text, m, std::regex("typedef\\s+struct\\s+LogBlockHeader\\s*\\{([^}]*)\\}"))) {
    model.block_header = ParseFields(m[1]);
  }

  const std::regex guid_re("inline\\s+constexpr\\s+(?:IID|CLSID|GUID)\\s+(\\w+)\\s*=\\s*([^;]*);");
  for (std::sregex_iterator it(text.begin(), text.end(), guid_re), end; it != end; ++it) {
    model.guids[(*it)[1]] = ParseGuidNumbers((*it)[2]);
  }
  const std::regex win_guid_re("CORVANE_DEFINE_GUID_\\(\\s*(\\w+)\\s*,([^)]*)\\)");
  for (std::sregex_iterator it(windows.begin(), windows.end(), win_guid_re), end; it != end;
       ++it) {
    model.guids["win:" + (*it)[1].str()] = ParseGuidNumbers((*it)[2]);
  }

  const std::regex iface_re("struct\\s+(\\w+)\\s*:\\s*public\\s+(\\w+)\\s*\\{");
  const std::regex method_re(
      "virtual\\s+HRESULT\\s+STDMETHODCALLTYPE\\s+(\\w+)\\s*\\(([^)]*)\\)\\s*=\\s*0\\s*;");
  for (std::sregex_iterator it(text.begin(), text.end(), iface_re), end; it != end; ++it) {
    Interface iface;
    iface.name = (*it)[1];
    iface.base = (*it)[2];
    size_t open = static_cast<size_t>(it->position(0) + it->length(0) - 1);
    const std::string body = BracedBody(text, open);
    for (std::sregex_iterator mt(body.begin(), body.end(), method_re); mt != end; ++mt) {
      Method method;
      method.name = (*mt)[1];
      for (const std::string& p : SplitTopLevel((*mt)[2], ',')) {
        if (p != "void") method.params.push_back(ParseCppParam(p));
      }
      iface.methods.push_back(method);
    }
    model.interfaces.push_back(iface);
  }
  return model;
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace corvane::test
