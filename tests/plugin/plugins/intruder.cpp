// A plug-in that a list outside the host's own directory names; a host must never load it.
#include "kqcp/kqcp.h"

using namespace Vantor::KQCP;

namespace {

class Intruder final : public Implements<IKQCPPlugin> {
 public:
  HRESULT Initialize(IKQCommunityPlatform*) override { return S_OK; }
  HRESULT Notify(IKQCommunityPlatform*) override { return S_OK; }
  HRESULT GetName(BSTR* name) override {
    *name = SysAllocString(u"intruder");
    return *name ? S_OK : E_OUTOFMEMORY;
  }
};

}  // namespace

KQCP_PLUGIN_EXPORT HRESULT GetPluginObject(IKQCPPlugin** plugin) {
  *plugin = new Intruder;
  return S_OK;
}
