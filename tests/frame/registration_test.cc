// What registration does to keys it finds. Every entry it writes and removes
// is checked against the real registry by tests/windows/registration_check.sh,
// and the ProgIDs on every platform by the error object test.
#include <gtest/gtest.h>

#include <corvane/corvane.h>

#include <string>

#include "frame/registration.h"
#include "platform/registry.h"

namespace corvane::frame {
namespace {

namespace registry = platform::registry;
constexpr platform::Hive kRoot = platform::Hive::kClassesRoot;

// Registration rebuilds the class keys and writes into existing ProgID keys;
// unregistration takes ProgID and class keys whole but leaves CLSID itself
// and other classes alone, and succeeds with nothing registered.
TEST(RegistrationTest, ClassKeysAreRebuiltAndOtherKeysKept) {
  ASSERT_EQ(UnregisterServer(), S_OK);
  const std::string stale = "CLSID\\{3A28BAE7-81B7-11D5-ADA6-00508BF11413}\\Stale",
                    other = "CLSID\\{00000000-1111-2222-3333-444444444444}", extra = "Corvane.LogFile2\\Extra";
  ASSERT_TRUE(registry::SetString(kRoot, stale, "", "x").ok() && registry::SetString(kRoot, extra, "", "kept").ok() &&
              registry::CreateKey(kRoot, other, nullptr).ok());
  ASSERT_EQ(RegisterServer(), S_OK);
  std::string value;
  EXPECT_TRUE(registry::QueryString(kRoot, extra, "", &value).ok() && value == "kept" && !registry::KeyExists(kRoot, stale));
  ASSERT_EQ(UnregisterServer(), S_OK);
  EXPECT_TRUE(!registry::KeyExists(kRoot, "Corvane.LogFile2") && registry::KeyExists(kRoot, other));
  EXPECT_TRUE(registry::DeleteTree(kRoot, other).ok());
  EXPECT_EQ(UnregisterServer(), S_OK);
}

}  // namespace
}  // namespace corvane::frame
