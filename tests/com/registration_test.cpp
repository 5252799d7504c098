// Registration writes the AppID keys of the registry script; removal keeps only the AppID key.
#include "com/registration.h"

#include <gtest/gtest.h>

#include "com/module.h"
#include "kqcp/platform.h"
#include "os/registry_store.h"
#include "support/temp_dir.h"

namespace Vantor::KQCP::com {
namespace {

constexpr const char* kAppIdText = "{FBFFAF86-6074-479A-8117-3F41440145FE}";

TEST(Registration, RegisterThenUnregisterLeavesOnlyTheAppIdKey) {
  kqcp_test::TempDir dir;
  os::RegistryStore::SetDefaultPath(dir.File("registry"));
  os::RegistryStore store(dir.File("registry"));

  ASSERT_EQ(DllRegisterServer(), S_OK);
  const std::string appKey = std::string("HKEY_CLASSES_ROOT/AppID/") + kAppIdText;
  EXPECT_EQ(store.GetValue(appKey, ""), "KQCP");
  EXPECT_EQ(store.GetValue("HKEY_CLASSES_ROOT/AppID/KQCP.DLL", "AppID"), kAppIdText);
  EXPECT_EQ(DllRegisterServer(), S_OK);  // registering again changes nothing

  ASSERT_EQ(DllUnregisterServer(), S_OK);
  EXPECT_EQ(store.Keys(),
            (std::vector<std::string>{"HKEY_CLASSES_ROOT", "HKEY_CLASSES_ROOT/AppID"}));
}

TEST(Registration, UnwritableStoreIsReportedAsFailure) {
  os::RegistryStore::SetDefaultPath("/proc/kqcp-no-such-dir/registry");
  EXPECT_EQ(DllRegisterServer(), E_FAIL);
}

TEST(Registration, GuidText) { EXPECT_EQ(GuidToString(kAppId), kAppIdText); }

}  // namespace
}  // namespace Vantor::KQCP::com
