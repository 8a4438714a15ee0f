// A Windows client of the registered module: objects come from
// CoCreateInstance, ProgIDs name the classes, and failures carry error objects
// whose source is the class's ProgID.
#include <gtest/gtest.h>

#include "windows/client_util.h"

namespace corvane::test {
namespace {

template <class T>
HRESULT CloseThrough(IUnknown* object) {
  return static_cast<T*>(object)->Close();
}

struct ClassCase {
  const char* name;
  const CLSID* clsid;
  const IID* iid;
  const wchar_t* prog_id;              // versioned
  const wchar_t* independent_prog_id;  // version-independent
  HRESULT (*close)(IUnknown*);
  const char* closed_error;  // description of the error a closed object posts
};

const ClassCase kClasses[] = {
    {"Corvane", &CLSID_Corvane, &IID_ICorvane, L"KRV.Cmn.Corvane.1", L"KRV.Cmn.Corvane",
     CloseThrough<ICorvane>, "File not open;CORVANE=0x80043006"},
    {"LogFile", &CLSID_LogFile, &IID_ILogFile, L"KRV.Cmn.Corvane.LogFile.1",
     L"KRV.Cmn.Corvane.LogFile", CloseThrough<ILogFile>, "File not open;LOGFILE=0x80043006"},
    {"LogFile2", &CLSID_LogFile2, &IID_ILogFile2, L"Corvane.LogFile2.1", L"Corvane.LogFile2",
     CloseThrough<ILogFile2>, "File not open;LOGFILE=0x80043006"},
};

TEST(ComClientTest, EveryClassThroughTheRegistry) {
  Apartment apartment(COINIT_APARTMENTTHREADED);
  ASSERT_EQ(apartment.result(), S_OK);
  for (const ClassCase& c : kClasses) {
    SCOPED_TRACE(c.name);
    CLSID clsid = {};
    EXPECT_EQ(CLSIDFromProgID(c.prog_id, &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, *c.clsid));
    clsid = {};
    EXPECT_EQ(CLSIDFromProgID(c.independent_prog_id, &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, *c.clsid));
    LPOLESTR prog_id = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(*c.clsid, &prog_id), S_OK);
    EXPECT_EQ(std::wstring(prog_id), c.prog_id);
    CoTaskMemFree(prog_id);

    ComPtr<IUnknown> object, dispatch;
    ASSERT_EQ(CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, *c.iid, object.out_void()),
              S_OK);
    ASSERT_TRUE(object);
    EXPECT_EQ(object->QueryInterface(IID_IDispatch, dispatch.out_void()), E_NOINTERFACE);
    EXPECT_FALSE(dispatch);
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, support.out_void()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(*c.iid), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);

    // A call on a closed object fails with an error object naming the
    // interface, the registered ProgID as source and the code.
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(c.close(object.get()), static_cast<HRESULT>(E_CVR_FILE_NOT_OPEN));
    ErrorRecord error = TakeError();
    ASSERT_TRUE(error.present);
    EXPECT_EQ(error.description, c.closed_error);
    EXPECT_EQ(std::wstring(Widen(error.source)), c.prog_id);
    EXPECT_TRUE(IsEqualGUID(error.guid, *c.iid));
  }
}

}  // namespace
}  // namespace corvane::test
