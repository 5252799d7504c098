// Loading plug-in libraries, the plug-in table and the object registry.
#include "plugin/plugin_manager.h"

#include <algorithm>
#include <new>
#include <utility>

#include "com/com_ptr.h"
#include "core/singletons.h"
#include "plugin/plugin_file.h"
#include "plugin/plugin_list_reader.h"
#include "plugin/plugin_path.h"

namespace Vantor::KQCP {

namespace {

using VEXO::System::Thread::ScopedLock;

// Frees a string the plug-in allocated, on every way out.
class BstrHolder {
 public:
  explicit BstrHolder(BSTR text) : text_(text) {}
  ~BstrHolder() { SysFreeString(text_); }
  BstrHolder(const BstrHolder&) = delete;
  BstrHolder& operator=(const BstrHolder&) = delete;
  BSTR Get() const { return text_; }

 private:
  BSTR text_;
};

// Marks a name as being initialised for the duration of a plug-in's Initialize.
class InitialisingScope {
 public:
  InitialisingScope(std::vector<std::u16string>& names, const std::u16string& name)
      : names_(names) {
    names_.push_back(name);
  }
  ~InitialisingScope() { names_.pop_back(); }
  InitialisingScope(const InitialisingScope&) = delete;
  InitialisingScope& operator=(const InitialisingScope&) = delete;

