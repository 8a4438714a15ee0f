// The registered type library read back through ITypeLib and ITypeInfo and
// compared with the IDL it is built from: the library's attributes, its type
// infos in order, the coclasses, every interface slot with its parameters and
// every enumeration constant.
#include <gtest/gtest.h>

#include <iterator>
#include <map>

#include "idl/idl_model.h"
#include "windows/client_util.h"

namespace corvane::test {
namespace {

// Name and help string of a member, or of the type itself (MEMBERID_NIL).
std::pair<std::string, std::string> Doc(ITypeInfo* info, MEMBERID id = MEMBERID_NIL) {
  Bstr name, help;
  info->GetDocumentation(id, name.out(), help.out(), nullptr, nullptr);
  return {name.utf8(), help.utf8()};
}

// Holds a TYPEATTR for one scope.
class TypeAttr {
 public:
  explicit TypeAttr(ITypeInfo* info) : info_(info) { info_->GetTypeAttr(&attr_); }
  ~TypeAttr() {
    if (attr_) info_->ReleaseTypeAttr(attr_);
  }
  const TYPEATTR* get() const { return attr_; }
  const TYPEATTR* operator->() const { return attr_; }

 private:
  ITypeInfo* info_;
  TYPEATTR* attr_ = nullptr;
};

GuidValue ValueOf(const GUID& g) {
  GuidValue v{g.Data1, g.Data2, g.Data3};
  for (int i = 0; i < 8; ++i) v[3 + i] = g.Data4[i];
  return v;
}

// Creatable, with its one interface as default.
void ExpectCoclass(ITypeInfo* info, const TYPEATTR* attr, const Coclass& c) {
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_EQ(ValueOf(attr->guid), IdlModel().guids.at("CLSID_" + c.name));
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
  ASSERT_EQ(attr->cImplTypes, 1);
  INT flags = 0;
  EXPECT_EQ(info->GetImplTypeFlags(0, &flags), S_OK);
  EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);
  HREFTYPE ref = 0;
  ComPtr<ITypeInfo> iface;
  ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
  ASSERT_EQ(info->GetRefTypeInfo(ref, iface.out()), S_OK);
  EXPECT_EQ(Doc(iface.get()).first, c.default_interface);
}

// A custom interface straight on IUnknown (not dual, not for OLE Automation),
// each method in its slot with its help string, parameter names, types and
// directions.
void ExpectInterface(ITypeInfo* info, const TYPEATTR* attr, const Interface& iface) {
  static const std::map<std::string, VARTYPE> kTypes = {
      {"USHORT", VT_UI2}, {"BYTE", VT_UI1},      {"ULONG", VT_UI4},      {"LONG", VT_I4},
      {"LONGLONG", VT_I8}, {"ULONGLONG", VT_UI8}, {"BSTR", VT_BSTR}};
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  EXPECT_EQ(ValueOf(attr->guid), IdlModel().guids.at("IID_" + iface.name));
  EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE), 0);
  EXPECT_EQ(attr->cbSizeVft, (3 + iface.methods.size()) * sizeof(void*));
  ASSERT_EQ(attr->cImplTypes, 1);
  HREFTYPE ref = 0;
  ComPtr<ITypeInfo> base;
  ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
  ASSERT_EQ(info->GetRefTypeInfo(ref, base.out()), S_OK);
  EXPECT_TRUE(IsEqualGUID(TypeAttr(base.get())->guid, IID_IUnknown));

  ASSERT_EQ(attr->cFuncs, iface.methods.size());
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    const Method& m = iface.methods[i];
    SCOPED_TRACE(m.name);
    FUNCDESC* func = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &func), S_OK);
    EXPECT_EQ(func->oVft, static_cast<SHORT>((3 + i) * sizeof(void*)));
    EXPECT_EQ(func->callconv, CC_STDCALL);
    EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_HRESULT);
    EXPECT_EQ(Doc(info, func->memid), std::make_pair(m.name, m.help));
    BSTR names[32] = {};
    UINT named = 0;
    info->GetNames(func->memid, names, 32, &named);
    EXPECT_EQ(named, m.params.size() + 1);
    EXPECT_EQ(static_cast<size_t>(func->cParams), m.params.size());
    for (size_t k = 0; k < m.params.size() && k < static_cast<size_t>(func->cParams); ++k) {
      const Param& p = m.params[k];
      const ELEMDESC& e = func->lprgelemdescParam[k];
      EXPECT_EQ(k + 1 < named ? Narrow(names[k + 1]) : "", p.name);
      EXPECT_EQ(e.paramdesc.wParamFlags & (PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FRETVAL),
                (p.in ? PARAMFLAG_FIN : 0) | (p.out ? PARAMFLAG_FOUT : 0) | (p.retval ? PARAMFLAG_FRETVAL : 0))
          << p.name;
      const TYPEDESC* t = &e.tdesc;
      int pointers = 0;
      for (; t->vt == VT_PTR; t = t->lptdesc) ++pointers;
      EXPECT_EQ(pointers, p.pointers) << p.name;
      auto known = kTypes.find(p.type);
      EXPECT_EQ(t->vt, known == kTypes.end() ? VARTYPE{VT_USERDEFINED} : known->second) << p.name;
    }
    for (UINT n = 0; n < named; ++n) SysFreeString(names[n]);
    info->ReleaseFuncDesc(func);
  }
}

