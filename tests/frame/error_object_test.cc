// Error objects posted by failing methods, and registration as a client
// sees it (through the source of the error object and ProgIDFromCLSID).
#include <gtest/gtest.h>

#include "support/com_test_util.h"

namespace corvane::test {
namespace {

std::string ProgId(REFCLSID clsid) {
  LPOLESTR text = nullptr;
  if (ProgIDFromCLSID(clsid, &text) != S_OK || !text) return {};
  std::string result = Narrow(text);
  CoTaskMemFree(text);
  return result;
}

class ErrorObjectTest : public ::testing::Test {
 protected:
  void SetUp() override { TakeError(); }  // start with an empty slot
};

TEST_F(ErrorObjectTest, DescriptionCarriesTextTagAndLowerCaseHexCodeOfTheLatestFailure) {
  ComPtr<ICorvane> log = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
  ASSERT_TRUE(log);
  EXPECT_EQ(log->Close(), E_CVR_FILE_NOT_OPEN);
  ErrorRecord error = TakeError();
  ASSERT_TRUE(error.present);
  EXPECT_EQ(error.description, "File not open;CORVANE=0x80043006");
  EXPECT_TRUE(IsEqualGUID(error.guid, IID_ICorvane));

  // Letters of the code are lower case; E_POINTER prints all eight digits.
  EXPECT_EQ(log->Open(nullptr, CVRFileAccessModeRead, CVRFileCreateModeExisting), E_POINTER);
  EXPECT_EQ(TakeError().description, "One ore more Open method parameters are NULL;CORVANE=0x80004003");
  Bstr name("whatever.log");
  EXPECT_EQ(static_cast<uint32_t>(log->Open(name.get(), CVRFileAccessModeWrite, CVRFileCreateModeExisting)),
            0x8004300Fu);
  EXPECT_EQ(TakeError().description, "Illegal Access Flag combination;CORVANE=0x8004300f");

  // A new failure replaces the old error object; taking it empties the slot.
  ULONG size = 0;
  EXPECT_EQ(log->GetFileSize(&size), E_CVR_FILE_NOT_OPEN);
  EXPECT_EQ(log->GetFileSize(nullptr), E_POINTER);
  EXPECT_EQ(TakeError().description, "One ore more GetFileSize method parameters are NULL;CORVANE=0x80004003");
  EXPECT_FALSE(TakeError().present);
}

// Registration writes the ProgIDs that error objects name as their source.
TEST_F(ErrorObjectTest, SourceIsTheRegisteredProgId) {
  ASSERT_EQ(DllUnregisterServer(), S_OK);  // also fine when nothing is registered
  LPOLESTR none = reinterpret_cast<LPOLESTR>(1);
  EXPECT_EQ(ProgIDFromCLSID(CLSID_Corvane, &none), static_cast<HRESULT>(0x80040154));  // class not registered
  EXPECT_EQ(none, nullptr);

  ComPtr<ICorvane> log = Create<ICorvane>(CLSID_Corvane, IID_ICorvane);
  EXPECT_EQ(log->Close(), E_CVR_FILE_NOT_OPEN);
  ErrorRecord unregistered = TakeError();
  EXPECT_TRUE(unregistered.present);
  EXPECT_EQ(unregistered.source, "");

  ASSERT_EQ(DllRegisterServer(), S_OK);
  EXPECT_EQ(ProgId(CLSID_Corvane), "KRV.Cmn.Corvane.1");
  EXPECT_EQ(ProgId(CLSID_LogFile), "KRV.Cmn.Corvane.LogFile.1");
  EXPECT_EQ(ProgId(CLSID_LogFile2), "Corvane.LogFile2.1");

  EXPECT_EQ(log->Close(), E_CVR_FILE_NOT_OPEN);
  EXPECT_EQ(TakeError().source, "KRV.Cmn.Corvane.1");

  ASSERT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_EQ(ProgId(CLSID_LogFile2), "");
}

}  // namespace
}  // namespace corvane::test
