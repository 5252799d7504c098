// dlopen of the platform library and its entry point.
#include "platform_loader.h"

#include <dlfcn.h>
#include <unistd.h>

namespace example {

namespace {

std::string ExecutableDirectory() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = 0;
  std::string text(path);
  return text.substr(0, text.rfind('/'));
}

}  // namespace

PlatformLoader::PlatformLoader(const std::string& libraryPath)
    : path_(libraryPath.empty() ? ExecutableDirectory() + "/../lib/libkqcp.so" : libraryPath) {
  void* library = dlopen(path_.c_str(), RTLD_NOW);
  if (!library) {
    const char* text = dlerror();
    error_ = text ? text : "cannot load " + path_;
    return;
  }
  auto get = reinterpret_cast<Vantor::KQCP::GetKQCommunityPlatformFn>(
      dlsym(library, "GetKQCommunityPlatform"));
  if (!get) {
    error_ = "no GetKQCommunityPlatform in " + path_;
    return;
  }
  if (get(&platform_) != Vantor::KQCP::S_OK || !platform_) error_ = "no platform from " + path_;
}

std::u16string PlatformLoader::DemoPluginList() const {
  const std::string list = path_.substr(0, path_.rfind('/') + 1) + "kqcp-demo/KQCP_PLUGIN.xml";
  // The demo's paths are ASCII.
  return std::u16string(list.begin(), list.end());
}

}  // namespace example
