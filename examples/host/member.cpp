// A member process of the demo: a host with the platform and its plug-ins, running the plug-in
// steps the director sends.
#include <iostream>
#include <sstream>

#include "common/demo_plugin.h"
#include "demo_roles.h"
#include "example_host.h"
#include "platform_loader.h"

namespace example {

int RunMember(const std::string& libraryPath) {
  PlatformLoader loader(libraryPath);
  IKQCommunityPlatform* platform = loader.Platform();
  if (!platform) {
    std::cout << "FAIL " << loader.Error() << std::endl;
    return 1;
  }
  Ref<ExampleHost> host(new ExampleHost(), false);
  platform->Init(host.Get());
  const PlatformStop stop(platform, *host.Get());
  if (platform->LoadPlugins(loader.DemoPluginList().c_str()) != S_OK) {
    std::cout << "FAIL no demo plug-in list beside " << loader.LibraryPath() << std::endl;
    return 1;
  }
  Ref<IKQCPPluginManager> plugins;
  platform->GetPluginManager(plugins.Put());
  std::cout << "OK ready" << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream words(line);
    std::string verb, pluginName, step, argument;
    words >> verb >> pluginName >> step;
    std::getline(words >> std::ws, argument);
    if (verb == "QUIT") break;
    const std::u16string name(pluginName.begin(), pluginName.end());
    Ref<IKQCPPlugin> plugin;
    Ref<IDemoPlugin> demo;
    if (plugins->GetPlugin(name.c_str(), plugin.Put()) != S_OK ||
        plugin->QueryInterface(IID_IDemoPlugin, demo.PutVoid()) != S_OK) {
      std::cout << "FAIL no plug-in " << pluginName << std::endl;
      continue;
    }
    char report[4096] = {};
    const HRESULT result = demo->RunStep(step.c_str(), argument.c_str(), report, sizeof report);
    std::cout << (Succeeded(result) ? "OK " : "FAIL ") << report << std::endl;
  }
  // The stop above ends the platform's threads; then the process ends normally, and named
  // objects it was the last to hold go with it.
  return 0;
}

}  // namespace example