void ExpectEnumeration(ITypeInfo* info, const TYPEATTR* attr, const Enumeration& e) {
  EXPECT_EQ(attr->typekind, TKIND_ENUM);
  ASSERT_EQ(attr->cVars, e.constants.size());
  for (UINT i = 0; i < attr->cVars; ++i) {
    VARDESC* var = nullptr;
    ASSERT_EQ(info->GetVarDesc(i, &var), S_OK);
    EXPECT_EQ(Doc(info, var->memid).first, e.constants[i].name);
    EXPECT_EQ(var->varkind, VAR_CONST);
    VARIANT value;
    VariantInit(&value);
    EXPECT_EQ(VariantChangeType(&value, var->lpvarValue, 0, VT_I4), S_OK);
    EXPECT_EQ(V_I4(&value), e.constants[i].value) << e.constants[i].name;
    info->ReleaseVarDesc(var);
  }
}

TEST(TypeLibraryTest, EveryTypeInfoInLibraryOrderMatchesItsIdlDeclaration) {
  Apartment apartment(COINIT_APARTMENTTHREADED);
  ASSERT_EQ(apartment.result(), S_OK);
  ComPtr<ITypeLib> library;
  ASSERT_EQ(LoadRegTypeLib(LIBID_KRVCmnCorvaneLib, 1, 0, LOCALE_NEUTRAL, library.out()), S_OK);
  const Model& idl = IdlModel();
  TLIBATTR* lib = nullptr;
  ASSERT_EQ(library->GetLibAttr(&lib), S_OK);
  EXPECT_EQ(ValueOf(lib->guid), idl.guids.at("LIBID_KRVCmnCorvaneLib"));
  EXPECT_EQ(lib->wMajorVerNum, 1);
  EXPECT_EQ(lib->wMinorVerNum, 0);
  EXPECT_EQ(lib->lcid, 0u);
  EXPECT_EQ(lib->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);  // the module's own
  library->ReleaseTLibAttr(lib);
  Bstr name, help;
  library->GetDocumentation(-1, name.out(), help.out(), nullptr, nullptr);
  EXPECT_EQ(name.utf8(), "KRVCmnCorvaneLib");
  EXPECT_EQ(help.utf8(), "KRV Cmn Corvane Library");

  const char* const order[] = {"CORVANE_ERROR_RESULTS", "EnumCVRBlockID",        "Corvane",
                               "ICorvane",              "EnumCVRFileAccessMode", "EnumCVRFileCreateMode",
                               "LogFile",               "ILogFile",              "EnumFileAccessMode",
                               "EnumFileVersion",       "LogFile2",              "ILogFile2"};
  ASSERT_EQ(library->GetTypeInfoCount(), std::size(order));
  ASSERT_EQ(idl.enums.size() + idl.coclasses.size() + idl.interfaces.size(), std::size(order));
  for (UINT i = 0; i < std::size(order); ++i) {
    SCOPED_TRACE(order[i]);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(library->GetTypeInfo(i, info.out()), S_OK);
    TypeAttr attr(info.get());
    auto [type_name, type_help] = Doc(info.get());
    EXPECT_EQ(type_name, order[i]);
    EXPECT_EQ(attr->wMajorVerNum, 0);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    if (const Enumeration* e = Find(idl.enums, type_name)) {
      EXPECT_EQ(type_help, e->help);
      ExpectEnumeration(info.get(), attr.get(), *e);
    } else if (const Coclass* c = Find(idl.coclasses, type_name)) {
      EXPECT_EQ(type_help, c->help);
      ExpectCoclass(info.get(), attr.get(), *c);
    } else if (const Interface* f = Find(idl.interfaces, type_name)) {
      EXPECT_EQ(type_help, f->help);
      ExpectInterface(info.get(), attr.get(), *f);
    } else {
      ADD_FAILURE() << "not declared in the IDL";
    }
  }
}

}  // namespace
}  // namespace corvane::test
