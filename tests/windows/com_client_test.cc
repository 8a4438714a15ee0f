// The registered module as a Windows client meets it: classes named by their
// ProgIDs and created through the registry, error objects whose source is the
// ProgID, and the registered type library read back through ITypeLib and
// ITypeInfo: the library's attributes and its type infos in their fixed
// order, each with the identifier that <corvane/corvane.h> gives it, each
// interface a custom one on IUnknown with all its slots, each coclass
// creatable with its interface.
#include <gtest/gtest.h>

#include <iterator>

#include "windows/client_util.h"

namespace corvane::test {
namespace {

template <class T>
HRESULT CloseThrough(IUnknown* object) {
  return static_cast<T*>(object)->Close();
}

const struct {
  const CLSID* clsid;
  const IID* iid;
  const wchar_t* prog_id;  // versioned; without ".1" the version independent one
  HRESULT (*close)(IUnknown*);
  const char* closed_error;
} kClasses[] = {
    {&CLSID_Corvane, &IID_ICorvane, L"KRV.Cmn.Corvane.1", CloseThrough<ICorvane>, "File not open;CORVANE=0x80043006"},
    {&CLSID_LogFile, &IID_ILogFile, L"KRV.Cmn.Corvane.LogFile.1", CloseThrough<ILogFile>,
     "File not open;LOGFILE=0x80043006"},
    {&CLSID_LogFile2, &IID_ILogFile2, L"Corvane.LogFile2.1", CloseThrough<ILogFile2>, "File not open;LOGFILE=0x80043006"},
};

TEST(ComClientTest, EveryClassThroughTheRegistry) {
  Apartment apartment(COINIT_APARTMENTTHREADED);
  ASSERT_EQ(apartment.result(), S_OK);
  for (const auto& c : kClasses) {
    const std::wstring versioned = c.prog_id, independent = versioned.substr(0, versioned.size() - 2);
    SCOPED_TRACE(Narrow(c.prog_id));
    for (const std::wstring& prog_id : {versioned, independent}) {
      CLSID clsid = {};
      EXPECT_EQ(CLSIDFromProgID(prog_id.c_str(), &clsid), S_OK);
      EXPECT_TRUE(IsEqualCLSID(clsid, *c.clsid));
    }
    LPOLESTR prog_id = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(*c.clsid, &prog_id), S_OK);
    EXPECT_EQ(prog_id, versioned);
    CoTaskMemFree(prog_id);
    ComPtr<IUnknown> object;
    ASSERT_EQ(CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, *c.iid, object.out_void()), S_OK);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(c.close(object.get()), static_cast<HRESULT>(E_CVR_FILE_NOT_OPEN));
    ErrorRecord error = TakeError();
    EXPECT_EQ(error.description, c.closed_error);
    EXPECT_EQ(Widen(error.source), versioned);
    EXPECT_TRUE(IsEqualGUID(error.guid, *c.iid));
  }
}

std::string Name(ITypeInfo* info, MEMBERID id = MEMBERID_NIL) {
  Bstr name;
  info->GetDocumentation(id, name.out(), nullptr, nullptr, nullptr);
  return name.utf8();
}

const struct {
  const char* name;
  TYPEKIND kind;
  const GUID* guid;
  WORD members;  // methods of an interface, constants of an enumeration
} kTypes[] = {
    {"CORVANE_ERROR_RESULTS", TKIND_ENUM, nullptr, 28}, {"EnumCVRBlockID", TKIND_ENUM, nullptr, 23},
    {"Corvane", TKIND_COCLASS, &CLSID_Corvane, 0},      {"ICorvane", TKIND_INTERFACE, &IID_ICorvane, 8},
    {"EnumCVRFileAccessMode", TKIND_ENUM, nullptr, 2},  {"EnumCVRFileCreateMode", TKIND_ENUM, nullptr, 3},
    {"LogFile", TKIND_COCLASS, &CLSID_LogFile, 0},      {"ILogFile", TKIND_INTERFACE, &IID_ILogFile, 7},
    {"EnumFileAccessMode", TKIND_ENUM, nullptr, 3},     {"EnumFileVersion", TKIND_ENUM, nullptr, 18},
    {"LogFile2", TKIND_COCLASS, &CLSID_LogFile2, 0},    {"ILogFile2", TKIND_INTERFACE, &IID_ILogFile2, 24},
};

TEST(TypeLibraryTest, EveryTypeInfoInLibraryOrderMatchesTheHeader) {
  Apartment apartment(COINIT_APARTMENTTHREADED);
  ASSERT_EQ(apartment.result(), S_OK);
  ComPtr<ITypeLib> library;
  ASSERT_EQ(LoadRegTypeLib(LIBID_KRVCmnCorvaneLib, 1, 0, LOCALE_NEUTRAL, library.out()), S_OK);
  TLIBATTR* lib = nullptr;
  ASSERT_EQ(library->GetLibAttr(&lib), S_OK);
  EXPECT_TRUE(IsEqualGUID(lib->guid, LIBID_KRVCmnCorvaneLib));
  EXPECT_EQ(lib->wMajorVerNum, 1);
  EXPECT_EQ(lib->wMinorVerNum, 0);
  EXPECT_EQ(lib->lcid, 0u);
  EXPECT_EQ(lib->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);  // the module's own
  library->ReleaseTLibAttr(lib);
  Bstr name, help;
  library->GetDocumentation(-1, name.out(), help.out(), nullptr, nullptr);
  EXPECT_EQ(name.utf8(), "KRVCmnCorvaneLib");
  EXPECT_EQ(help.utf8(), "KRV Cmn Corvane Library");

  ASSERT_EQ(library->GetTypeInfoCount(), std::size(kTypes));
  for (UINT i = 0; i < std::size(kTypes); ++i) {
    const auto& t = kTypes[i];
    SCOPED_TRACE(t.name);
    ComPtr<ITypeInfo> info, ref_info;
    ASSERT_EQ(library->GetTypeInfo(i, info.out()), S_OK);
    EXPECT_EQ(Name(info.get()), t.name);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, t.kind);
    EXPECT_TRUE(!t.guid || IsEqualGUID(attr->guid, *t.guid));
    EXPECT_EQ(t.kind == TKIND_ENUM ? attr->cVars : attr->cFuncs, t.members);
    HREFTYPE ref = 0;
    if (t.kind != TKIND_ENUM) {  // the base interface, or the coclass's interface
      EXPECT_EQ(attr->cImplTypes, 1);
      ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
      ASSERT_EQ(info->GetRefTypeInfo(ref, ref_info.out()), S_OK);
    }
    if (t.kind == TKIND_INTERFACE) {  // custom on IUnknown, not dual, with all its slots
      EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE), 0);
      EXPECT_EQ(attr->cbSizeVft, (3 + t.members) * sizeof(void*));
      EXPECT_EQ(Name(ref_info.get()), "IUnknown");
    } else if (t.kind == TKIND_COCLASS) {  // creatable, its one interface the default
      INT flags = 0;
      EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
      EXPECT_EQ(info->GetImplTypeFlags(0, &flags), S_OK);
      EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);
      EXPECT_EQ(Name(ref_info.get()), std::string("I") + t.name);
    }
    info->ReleaseTypeAttr(attr);
  }
}

}  // namespace
}  // namespace corvane::test
