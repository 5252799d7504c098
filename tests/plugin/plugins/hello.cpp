// The minimal plug-in of the README, word for word: it must build with kqcp_add_plugin and
// load into a host that opened libkqcp.so privately. Kept in the README's layout.
// clang-format off
#include "kqcp/kqcp.h"
using namespace Vantor::KQCP;

// Implements<> supplies QueryInterface, AddRef and Release (atomic: GetPlugin hands the
// plug-in to any thread).
class Hello final : public Implements<IKQCPPlugin> {
 public:
  HRESULT Initialize(IKQCommunityPlatform*) override { return S_OK; }
  HRESULT Notify(IKQCommunityPlatform*) override { return S_OK; }
  HRESULT GetName(BSTR* name) override { *name = SysAllocString(u"hello"); return S_OK; }
};

KQCP_PLUGIN_EXPORT HRESULT GetPluginObject(IKQCPPlugin** plugin) {
  *plugin = new Hello;
  return S_OK;
}
// clang-format on
