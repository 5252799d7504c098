// Loads libkqcp.so with dlopen, as a host does: every entry point resolves by name, nothing
// else is exported, the platform works through the resolved entry, and a host that closes the
// library after Init keeps running.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>

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
}

using CanUnloadFn = HRESULT (*)();

// A host that initialises the platform, puts a command in the workshop's hands and closes the
// library, then keeps running while the workers tick. Returns 0 when all went as documented,
// else the number of the check that failed.
int RunHostThatClosesTheLibrary() {
  void* library = dlopen(KQCP_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!library) return 1;
  auto get = reinterpret_cast<GetKQCommunityPlatformFn>(dlsym(library, "GetKQCommunityPlatform"));
  auto canUnload = reinterpret_cast<CanUnloadFn>(dlsym(library, "DllCanUnloadNow"));
  IKQCommunityPlatform* platform = nullptr;
  if (!get || !canUnload || get(&platform) != S_OK) return 2;
  // Nothing alive yet: the library may go.
  if (canUnload() != S_OK) return 3;
  if (platform->Init(nullptr) != S_OK) return 4;
  if (canUnload() != S_FALSE) return 5;
  if (dlclose(library) != 0) return 6;
  // The workers tick every 50 ms; a third of a second would see any of them run unmapped code.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  if (!dlopen(KQCP_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD)) return 7;
  IWorkshop* workshop = nullptr;
  if (platform->GetWorkshop(&workshop) != S_OK) return 8;
  std::int32_t state = 0;
  workshop->GetState(&state);
  workshop->Release();
  if (state != 2) return 9;
  // Still no: it will never unload now.
  if (canUnload() != S_FALSE) return 10;
  return 0;
}

TEST(Exports, AHostMayCloseTheLibraryAfterInitAndKeepRunning) {
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) std::exit(RunHostThatClosesTheLibrary());
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "host died of " << strsignal(WTERMSIG(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
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
