// The "ledger" plug-in: a database cache. Step "write DIR" stores three entries in the cache
// "demo-ledger" under DIR; step "read DIR" reads them back (in another process).
#include <vector>

#include "common/demo_plugin_base.h"

namespace example {
namespace {

const char* const kKeys[] = {"apples", "pears", "it's tea"};

class LedgerPlugin : public DemoPlugin {
 public:
  LedgerPlugin() : DemoPlugin(u"ledger") {}

 protected:
  HRESULT Run(const std::string& step, const std::string& argument, std::string& text) override {
    Ref<IKQCacheManager> manager;
    if (Failed(Platform()->GetCacheManager(manager.Put()))) {
      text = "no cache manager";
      return E_FAIL;
    }
    const std::u16string directory(argument.begin(), argument.end());
    manager->Init(directory.c_str());  // a second Init keeps the first directory
    manager->CreateCache(u"demo-ledger", kCacheKindDatabase);
    Ref<IKQCache> cache;
    if (manager->GetCache(u"demo-ledger", cache.Put()) != S_OK) {
      text = "no cache";
      return E_FAIL;
    }
    std::int32_t time = 1000;
    for (const char* key : kKeys) {
      if (step == "write") {
        const std::string value = std::string("value of ") + key;
        if (cache->SetValue(key, time++, value.data(), static_cast<std::int32_t>(value.size())) !=
            S_OK) {
          text = std::string("cannot write ") + key;
          return E_FAIL;
        }
        text += std::string(key) + "=" + value + "; ";
      } else if (step == "read") {
        std::int32_t size = 0;
        cache->GetValueSize(key, &size);
        std::vector<char> buffer(static_cast<std::size_t>(size) + 1);
        std::int32_t length = size;
        if (cache->GetValue(key, buffer.data(), &length) != S_OK) {
          text = std::string("cannot read ") + key;
          return E_FAIL;
        }
        text += std::string(key) + "=" + std::string(buffer.data(), length) + "; ";
      } else {
        text = "unknown step " + step;
        return E_INVALIDARG;
      }
    }
    return S_OK;
  }
};

}  // namespace
}  // namespace example

KQCP_PLUGIN_EXPORT Vantor::KQCP::HRESULT GetPluginObject(Vantor::KQCP::IKQCPPlugin** plugin) {
  return example::MakePlugin<example::LedgerPlugin>(plugin);
}
