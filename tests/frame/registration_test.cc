// The registry entries that registration writes and removes, key by key.
#include <gtest/gtest.h>

#include <corvane/corvane.h>

#include "frame/registration.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace corvane::frame {
namespace {

using platform::Hive;
namespace registry = platform::registry;

std::string Default(const std::string& key, const std::string& name = "") {
  std::string value;
  if (!registry::QueryString(Hive::kClassesRoot, key, name, &value).ok()) return "<missing>";
  return value;
}

struct Expected {
  const char* key;
  const char* name;
  const char* value;  // null: the module path
};

const Expected kEntries[] = {
    {"KRV.Cmn.Corvane.1", "", "KRV Cmn Corvane Component"},
    {"KRV.Cmn.Corvane.1\\CLSID", "", "{72F30636-98F2-11D4-ADBD-009027A2E3E1}"},
    {"KRV.Cmn.Corvane", "", "KRV Cmn Corvane Component"},
    {"KRV.Cmn.Corvane\\CLSID", "", "{72F30636-98F2-11D4-ADBD-009027A2E3E1}"},
    {"KRV.Cmn.Corvane\\CurVer", "", "KRV.Cmn.Corvane.1"},
    {"CLSID\\{72F30636-98F2-11D4-ADBD-009027A2E3E1}", "", "KRV Cmn Corvane Component"},
    {"CLSID\\{72F30636-98F2-11D4-ADBD-009027A2E3E1}\\ProgID", "", "KRV.Cmn.Corvane.1"},
    {"CLSID\\{72F30636-98F2-11D4-ADBD-009027A2E3E1}\\VersionIndependentProgID", "",
     "KRV.Cmn.Corvane"},
    {"CLSID\\{72F30636-98F2-11D4-ADBD-009027A2E3E1}\\InprocServer32", "", nullptr},
    {"CLSID\\{72F30636-98F2-11D4-ADBD-009027A2E3E1}\\InprocServer32", "ThreadingModel", "Both"},
    {"CLSID\\{72F30636-98F2-11D4-ADBD-009027A2E3E1}\\TypeLib", "",
     "{72F30627-98F2-11D4-ADBD-009027A2E3E1}"},
    {"KRV.Cmn.Corvane.LogFile.1", "", "KRV Cmn Logfile Handler Component"},
    {"KRV.Cmn.Corvane.LogFile.1\\CLSID", "", "{3A28BAE7-81B7-11D5-ADA6-00508BF11413}"},
    {"KRV.Cmn.Corvane.LogFile", "", "KRV Cmn Logfile Handler Component"},
    {"KRV.Cmn.Corvane.LogFile\\CLSID", "", "{3A28BAE7-81B7-11D5-ADA6-00508BF11413}"},
    {"KRV.Cmn.Corvane.LogFile\\CurVer", "", "KRV.Cmn.Corvane.LogFile.1"},
    {"CLSID\\{3A28BAE7-81B7-11D5-ADA6-00508BF11413}", "", "KRV Cmn Logfile Handler Component"},
    {"CLSID\\{3A28BAE7-81B7-11D5-ADA6-00508BF11413}\\ProgID", "", "KRV.Cmn.Corvane.LogFile.1"},
    {"CLSID\\{3A28BAE7-81B7-11D5-ADA6-00508BF11413}\\VersionIndependentProgID", "",
     "KRV.Cmn.Corvane.LogFile"},
    {"CLSID\\{3A28BAE7-81B7-11D5-ADA6-00508BF11413}\\InprocServer32", "", nullptr},
    {"CLSID\\{3A28BAE7-81B7-11D5-ADA6-00508BF11413}\\InprocServer32", "ThreadingModel", "Both"},
    {"CLSID\\{3A28BAE7-81B7-11D5-ADA6-00508BF11413}\\TypeLib", "",
     "{72F30627-98F2-11D4-ADBD-009027A2E3E1}"},
    {"Corvane.LogFile2.1", "", "LogFile2 Class"},
    {"Corvane.LogFile2.1\\CLSID", "", "{80012F71-89CA-11D6-A7F7-00508BF5D0B7}"},
    {"Corvane.LogFile2", "", "LogFile2 Class"},
    {"Corvane.LogFile2\\CLSID", "", "{80012F71-89CA-11D6-A7F7-00508BF5D0B7}"},
    {"Corvane.LogFile2\\CurVer", "", "Corvane.LogFile2.1"},
    {"CLSID\\{80012F71-89CA-11D6-A7F7-00508BF5D0B7}", "", "LogFile2 Class"},
    {"CLSID\\{80012F71-89CA-11D6-A7F7-00508BF5D0B7}\\ProgID", "", "Corvane.LogFile2.1"},
    {"CLSID\\{80012F71-89CA-11D6-A7F7-00508BF5D0B7}\\VersionIndependentProgID", "",
     "Corvane.LogFile2"},
    {"CLSID\\{80012F71-89CA-11D6-A7F7-00508BF5D0B7}\\InprocServer32", "", nullptr},
    {"CLSID\\{80012F71-89CA-11D6-A7F7-00508BF5D0B7}\\InprocServer32", "ThreadingModel", "Both"},
    {"CLSID\\{80012F71-89CA-11D6-A7F7-00508BF5D0B7}\\TypeLib", "",
     "{72F30627-98F2-11D4-ADBD-009027A2E3E1}"},
};

const char* const kRemovedKeys[] = {
    "KRV.Cmn.Corvane.1", "KRV.Cmn.Corvane", "KRV.Cmn.Corvane.LogFile.1", "KRV.Cmn.Corvane.LogFile",
    "Corvane.LogFile2.1", "Corvane.LogFile2",
    "CLSID\\{72F30636-98F2-11D4-ADBD-009027A2E3E1}",
    "CLSID\\{3A28BAE7-81B7-11D5-ADA6-00508BF11413}",
    "CLSID\\{80012F71-89CA-11D6-A7F7-00508BF5D0B7}",
};

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(UnregisterServer(), S_OK); }
  void TearDown() override { EXPECT_EQ(UnregisterServer(), S_OK); }
};

