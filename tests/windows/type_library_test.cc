// The registered type library, read back through ITypeLib and ITypeInfo: the
// library's attributes, its twelve type infos in their order, the custom
// interfaces with their slots and help strings, and the enumeration values.
#include <gtest/gtest.h>

#include <vector>

#include "windows/client_util.h"

namespace corvane::test {
namespace {

class TypeLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(apartment_.result(), S_OK);
    ASSERT_EQ(LoadRegTypeLib(LIBID_KRVCmnCorvaneLib, 1, 0, LOCALE_NEUTRAL, library_.out()), S_OK);
  }

  // Name and help string of a type info (index) or of the library (-1).
  static std::pair<std::string, std::string> Documentation(ITypeLib* lib, INT index) {
    BSTR name = nullptr, doc = nullptr;
    lib->GetDocumentation(index, &name, &doc, nullptr, nullptr);
    std::pair<std::string, std::string> out{ToNarrow(name), ToNarrow(doc)};
    SysFreeString(name);
    SysFreeString(doc);
    return out;
  }

  ComPtr<ITypeInfo> Info(UINT index) {
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(library_->GetTypeInfo(index, info.out()), S_OK);
    return info;
  }

  Apartment apartment_{COINIT_APARTMENTTHREADED};
  ComPtr<ITypeLib> library_;
};

// Holds a TYPEATTR for one scope.
class TypeAttr {
 public:
  explicit TypeAttr(ITypeInfo* info) : info_(info) { info_->GetTypeAttr(&attr_); }
  ~TypeAttr() {
    if (attr_) info_->ReleaseTypeAttr(attr_);
  }
  const TYPEATTR* operator->() const { return attr_; }

 private:
  ITypeInfo* info_;
  TYPEATTR* attr_ = nullptr;
};

TEST_F(TypeLibraryTest, LibraryAttributes) {
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(library_->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_KRVCmnCorvaneLib));
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->lcid, 0u);
  // The pointer size of the module's own architecture.
  EXPECT_EQ(attr->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  library_->ReleaseTLibAttr(attr);
  auto doc = Documentation(library_.get(), -1);
  EXPECT_EQ(doc.first, "KRVCmnCorvaneLib");
  EXPECT_EQ(doc.second, "KRV Cmn Corvane Library");
}

TEST_F(TypeLibraryTest, TwelveTypeInfosInLibraryOrder) {
  struct Entry {
    const char* name;
    TYPEKIND kind;
    const char* help;
    const GUID* guid;  // null for enumerations
  };
  const Entry expected[] = {
      {"CORVANE_ERROR_RESULTS", TKIND_ENUM, "Logfile module specific return codes", nullptr},
      {"EnumCVRBlockID", TKIND_ENUM, "Binary logfile block ID's", nullptr},
      {"Corvane", TKIND_COCLASS, "KRV Cmn Corvane Library", &CLSID_Corvane},
      {"ICorvane", TKIND_INTERFACE, "ICorvane Interface", &IID_ICorvane},
      {"EnumCVRFileAccessMode", TKIND_ENUM, "Binary logfile file access mode", nullptr},
      {"EnumCVRFileCreateMode", TKIND_ENUM, "Binary logfile file create mode", nullptr},
      {"LogFile", TKIND_COCLASS, "Provides decrypted access to many Log File formats",
       &CLSID_LogFile},
      {"ILogFile", TKIND_INTERFACE, "ILogFile Interface", &IID_ILogFile},
      {"EnumFileAccessMode", TKIND_ENUM, "Logfile file access mode", nullptr},
      {"EnumFileVersion", TKIND_ENUM, "Logfile version or format", nullptr},
      {"LogFile2", TKIND_COCLASS, "Fast Tracing, scrolling, bookmarking Log file access",
       &CLSID_LogFile2},
      {"ILogFile2", TKIND_INTERFACE, "ILogFile2 Interface", &IID_ILogFile2},
  };
  ASSERT_EQ(library_->GetTypeInfoCount(), 12u);
  for (UINT i = 0; i < 12; ++i) {
    SCOPED_TRACE(expected[i].name);
    auto doc = Documentation(library_.get(), static_cast<INT>(i));
    EXPECT_EQ(doc.first, expected[i].name);
    EXPECT_EQ(doc.second, expected[i].help);
    TYPEKIND kind;
    ASSERT_EQ(library_->GetTypeInfoType(i, &kind), S_OK);
    EXPECT_EQ(kind, expected[i].kind);
    ComPtr<ITypeInfo> info = Info(i);
    TypeAttr attr(info.get());
    EXPECT_EQ(attr->wMajorVerNum, 0);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    if (expected[i].guid) {
      EXPECT_TRUE(IsEqualGUID(attr->guid, *expected[i].guid));
    }
  }
}

