// The smallest host: built through pkg-config against an installed platform, linked with
// libkqcp.so, it initialises the platform and loads the plug-in named on its command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "kqcp/kqcp.h"

using namespace Vantor::KQCP;

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  IKQCommunityPlatform* platform = nullptr;
  if (GetKQCommunityPlatform(&platform) != S_OK || platform->Init(nullptr) != S_OK) {
    std::puts("minimal host: no platform");
    return 1;
  }
  IKQCPPluginManager* manager = nullptr;
  if (platform->GetPluginManager(&manager) != S_OK) return 1;
  const std::string path = argv[1];
  const std::u16string widePath(path.begin(), path.end());  // the test's paths are ASCII
  const HRESULT loaded = manager->LoadPlugin(widePath.c_str());
  IKQCPPlugin* plugin = nullptr;
  if (loaded != S_OK || manager->GetPlugin(u"hello", &plugin) != S_OK) {
    std::printf("minimal host: the plug-in did not load (0x%08X)\n", static_cast<unsigned>(loaded));
    return 1;
  }
  plugin->Release();
  std::puts("minimal host passed: the hello plug-in loaded");
  return 0;
}