 private:
  std::vector<std::u16string>& names_;
};

void PublishLibrarySymbolsOnce() {
  // Plug-ins call the exported BSTR functions; they must find them however the host loaded us.
  static const bool published = os::PublishOwnModuleSymbols();
  static_cast<void>(published);
}

}  // namespace

HRESULT PluginManager_::LoadPlugins(const char16_t* listPath) {
  try {
    // Only a null path means the default list; an empty one is a file that cannot be opened.
    const std::u16string defaultPath = listPath ? std::u16string() : DefaultPluginListPath();
    if (!listPath && defaultPath.empty()) return E_FAIL;
    PluginListReader reader;
    if (reader.Parse(listPath ? listPath : defaultPath.c_str()) != PluginListReader::kRead) {
      return E_FAIL;
    }
    for (const PluginEntry& entry : reader.Entries()) {
      if (entry.enable) LoadPluginLibrary(entry.path.c_str());
    }
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT PluginManager_::NotifyPlugins(std::int32_t /*value*/) {
  ScopedLock guard(pluginLock_);
  IKQCommunityPlatform* platform = PlatformHolder::Instance();
  // Plug-ins are never removed, and one that joins from inside a Notify leaves the iteration
  // valid.
  for (auto& [name, info] : plugins_) {
    try {
      info.plugin->Notify(platform);
    } catch (...) {
      // One plug-in's failure does not keep the others from hearing.
    }
  }
  return S_OK;
}

HRESULT PluginManager_::LoadPlugin(const char16_t* libraryPath) {
  if (!libraryPath || !*libraryPath) return E_POINTER;
  return LoadPluginLibrary(libraryPath);
}

HRESULT PluginManager_::LoadPluginLibrary(const char16_t* path) {
  if (!path) return E_POINTER;
  try {
    PublishLibrarySymbolsOnce();
    // Declared first so that it is closed last, once the library's fate is settled.
    PluginFile file;
    if (const HRESULT opened = file.Open(path); Failed(opened)) return opened;
    // Declared before the plug-in so that it is freed after the plug-in from its code is released.
    os::Library library;
    if (const HRESULT loaded = file.Load(library); Failed(loaded)) return loaded;
    auto entry = reinterpret_cast<GetPluginObjectFn>(library.Symbol("GetPluginObject"));
    if (!entry) return KQCP_E_PLUGIN_NO_ENTRY;

    IKQCPPlugin* created = nullptr;
    const HRESULT made = entry(&created);
    auto plugin = com::ComPtr<IKQCPPlugin>::Adopt(created);
    if (Failed(made)) return made;
    if (!plugin) return KQCP_E_PLUGIN_NO_OBJECT;

    BSTR reported = nullptr;
    plugin->GetName(&reported);
    const BstrHolder name(reported);
    if (!name.Get() || !name.Get()[0]) return KQCP_E_PLUGIN_NO_NAME;
    // Leaving by any path frees the name, then releases a plug-in not taken, then frees its
    // library, in that order.
    return AddPlugin(path, library, plugin, std::u16string(name.Get()));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    // Thrown by plug-in code; the plug-in is released and its library freed on the way out.
    return E_FAIL;
  }
}

HRESULT PluginManager_::AddPlugin(const char16_t* path, os::Library& library,
                                  com::ComPtr<IKQCPPlugin>& plugin, const std::u16string& name) {
  // The table entry is made before Initialize, so that a plug-in that accepted always joins.
  PluginTable pending;
  pending.try_emplace(name, PluginInfo{path, nullptr, name, nullptr});
  PluginTable::node_type node = pending.extract(pending.begin());

  ScopedLock guard(pluginLock_);
  // The first plug-in of a name wins; a later one is not initialised.
  if (NameIsTaken(name)) return KQCP_E_PLUGIN_NAME_TAKEN;
  IKQCommunityPlatform* platform = PlatformHolder::Instance();
  if (!platform) return E_OUTOFMEMORY;
  // From Initialize on, the plug-in's code may stand behind objects it registered, commands it
  // posted or threads it started, whether it accepts or not: its library stays mapped for good,
  // also should Initialize throw.
  void* const module = library.Release();
  HRESULT accepted = S_OK;
  {
    InitialisingScope scope(initialising_, name);
    accepted = plugin->Initialize(platform);
  }
  if (Failed(accepted)) return accepted;

  // The table keeps the reference "GetPluginObject" gave and one more of its own.
  plugin->AddRef();
  node.mapped().module = module;
  node.mapped().plugin = plugin.Detach();
  plugins_.insert(std::move(node));
  return S_OK;
}

bool PluginManager_::NameIsTaken(const std::u16string& name) const {
  return plugins_.contains(name) ||
         std::find(initialising_.begin(), initialising_.end(), name) != initialising_.end();
}

HRESULT PluginManager_::GetPlugin(const char16_t* name, IKQCPPlugin** plugin) {
  if (!name) return E_FAIL;
  if (!plugin) return E_POINTER;
  ScopedLock guard(pluginLock_);
  const auto found = plugins_.find(std::u16string_view(name));
  if (found == plugins_.end()) return E_FAIL;
  found->second.plugin->AddRef();
  *plugin = found->second.plugin;
  return S_OK;
}

std::u16string PluginManager_::PluginPath(std::u16string_view name) {
  ScopedLock guard(pluginLock_);
  const auto found = plugins_.find(name);
  return found == plugins_.end() ? std::u16string() : found->second.path;
}

HRESULT PluginManager_::GetObject(REFIID iid, IUnknown** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  ScopedLock guard(registryLock_);
  const auto found = registry_.find(iid);
  if (found == registry_.end()) return E_FAIL;
  found->second->AddRef();
  *object = found->second;
  return S_OK;
}

HRESULT PluginManager_::RegisterObject(REFIID iid, IUnknown* object) {
  if (!object) return E_POINTER;
  // The replaced object is released once the lock is left, so that code run by its release
  // cannot meet the registry half-changed or wait on it.
  com::ComPtr<IUnknown> replaced;
  {
    ScopedLock guard(registryLock_);
    try {
      const auto [slot, inserted] = registry_.try_emplace(iid, object);
      object->AddRef();
      if (inserted) return S_OK;
      replaced = com::ComPtr<IUnknown>::Adopt(std::exchange(slot->second, object));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  return S_FALSE;
}

HRESULT PluginManager_::UnregisterObject(REFIID iid) {
  com::ComPtr<IUnknown> removed;
  {
    ScopedLock guard(registryLock_);
    const auto found = registry_.find(iid);
    if (found == registry_.end()) return E_FAIL;
    removed = com::ComPtr<IUnknown>::Adopt(found->second);
    registry_.erase(found);
  }
  return S_OK;
}

}  // namespace Vantor::KQCP
