// The platform's plug-in and Lua accessors: the same singletons every time, references not
// counted, and plug-in lists and notifications passed on to the manager.
#include <gtest/gtest.h>

#include <fstream>

#include "com/com_ptr.h"
#include "kqcp/platform.h"
#include "lua/lua_host.h"
#include "os/utf.h"
#include "plugin/plugin_manager.h"
#include "support/platform.h"
#include "support/temp_dir.h"

namespace Vantor::KQCP {
namespace {

using kqcp_test::Platform;

TEST(PlatformServices, GetPluginManagerHandsOutTheOneManager) {
  IKQCPPluginManager* first = nullptr;
  IKQCPPluginManager* second = nullptr;
  ASSERT_EQ(Platform()->GetPluginManager(&first), S_OK);
  ASSERT_EQ(Platform()->GetPluginManager(&second), S_OK);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, static_cast<IKQCPPluginManager*>(PluginManagerHolder::Instance()));
  // Release has no effect: the manager goes on working.
  EXPECT_EQ(first->Release(), 1u);
  EXPECT_EQ(first->Release(), 1u);
  EXPECT_EQ(second->UnregisterObject(IID_IUnknown), E_FAIL);
  EXPECT_EQ(Platform()->GetPluginManager(nullptr), E_POINTER);
}

TEST(PlatformServices, GetLuaHostHandsOutTheOneHost) {
  IKQCPLuaHost* first = nullptr;
  IKQCPLuaHost* second = nullptr;
  ASSERT_EQ(Platform()->GetLuaHost(&first), S_OK);
  ASSERT_EQ(Platform()->GetLuaHost(&second), S_OK);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, static_cast<IKQCPLuaHost*>(LuaHostHolder::Instance()));
  EXPECT_EQ(first->Release(), 1u);
  EXPECT_EQ(second->Register("name", 1), S_OK);
  EXPECT_EQ(first->Register("name", 2), S_FALSE);
  EXPECT_EQ(Platform()->GetLuaHost(nullptr), E_POINTER);
}

TEST(PlatformServices, LoadPluginsAndNotifyPluginsReachTheManager) {
  kqcp_test::TempDir dir;
  const std::string list = dir.File("KQCP_PLUGIN.xml");
  std::ofstream(list) << "<PluginList><Plugin path='missing.so' enable='true'/></PluginList>";
  const std::string wrongRoot = dir.File("wrong.xml");
  std::ofstream(wrongRoot) << "<pluginlist/>";

  // The list reads, whatever its entries do.
  EXPECT_EQ(Platform()->LoadPlugins(os::Utf8ToUtf16(list).c_str()), S_OK);
  EXPECT_EQ(Platform()->LoadPlugins(os::Utf8ToUtf16(wrongRoot).c_str()), E_FAIL);
  EXPECT_EQ(Platform()->LoadPlugins(u""), E_FAIL);
  EXPECT_EQ(Platform()->NotifyPlugins(7), S_OK);
}

}  // namespace
}  // namespace Vantor::KQCP