// Each coclass is creatable with its one interface as default.
TEST_F(TypeLibraryTest, CoclassesHaveTheirInterfaceAsDefault) {
  const std::pair<UINT, const char*> coclasses[] = {{2, "ICorvane"}, {6, "ILogFile"}, {10, "ILogFile2"}};
  for (auto [index, interface_name] : coclasses) {
    SCOPED_TRACE(interface_name);
    ComPtr<ITypeInfo> info = Info(index);
    TypeAttr attr(info.get());
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    ASSERT_EQ(attr->cImplTypes, 1);
    INT flags = 0;
    EXPECT_EQ(info->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE ref;
    ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
    ComPtr<ITypeInfo> iface;
    ASSERT_EQ(info->GetRefTypeInfo(ref, iface.out()), S_OK);
    BSTR name = nullptr;
    iface->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    EXPECT_EQ(ToNarrow(name), interface_name);
    SysFreeString(name);
  }
}

struct InterfaceCase {
  UINT index;
  const char* name;
  int slots;  // with the three of IUnknown
  std::vector<std::pair<const char*, const char*>> methods;  // name, help string
};

const InterfaceCase kInterfaces[] = {
    {3, "ICorvane", 11,
     {{"Open", "Opens corvane for reading or writing"}, {"Close", "Closes corvane"},
      {"WriteBlock", "Writes one block into file"},
      {"ReadBlockHeader", "Reads block header from file"},
      {"ReadBlockData", "Reads block data from file"}, {"Flush", "Flushes file"},
      {"GetFileSize", "Gets file size"}, {"GetFilePointerPos", "Get file pointer posistion"}}},
    {7, "ILogFile", 10,
     {{"Open", "Opens logfile for reading or writing"},
      {"GetFilePointerPos", "Gets file pointer position"}, {"GetFileSize", "Gets file size"},
      {"ReadBlockHeader", "Reads block header from file"}, {"ReadBlockData", "Reads block data"},
      {"Close", "Flushes data to disk and closes file"},
      {"WriteBlock", "Writes header and data to disk"}}},
    {11, "ILogFile2", 27,
     {{"Open", "Opens logfile for reading or writing"},
      {"GetFilePointerPos", "Gets file pointer position"}, {"GetFileSize", "Gets file size"},
      {"ReadBlockHeader", "Reads block header from file"}, {"ReadBlockData", "Reads block data"},
      {"Close", "Flushes data to disk and closes file"}, {"WriteBlock", "Writes a block to disk"},
      {"InsertBookmark", "Inserts a Bookmark"}, {"Jump", "Jumps to message"},
      {"GetIndexedRecCount", "Gets the indexed record count"},
      {"CreateIndex", "Starts indexing thread"}, {"GetDiskSectorSize", "Gets the disk sector size"},
      {"GetIndexingProgress", "Gets indexing progress"},
      {"GetBookmarkCount", "Gets the Bookmark count"}, {"BookmarkRead", "Reads a Bookmark"},
      {"BookmarkDelete", "Deletes the current Bookmark"}, {"BookmarkJump", "Jumps to Bookmark"},
      {"BookmarkEdit", "Edits current Bookmark"},
      {"GetBookmarkBlockNumber", "Gets a Bookmark's block number"},
      {"SetDiskBufferSize", "Sets the write disk buffer size"},
      {"FlushLogfile", "Flushes the Log file"},
      {"GetIndexResolution", "Gets the resolution of the index"},
      {"GetDiskBufferSize", "Gets the disk buffer size"},
      {"GetBookmarkIndexNumber", "Gets Bookmark Number of Msg Number"}}},
};

// Custom interfaces straight on IUnknown: not dual, not for OLE Automation,
// each method in its slot with its help string.
TEST_F(TypeLibraryTest, InterfacesAreCustomWithTheirSlotsAndHelpStrings) {
  for (const InterfaceCase& c : kInterfaces) {
    SCOPED_TRACE(c.name);
    ComPtr<ITypeInfo> info = Info(c.index);
    TypeAttr attr(info.get());
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE), 0);
    EXPECT_EQ(attr->cbSizeVft, c.slots * sizeof(void*));
    ASSERT_EQ(attr->cFuncs, c.methods.size());
    ASSERT_EQ(attr->cImplTypes, 1);
    HREFTYPE ref;
    ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
    ComPtr<ITypeInfo> base;
    ASSERT_EQ(info->GetRefTypeInfo(ref, base.out()), S_OK);
    TypeAttr base_attr(base.get());
    EXPECT_TRUE(IsEqualGUID(base_attr->guid, IID_IUnknown));

    for (UINT i = 0; i < attr->cFuncs; ++i) {
      FUNCDESC* func = nullptr;
      ASSERT_EQ(info->GetFuncDesc(i, &func), S_OK);
      EXPECT_EQ(func->oVft, static_cast<SHORT>((3 + i) * sizeof(void*))) << c.methods[i].first;
      EXPECT_EQ(func->callconv, CC_STDCALL);
      EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_HRESULT);
      BSTR name = nullptr, doc = nullptr;
      info->GetDocumentation(func->memid, &name, &doc, nullptr, nullptr);
      EXPECT_EQ(ToNarrow(name), c.methods[i].first);
      EXPECT_EQ(ToNarrow(doc), c.methods[i].second);
      SysFreeString(name);
      SysFreeString(doc);
      info->ReleaseFuncDesc(func);
    }
  }
}

