// The registry entries that registration writes and removes, key by key.
#include <gtest/gtest.h>

#include <corvane/corvane.h>

#include <string>
#include <vector>

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

struct ClassKeys {
  const char* progid;  // version independent; ".1" is the versioned one
  const char* name;
  const char* clsid;
};
const ClassKeys kClasses[] = {
    {"KRV.Cmn.Corvane", "KRV Cmn Corvane Component", "{72F30636-98F2-11D4-ADBD-009027A2E3E1}"},
    {"KRV.Cmn.Corvane.LogFile", "KRV Cmn Logfile Handler Component", "{3A28BAE7-81B7-11D5-ADA6-00508BF11413}"},
    {"Corvane.LogFile2", "LogFile2 Class", "{80012F71-89CA-11D6-A7F7-00508BF5D0B7}"},
};

struct Expected {
  std::string key, name, value;  // an empty value: the module path
};
// Every entry registration writes for one class.
std::vector<Expected> EntriesOf(const ClassKeys& c) {
  const std::string progid = c.progid, v1 = progid + ".1", cls = std::string("CLSID\\") + c.clsid;
  return {{v1, "", c.name},
          {v1 + "\\CLSID", "", c.clsid},
          {progid, "", c.name},
          {progid + "\\CLSID", "", c.clsid},
          {progid + "\\CurVer", "", v1},
          {cls, "", c.name},
          {cls + "\\ProgID", "", v1},
          {cls + "\\VersionIndependentProgID", "", progid},
          {cls + "\\InprocServer32", "", ""},
          {cls + "\\InprocServer32", "ThreadingModel", "Both"},
          {cls + "\\TypeLib", "", "{72F30627-98F2-11D4-ADBD-009027A2E3E1}"}};
}

// Registration rebuilds the class keys and writes into existing ProgID keys;
// unregistration takes ProgID and class keys whole but leaves CLSID itself
// and other classes alone.
TEST(RegistrationTest, WritesEveryEntryAndRemovesThemAgain) {
  ASSERT_EQ(UnregisterServer(), S_OK);
  const std::string stale = std::string("CLSID\\") + kClasses[1].clsid + "\\Stale",
                    other = "CLSID\\{00000000-1111-2222-3333-444444444444}";
  ASSERT_TRUE(registry::SetString(Hive::kClassesRoot, stale, "", "x").ok());
  ASSERT_TRUE(registry::SetString(Hive::kClassesRoot, "Corvane.LogFile2\\Extra", "", "kept").ok());
  ASSERT_TRUE(registry::SetString(Hive::kClassesRoot, "Corvane.LogFile2", "", "old text").ok());
  ASSERT_TRUE(registry::CreateKey(Hive::kClassesRoot, other, nullptr).ok());

  ASSERT_EQ(RegisterServer(), S_OK);
  const std::string module_path = platform::ModulePath();
  ASSERT_FALSE(module_path.empty());
  for (const ClassKeys& c : kClasses) {
    for (const Expected& e : EntriesOf(c)) {
      EXPECT_EQ(Default(e.key, e.name), e.value.empty() ? module_path : e.value) << e.key << " " << e.name;
    }
  }
  EXPECT_FALSE(registry::KeyExists(Hive::kClassesRoot, stale));
  EXPECT_EQ(Default("Corvane.LogFile2\\Extra"), "kept");

  ASSERT_EQ(UnregisterServer(), S_OK);
  for (const ClassKeys& c : kClasses) {
    for (const std::string& key : {std::string(c.progid), c.progid + std::string(".1"), "CLSID\\" + std::string(c.clsid)}) {
      EXPECT_FALSE(registry::KeyExists(Hive::kClassesRoot, key)) << key;
    }
  }
  EXPECT_TRUE(registry::KeyExists(Hive::kClassesRoot, other));
  EXPECT_TRUE(registry::DeleteTree(Hive::kClassesRoot, other).ok());
  EXPECT_EQ(UnregisterServer(), S_OK) << "also with nothing registered";
}

}  // namespace
}  // namespace corvane::frame
