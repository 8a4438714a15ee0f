// A text-level reader of idl/corvane.idl and of the hand-written non-Windows
// declarations in include/corvane/corvane.h, each reduced to one model so that
// the two (and the type library built from the IDL) can be compared.
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
  bool in = false, out = false, retval = false;  // IDL only
  std::string size_is;                           // IDL only
};
struct Method {
  std::string name, help;  // help: IDL only
  std::vector<Param> params;
};
struct Interface {
  std::string name, base, help;
  std::vector<Method> methods;
};
struct Constant {
  std::string name;
  int64_t value = 0;
};
struct Enumeration {
  std::string name, help;
  std::vector<Constant> constants;
};
struct Coclass {  // IDL only
  std::string name, help, default_interface;
};
struct Field {
  std::string name, type;
};

struct Model {
  std::vector<Interface> interfaces;
  std::vector<Enumeration> enums;
  std::vector<Coclass> coclasses;
  std::vector<Field> block_header;
  // IID_*, CLSID_*, LIBID_* by name; the header model also holds the Windows
  // branch's definitions under the prefix "win:".
  std::map<std::string, GuidValue> guids;
};

// The models of the source tree's IDL and header, parsed once.
const Model& IdlModel();
const Model& HeaderModel();

template <class T>
const T* Find(const std::vector<T>& items, const std::string& name) {
  for (const T& item : items) {
    if (item.name == name) return &item;
  }
  return nullptr;
}

}  // namespace corvane::test

#endif  // CORVANE_TESTS_IDL_IDL_MODEL_H_