// Finds a method of an interface type info by name.
FUNCDESC* FindFunc(ITypeInfo* info, const char* name) {
  TypeAttr attr(info);
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* func = nullptr;
    info->GetFuncDesc(i, &func);
    BSTR n = nullptr;
    info->GetDocumentation(func->memid, &n, nullptr, nullptr, nullptr);
    bool match = ToNarrow(n) == name;
    SysFreeString(n);
    if (match) return func;
    info->ReleaseFuncDesc(func);
  }
  return nullptr;
}

// The 64-bit positions: unsigned in ILogFile, signed in ILogFile2; both
// out and retval. Byte buffers are pointers to unsigned char.
TEST_F(TypeLibraryTest, ParameterTypesAndDirections) {
  struct Case {
    UINT index;
    const char* method;
    UINT param;
    VARTYPE pointee;  // VT_EMPTY: not a pointer
    VARTYPE vt;
    USHORT flags;
  };
  const Case cases[] = {
      {7, "GetFileSize", 0, VT_UI8, VT_PTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL},
      {11, "GetFileSize", 0, VT_I8, VT_PTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL},
      {11, "Jump", 0, VT_EMPTY, VT_I8, PARAMFLAG_FIN},
      {3, "ReadBlockData", 0, VT_UI1, VT_PTR, PARAMFLAG_FOUT},
      {3, "ReadBlockData", 1, VT_EMPTY, VT_UI4, PARAMFLAG_FIN},
      {3, "WriteBlock", 0, VT_EMPTY, VT_UI2, PARAMFLAG_FIN},
      {3, "ReadBlockHeader", 4, VT_I4, VT_PTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL},
      {7, "Open", 2, VT_USERDEFINED, VT_PTR, PARAMFLAG_FIN | PARAMFLAG_FOUT},
      {11, "BookmarkRead", 0, VT_BSTR, VT_PTR, PARAMFLAG_FOUT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " in type info " + std::to_string(c.index));
    ComPtr<ITypeInfo> info = Info(c.index);
    FUNCDESC* func = FindFunc(info.get(), c.method);
    ASSERT_NE(func, nullptr);
    ASSERT_LT(c.param, static_cast<UINT>(func->cParams));
    const ELEMDESC& e = func->lprgelemdescParam[c.param];
    EXPECT_EQ(e.tdesc.vt, c.vt);
    if (c.vt == VT_PTR) {
      EXPECT_EQ(e.tdesc.lptdesc->vt, c.pointee);
    }
    EXPECT_EQ(e.paramdesc.wParamFlags & (PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FRETVAL),
              c.flags);
    info->ReleaseFuncDesc(func);
  }
}

