// A small text-level reader of idl/corvane.idl and of the hand-written
// declarations in include/corvane/corvane.h, reduced to one model each so that
// the two can be compared: interfaces with their methods and parameters,
// enumerations, the LogBlockHeader fields, and the identifiers.
#ifndef CORVANE_TESTS_IDL_IDL_MODEL_H_
#define CORVANE_TESTS_IDL_IDL_MODEL_H_

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace corvane::test {

using GuidValue = std::array<uint32_t, 11>;  // Data1, Data2, Data3, Data4[0..7]

struct Param {
  std::string name;
  std::string type;  // normalised: USHORT, BYTE, ULONG, LONG, LONGLONG, ULONGLONG, BSTR, enums
  int pointers = 0;
  // IDL only.
  bool in = false;
  bool out = false;
  bool retval = false;
  std::string size_is;
};

struct Method {
  std::string name;
  std::string help;  // IDL only
  std::vector<Param> params;
};

struct Interface {
  std::string name;
  std::string base;
  std::string help;  // IDL only
  std::vector<Method> methods;
};

struct Constant {
  std::string name;
  int64_t value = 0;
};

struct Enumeration {
  std::string name;
  std::string help;  // IDL only
  std::vector<Constant> constants;
};

struct Field {
  std::string name;
  std::string type;
};

struct Model {
  std::vector<Interface> interfaces;
  std::vector<Enumeration> enums;
  std::vector<Field> block_header;
  // IID_*, CLSID_*, LIBID_* by name.
  std::map<std::string, GuidValue> guids;
};

// The model of the IDL text.
Model ParseIdl(const std::string& text);
// The model of the non-Windows branch of corvane.h (declarations written out
// by hand); guids also holds the Windows branch's definitions under the
// prefix "win:".
Model ParseHeader(const std::string& text);

std::string ReadTextFile(const std::string& path);

}  // namespace corvane::test

#endif  // CORVANE_TESTS_IDL_IDL_MODEL_H_
