// The registry entries that registration writes and removes, key by key.
#include <gtest/gtest.h>

#include <corvane/corvane.h>

#include <string>

#include "frame/registration.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace corvane::frame {
namespace {

using platform::Hive;
namespace registry = platform::registry;
constexpr Hive kRoot = Hive::kClassesRoot;

std::string Value(const std::string& key, const std::string& name = "") {
  std::string value;
  return registry::QueryString(kRoot, key, name, &value).ok() ? value : "<missing>";
}

const struct {
  std::string progid, name, clsid;  // progid: the version independent one
} kClasses[] = {
    {"KRV.Cmn.Corvane", "KRV Cmn Corvane Component", "{72F30636-98F2-11D4-ADBD-009027A2E3E1}"},
    {"KRV.Cmn.Corvane.LogFile", "KRV Cmn Logfile Handler Component", "{3A28BAE7-81B7-11D5-ADA6-00508BF11413}"},
    {"Corvane.LogFile2", "LogFile2 Class", "{80012F71-89CA-11D6-A7F7-00508BF5D0B7}"},
};

// Registration rebuilds the class keys and writes into existing ProgID keys;
// unregistration takes ProgID and class keys whole but leaves CLSID itself
// and other classes alone.
TEST(RegistrationTest, WritesEveryEntryAndRemovesThemAgain) {
  ASSERT_EQ(UnregisterServer(), S_OK);
  const std::string stale = "CLSID\\" + kClasses[1].clsid + "\\Stale",
                    other = "CLSID\\{00000000-1111-2222-3333-444444444444}";
  ASSERT_TRUE(registry::SetString(kRoot, stale, "", "x").ok());
  ASSERT_TRUE(registry::SetString(kRoot, "Corvane.LogFile2\\Extra", "", "kept").ok());
  ASSERT_TRUE(registry::SetString(kRoot, "Corvane.LogFile2", "", "old text").ok());
  ASSERT_TRUE(registry::CreateKey(kRoot, other, nullptr).ok());

  ASSERT_EQ(RegisterServer(), S_OK);
  const std::string module_path = platform::ModulePath();
  ASSERT_FALSE(module_path.empty());
  for (const auto& c : kClasses) {
    const std::string v1 = c.progid + ".1", cls = "CLSID\\" + c.clsid;
    const std::string entries[][3] = {
        {v1, "", c.name}, {v1 + "\\CLSID", "", c.clsid}, {c.progid, "", c.name},
        {c.progid + "\\CLSID", "", c.clsid}, {c.progid + "\\CurVer", "", v1}, {cls, "", c.name},
        {cls + "\\ProgID", "", v1}, {cls + "\\VersionIndependentProgID", "", c.progid},
        {cls + "\\InprocServer32", "", module_path}, {cls + "\\InprocServer32", "ThreadingModel", "Both"},
        {cls + "\\TypeLib", "", "{72F30627-98F2-11D4-ADBD-009027A2E3E1}"}};
    for (const auto& e : entries) EXPECT_EQ(Value(e[0], e[1]), e[2]) << e[0] << " " << e[1];
  }
  EXPECT_FALSE(registry::KeyExists(kRoot, stale));
  EXPECT_EQ(Value("Corvane.LogFile2\\Extra"), "kept");

  ASSERT_EQ(UnregisterServer(), S_OK);
  for (const auto& c : kClasses) {
    for (const std::string& key : {c.progid, c.progid + ".1", "CLSID\\" + c.clsid}) {
      EXPECT_FALSE(registry::KeyExists(kRoot, key)) << key;
    }
  }
  EXPECT_TRUE(registry::KeyExists(kRoot, other));
  EXPECT_TRUE(registry::DeleteTree(kRoot, other).ok());
  EXPECT_EQ(UnregisterServer(), S_OK) << "also with nothing registered";
}

}  // namespace
}  // namespace corvane::frame
