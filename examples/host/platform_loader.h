// Loads libkqcp.so from the host's install location (../lib beside the executable's bin/, or a
// path given) and obtains the platform, as any host application would.
#pragma once

#include <string>

#include "kqcp/platform.h"

namespace example {

class PlatformLoader {
 public:
  // Empty path: <directory of this executable>/../lib/libkqcp.so.
  explicit PlatformLoader(const std::string& libraryPath = {});
  ~PlatformLoader() = default;  // the library stays loaded: its threads outlive main

  Vantor::KQCP::IKQCommunityPlatform* Platform() const { return platform_; }
  const std::string& Error() const { return error_; }
  const std::string& LibraryPath() const { return path_; }
  // The demo's own plug-in list, kqcp-demo/KQCP_PLUGIN.xml beside the library: the demo names
  // it instead of relying on a default list that every host of the install would read.
  std::u16string DemoPluginList() const;

 private:
  std::string path_;
  std::string error_;
  Vantor::KQCP::IKQCommunityPlatform* platform_ = nullptr;
};

}  // namespace example
