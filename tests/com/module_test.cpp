// The module object: lock count and the unload answer, the empty class map.
#include "com/module.h"

#include <gtest/gtest.h>

#include "kqcp/platform.h"

namespace Vantor::KQCP::com {
namespace {

TEST(Module, CanUnloadOnlyWithoutLiveObjects) {
  ASSERT_EQ(TheModule().GetLockCount(), 0);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  EXPECT_EQ(TheModule().Lock(), 1);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  EXPECT_EQ(TheModule().Unlock(), 0);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  EXPECT_NE(TheModule().ModuleHandle(), nullptr);
}

TEST(Module, ClassObjectsAreNeverAvailable) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(kAppId, IID_IUnknown, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
}

}  // namespace
}  // namespace Vantor::KQCP::com
