// The minimal plug-in of the README, word for word: it must build with kqcp_add_plugin and
// load into a host that opened libkqcp.so privately. Kept in the README's layout.
// clang-format off
#include <atomic>

#include "kqcp/kqcp.h"
using namespace Vantor::KQCP;

class Hello final : public IKQCPPlugin {
  std::atomic<ULONG> refs_{1};  // GetPlugin hands the plug-in to any thread
 public:
  HRESULT QueryInterface(REFIID iid, void** out) override {
    *out = (iid == IID_IUnknown || iid == IID_IKQCPPlugin) ? this : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override { ULONG n = --refs_; if (!n) delete this; return n; }
  HRESULT Initialize(IKQCommunityPlatform*) override { return S_OK; }
  HRESULT Notify(IKQCommunityPlatform*) override { return S_OK; }
  HRESULT GetName(BSTR* name) override { *name = SysAllocString(u"hello"); return S_OK; }
};

KQCP_PLUGIN_EXPORT HRESULT GetPluginObject(IKQCPPlugin** plugin) {
  *plugin = new Hello;
  return S_OK;
}
// clang-format on