// Every constant of every enumeration, compared with the header's values.
TEST_F(TypeLibraryTest, EnumerationValuesMatchTheHeader) {
  struct Case {
    UINT index;
    std::vector<std::pair<const char*, LONG>> constants;
  };
  const Case cases[] = {
      {0,
       {{"E_CVR_INVALID_FILE_ACCESS_MODE", E_CVR_INVALID_FILE_ACCESS_MODE},
        {"E_CVR_INVALID_CREATE_MODE", E_CVR_INVALID_CREATE_MODE},
        {"E_CVR_FILE_CREATION_FAILS", E_CVR_FILE_CREATION_FAILS},
        {"E_CVR_FILE_HEADER_INFO_WRITE_FAIL", E_CVR_FILE_HEADER_INFO_WRITE_FAIL},
        {"E_CVR_FILE_HEADER_INFO_READ_FAIL", E_CVR_FILE_HEADER_INFO_READ_FAIL},
        {"E_CVR_FILE_HEADER_INFO_WRONG_VERSION", E_CVR_FILE_HEADER_INFO_WRONG_VERSION},
        {"E_CVR_FILE_NOT_OPEN", E_CVR_FILE_NOT_OPEN},
        {"E_CVR_BLOCK_HEADER_WRITE_FAILED", E_CVR_BLOCK_HEADER_WRITE_FAILED},
        {"E_CVR_BLOCK_DATA_WRITE_FAILED", E_CVR_BLOCK_DATA_WRITE_FAILED},
        {"E_CVR_BLOCK_HEADER_READ_FAILED", E_CVR_BLOCK_HEADER_READ_FAILED},
        {"E_CVR_BLOCK_DATA_READ_FAILED", E_CVR_BLOCK_DATA_READ_FAILED},
        {"E_CVR_BLOCK_HEADER_NOT_READ", E_CVR_BLOCK_HEADER_NOT_READ},
        {"E_CVR_FILE_FLUSH_FAILED", E_CVR_FILE_FLUSH_FAILED},
        {"E_CVR_INVALID_DATA_BLOCK_SIZE", E_CVR_INVALID_DATA_BLOCK_SIZE},
        {"E_CVR_BLOCK_DATA_SKIP_FAILED", E_CVR_BLOCK_DATA_SKIP_FAILED},
        {"E_CVR_INVALID_ACCESS_FLAG_COMBINATION", E_CVR_INVALID_ACCESS_FLAG_COMBINATION},
        {"E_CVR_DISK_FULL", E_CVR_DISK_FULL},
        {"E_CVR_BLOCK_HEADER_DATA_CORRUPT", E_CVR_BLOCK_HEADER_DATA_CORRUPT},
        {"E_CVR_FILE_ALREADY_OPEN", E_CVR_FILE_ALREADY_OPEN},
        {"E_CVR_DISK_BUFFER_TOO_LARGE", E_CVR_DISK_BUFFER_TOO_LARGE},
        {"E_CVR_INVALID_FILE_FORMAT_PARAM", E_CVR_INVALID_FILE_FORMAT_PARAM},
        {"E_CVR_BUFFER_FLUSH_FAILED", E_CVR_BUFFER_FLUSH_FAILED},
        {"E_CVR_MSG_COUNT_EXCEEDED", E_CVR_MSG_COUNT_EXCEEDED},
        {"E_CVR_INDEXING_THREAD_FAILED", E_CVR_INDEXING_THREAD_FAILED},
        {"E_CVR_INCOMPATIBLE_DISKDRIVE", E_CVR_INCOMPATIBLE_DISKDRIVE},
        {"E_CVR_BOOKMARK_DUMP_FAILED", E_CVR_BOOKMARK_DUMP_FAILED},
        {"E_CVR_INVALID_PARAM", E_CVR_INVALID_PARAM},
        {"E_CVR_MSG_NOT_BOOKMARK", E_CVR_MSG_NOT_BOOKMARK}}},
      {1,
       {{"CVR_ID_FILE_PROGRAM_INFO", 0x00}, {"CVR_ID_FILE_TIME_DATE", 0x01},
        {"CVR_ID_DECODER_IDENTIFIER", 0x02}, {"CVR_ID_OS_TICK_DURATION", 0x03},
        {"CVR_ID_TRACKER_GROUP_INFO", 0x06}, {"CVR_ID_TEST_LOCATION", 0x10},
        {"CVR_ID_TEST_REFERENCE", 0x11}, {"CVR_ID_TEST_GROUP", 0x12},
        {"CVR_ID_TEST_OPERATOR", 0x13}, {"CVR_ID_GPS_POSITION", 0x20}, {"CVR_ID_MS_TYPE", 0x30},
        {"CVR_ID_MS_PRODUCTION_SN", 0x31}, {"CVR_ID_MS_IMEI_STRING", 0x32},
        {"CVR_ID_MS_HW_VERSION_STRING", 0x33}, {"CVR_ID_MS_MCU_SW_VERSION_STRING", 0x34},
        {"CVR_ID_MS_DSP_SW_VERSION_STRING", 0x35}, {"CVR_ID_MS_PMD_DATA", 0x36},
        {"CVR_ID_COMMENT", 0x40}, {"CVR_ID_MARKER", 0x41}, {"CVR_ID_MARKER_COMMENT", 0x42},
        {"CVR_ID_BOOKMARK", 0x43}, {"CVR_ID_QUIVOX_MSG", 0x50},
        {"CVR_ID_MULTI_QUIVOX_MSG", 0x51}}},
      {4, {{"CVRFileAccessModeRead", 1}, {"CVRFileAccessModeWrite", 2}}},
      {5, {{"CVRFileCreateModeNew", 1}, {"CVRFileCreateModeAlways", 2}, {"CVRFileCreateModeExisting", 3}}},
      {8,
       {{"FileAccessModeReadOnly", 1}, {"FileAccessModeWriteCreateNew", 2},
        {"FileAccessModeWriteCreateAlways", 3}}},
      {9,
       {{"FileVersionUnknown", 0}, {"FileVersionCVR_Ve101", 1}, {"FileVersionCVR_V0100", 2},
        {"FileVersionCVR_Ve100", 3}, {"FileVersionFerrow", 4}, {"FileVersionCvrConvHex", 5},
        {"FileVersionVantrelHex", 6}, {"FileVersionCVR_Ve102", 7}, {"FileVersionCVR_V0102", 8},
        {"FileVersionCVR_Vu102", 9}, {"FileVersionIDX_V0102", 10}, {"FileVersionIDX_Vu102", 11},
        {"FileVersionBMK_V0102", 12}, {"FileVersionBMK_Ve102", 13}, {"FileVersionBMK_Vu102", 14},
        {"FileVersionINF_V0102", 15}, {"FileVersionINF_Ve102", 16}, {"FileVersionINF_Vu102", 17}}},
  };
  EXPECT_EQ(E_CVR_FILE_NOT_OPEN, static_cast<LONG>(0x80043006u));
  for (const Case& c : cases) {
    ComPtr<ITypeInfo> info = Info(c.index);
    TypeAttr attr(info.get());
    SCOPED_TRACE(c.index);
    ASSERT_EQ(attr->typekind, TKIND_ENUM);
    ASSERT_EQ(attr->cVars, c.constants.size());
    for (UINT i = 0; i < attr->cVars; ++i) {
      VARDESC* var = nullptr;
      ASSERT_EQ(info->GetVarDesc(i, &var), S_OK);
      BSTR name = nullptr;
      info->GetDocumentation(var->memid, &name, nullptr, nullptr, nullptr);
      EXPECT_EQ(ToNarrow(name), c.constants[i].first);
      SysFreeString(name);
      ASSERT_EQ(var->varkind, VAR_CONST);
      VARIANT value;
      VariantInit(&value);
      ASSERT_EQ(VariantChangeType(&value, var->lpvarValue, 0, VT_I4), S_OK);
      EXPECT_EQ(V_I4(&value), c.constants[i].second) << c.constants[i].first;
      info->ReleaseVarDesc(var);
    }
  }
}

}  // namespace
}  // namespace corvane::test
