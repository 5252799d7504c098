// What the example plug-ins share: the plug-in contract (name, platform kept from Initialize)
// and the demo interface, with reports written into the host's buffer.
#pragma once

#include <cstring>
#include <string>

#include "common/demo_plugin.h"
#include "common/object.h"
#include "kqcp/kqcp.h"

namespace example {

class DemoPlugin : public Implements<IKQCPPlugin, IDemoPlugin> {
 public:
  explicit DemoPlugin(const char16_t* name) : name_(name) {}

  HRESULT Initialize(IKQCommunityPlatform* platform) override {
    platform_ = platform;
    return platform ? S_OK : E_POINTER;
  }
  HRESULT Notify(IKQCommunityPlatform*) override { return S_OK; }
  HRESULT GetName(BSTR* name) override {
    if (!name) return E_POINTER;
    *name = SysAllocString(name_);
    return *name ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT RunStep(const char* step, const char* argument, char* report,
                  std::uint32_t length) override {
    std::string text;
    const HRESULT result = Run(step ? step : "", argument ? argument : "", text);
    if (report && length) {
      const std::size_t n = std::min<std::size_t>(text.size(), length - 1);
      std::memcpy(report, text.data(), n);
      report[n] = 0;
    }
    return result;
  }

 protected:
  // One step: fills text with the report (or the reason it failed).
  virtual HRESULT Run(const std::string& step, const std::string& argument, std::string& text) = 0;
  IKQCommunityPlatform* Platform() const { return platform_; }

 private:
  const char16_t* name_;
  IKQCommunityPlatform* platform_ = nullptr;
};

// The body of a plug-in library's "GetPluginObject": a new plug-in with one reference.
template <class Plugin>
HRESULT MakePlugin(IKQCPPlugin** plugin) {
  if (!plugin) return E_POINTER;
  *plugin = new Plugin();
  return S_OK;
}

}  // namespace example
