// Loads libkqcp.so with dlopen, as a host does: every entry point resolves by name, nothing
// else is exported, and the platform works through the resolved entry.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "kqcp/platform.h"

namespace Vantor::KQCP {
namespace {

const char* const kExports[] = {
    "GetKQCommunityPlatform", "DllCanUnloadNow",     "DllGetClassObject",
    "DllRegisterServer",      "DllUnregisterServer", "SysAllocString",
    "SysAllocStringLen",      "SysStringLen",        "SysFreeString"};

TEST(Exports, EntryPointsResolveByNameAndThePlatformWorks) {
  void* library = dlopen(KQCP_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  for (const char* name : kExports) EXPECT_NE(dlsym(library, name), nullptr) << name;

  auto get = reinterpret_cast<GetKQCommunityPlatformFn>(dlsym(library, "GetKQCommunityPlatform"));
  IKQCommunityPlatform* platform = nullptr;
  ASSERT_EQ(get(&platform), S_OK);
  ASSERT_NE(platform, nullptr);
  IKQCommunityPlatform* again = nullptr;
  ASSERT_EQ(get(&again), S_OK);
  EXPECT_EQ(again, platform);
  EXPECT_EQ(platform->Init(nullptr), S_OK);
  EXPECT_EQ(platform->Init(nullptr), E_FAIL);

  using CanUnload = HRESULT (*)();
  auto canUnload = reinterpret_cast<CanUnload>(dlsym(library, "DllCanUnloadNow"));
  EXPECT_TRUE(canUnload() == S_OK || canUnload() == S_FALSE);
}

TEST(Exports, NothingElseIsVisible) {
  std::string command = std::string("nm -D --defined-only ") + KQCP_LIBRARY_PATH;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> exported;
  char line[1024];
  while (std::fgets(line, sizeof line, pipe)) {
    char type = 0;
    char name[900];
    if (std::sscanf(line, "%*s %c %899s", &type, name) == 2 && type != 'A') exported.insert(name);
  }
  ASSERT_EQ(pclose(pipe), 0);
  EXPECT_EQ(exported, std::set<std::string>(std::begin(kExports), std::end(kExports)));
}

}  // namespace
}  // namespace Vantor::KQCP
