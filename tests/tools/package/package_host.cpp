// The smallest host of the installed package: it initialises the platform and leaves.
#include <cstdio>

#include "kqcp/kqcp.h"

using namespace Vantor::KQCP;

int main() {
  IKQCommunityPlatform* platform = nullptr;
  if (GetKQCommunityPlatform(&platform) != S_OK || platform->Init(nullptr) != S_OK) {
    std::puts("package host: no platform");
    return 1;
  }
  platform->Release();
  std::puts("package host passed");
  return 0;
}
