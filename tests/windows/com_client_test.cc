// A Windows client of the registered module: objects come from
// CoCreateInstance, failures carry error objects whose source is the class's
// ProgID.
#include <gtest/gtest.h>

#include "windows/client_util.h"

namespace corvane::test {
namespace {

struct ClassCase {
  const char* name;
  const CLSID* clsid;
  const IID* iid;
  const wchar_t* prog_id;              // versioned
  const wchar_t* independent_prog_id;  // version-independent
};

const ClassCase kClasses[] = {
    {"Corvane", &CLSID_Corvane, &IID_ICorvane, L"KRV.Cmn.Corvane.1", L"KRV.Cmn.Corvane"},
    {"LogFile", &CLSID_LogFile, &IID_ILogFile, L"KRV.Cmn.Corvane.LogFile.1",
     L"KRV.Cmn.Corvane.LogFile"},
    {"LogFile2", &CLSID_LogFile2, &IID_ILogFile2, L"Corvane.LogFile2.1", L"Corvane.LogFile2"},
};

class ComClientTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(apartment_.result(), S_OK); }
  Apartment apartment_{COINIT_APARTMENTTHREADED};
};

TEST_F(ComClientTest, CreatesEveryClassThroughTheRegistry) {
  for (const ClassCase& c : kClasses) {
    SCOPED_TRACE(c.name);
    ComPtr<IUnknown> object;
    ASSERT_EQ(CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, *c.iid, object.out_void()),
              S_OK);
    ASSERT_TRUE(object);
    ComPtr<ISupportErrorInfo> support;
    EXPECT_EQ(object->QueryInterface(IID_ISupportErrorInfo, support.out_void()), S_OK);
    ComPtr<IUnknown> dispatch;
    EXPECT_EQ(object->QueryInterface(IID_IDispatch, dispatch.out_void()), E_NOINTERFACE);
    EXPECT_FALSE(dispatch);
  }
}

TEST_F(ComClientTest, ProgIdsNameTheClasses) {
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
  }
}

// A call on a closed object fails; the error object names the interface, the
// registered ProgID as its source and the code in its description.
TEST_F(ComClientTest, FailingCallPostsAnErrorObjectWithTheProgIdAsSource) {
  struct Case {
    const ClassCase* cls;
    const char* description;
  };
  const Case cases[] = {
      {&kClasses[0], "File not open;CORVANE=0x80043006"},
      {&kClasses[1], "File not open;LOGFILE=0x80043006"},
      {&kClasses[2], "File not open;LOGFILE=0x80043006"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cls->name);
    ComPtr<IUnknown> object;
    ASSERT_EQ(CoCreateInstance(*c.cls->clsid, nullptr, CLSCTX_INPROC_SERVER, *c.cls->iid,
                               object.out_void()),
              S_OK);
    SetErrorInfo(0, nullptr);
    HRESULT hr;
    if (c.cls->iid == &IID_ICorvane) {
      hr = static_cast<ICorvane*>(object.get())->Close();
    } else if (c.cls->iid == &IID_ILogFile) {
      hr = static_cast<ILogFile*>(object.get())->Close();
    } else {
      hr = static_cast<ILogFile2*>(object.get())->Close();
    }
    if (hr == E_NOTIMPL) {
      // The class's methods are not written yet.
      continue;
    }
    EXPECT_EQ(hr, static_cast<HRESULT>(E_CVR_FILE_NOT_OPEN));

    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, support.out_void()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(*c.cls->iid), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IUnknown), S_FALSE);

    ErrorObject error = TakeErrorObject();
    ASSERT_TRUE(error.present);
    EXPECT_EQ(error.description, c.description);
    EXPECT_EQ(ToWide(error.source), c.cls->prog_id);
    EXPECT_TRUE(IsEqualGUID(error.guid, *c.cls->iid));
  }
}

}  // namespace
}  // namespace corvane::test