TEST_F(RegistrationTest, WritesEveryEntryOfTheThreeClasses) {
  ASSERT_EQ(RegisterServer(), S_OK);
  const std::string module_path = platform::ModulePath();
  ASSERT_FALSE(module_path.empty());
  for (const Expected& e : kEntries) {
    EXPECT_EQ(Default(e.key, e.name), e.value ? e.value : module_path) << e.key << " " << e.name;
  }
}

TEST_F(RegistrationTest, UnregisterRemovesProgIdsAndClassKeysButKeepsClsidKey) {
  ASSERT_EQ(RegisterServer(), S_OK);
  bool created = false;
  ASSERT_TRUE(registry::CreateKey(Hive::kClassesRoot, "CLSID\\{00000000-1111-2222-3333-444444444444}",
                                  &created).ok());
  ASSERT_EQ(UnregisterServer(), S_OK);
  for (const char* key : kRemovedKeys) {
    EXPECT_FALSE(registry::KeyExists(Hive::kClassesRoot, key)) << key;
  }
  EXPECT_TRUE(registry::KeyExists(Hive::kClassesRoot, "CLSID"));
  EXPECT_TRUE(registry::KeyExists(Hive::kClassesRoot, "CLSID\\{00000000-1111-2222-3333-444444444444}"));
  EXPECT_TRUE(registry::DeleteTree(Hive::kClassesRoot, "CLSID\\{00000000-1111-2222-3333-444444444444}").ok());
  // Unregistering again, with nothing registered, still succeeds.
  EXPECT_EQ(UnregisterServer(), S_OK);
}

TEST_F(RegistrationTest, ClassKeyIsRebuiltWhileProgIdKeysAreWrittenInto) {
  const std::string class_key = "CLSID\\{3A28BAE7-81B7-11D5-ADA6-00508BF11413}";
  ASSERT_TRUE(registry::SetString(Hive::kClassesRoot, class_key + "\\Stale", "", "x").ok());
  ASSERT_TRUE(registry::SetString(Hive::kClassesRoot, "Corvane.LogFile2\\Extra", "", "kept").ok());
  ASSERT_TRUE(registry::SetString(Hive::kClassesRoot, "Corvane.LogFile2", "", "old text").ok());

  ASSERT_EQ(RegisterServer(), S_OK);
  EXPECT_FALSE(registry::KeyExists(Hive::kClassesRoot, class_key + "\\Stale"));
  EXPECT_EQ(Default("Corvane.LogFile2\\Extra"), "kept");
  EXPECT_EQ(Default("Corvane.LogFile2"), "LogFile2 Class");

  // Unregistration takes ProgID keys with all their subkeys.
  ASSERT_EQ(UnregisterServer(), S_OK);
  EXPECT_FALSE(registry::KeyExists(Hive::kClassesRoot, "Corvane.LogFile2\\Extra"));
}

TEST(GuidText, IsUpperCaseWithBraces) {
  EXPECT_EQ(GuidToString(IID_ILogFile2), "{80012F70-89CA-11D6-A7F7-00508BF5D0B7}");
  EXPECT_EQ(GuidToString(LIBID_KRVCmnCorvaneLib), "{72F30627-98F2-11D4-ADBD-009027A2E3E1}");
}

}  // namespace
}  // namespace corvane::frame
