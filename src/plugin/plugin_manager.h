// The process's plug-in manager: loads plug-in libraries, keeps the plug-ins they hand out by the
// name each reports, notifies them, and keeps a registry of objects by interface identifier.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/critical_section.h"
#include "base/singleton_holder.h"
#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/plugin.h"
#include "os/library.h"

namespace Vantor::KQCP {

class PluginManager_ : public com::SingletonObject<IKQCPPluginManager> {
 public:
  HRESULT LoadPlugins(const char16_t* listPath) override;
  HRESULT NotifyPlugins(std::int32_t value) override;
  HRESULT LoadPlugin(const char16_t* libraryPath) override;
  HRESULT GetPlugin(const char16_t* name, IKQCPPlugin** plugin) override;
  HRESULT GetObject(REFIID iid, IUnknown** object) override;
  HRESULT RegisterObject(REFIID iid, IUnknown* object) override;
  HRESULT UnregisterObject(REFIID iid) override;

  // Loads one library and adds its plug-in: S_OK when added; otherwise the reason (see the
  // KQCP_E_PLUGIN_* codes), with the plug-in released. The library is freed again unless the
  // plug-in's Initialize was called: from then on it stays mapped, accepted or refused.
  virtual HRESULT LoadPluginLibrary(const char16_t* path);

  // The library path of the loaded plug-in of that name, exactly as it was given to the load;
  // empty when no plug-in has the name.
  std::u16string PluginPath(std::u16string_view name);

 protected:
  PluginManager_() = default;
  ~PluginManager_() override = default;

 private:
  struct PluginInfo {
    // The library path exactly as it was passed to the load.
    std::u16string path;
    // The library's handle; never closed.
    void* module = nullptr;
    std::u16string name;
    // Holds the reference "GetPluginObject" gave and one more; loaded plug-ins stay for good.
    IKQCPPlugin* plugin = nullptr;
  };
  // Ordered by the UTF-16 code units of the name, a shorter prefix first.
  using PluginTable = std::map<std::u16string, PluginInfo, std::less<>>;

  // Initialises the plug-in under the table lock and adds it, taking over the plug-in's
  // reference; on refusal the reference stays with the caller. Once Initialize is called the
  // library is taken over (and kept) whatever the answer; before, it stays with the caller.
  HRESULT AddPlugin(const char16_t* path, os::Library& library, com::ComPtr<IKQCPPlugin>& plugin,
                    const std::u16string& name);
  bool NameIsTaken(const std::u16string& name) const;

  VEXO::System::Thread::CriticalSection pluginLock_;
  PluginTable plugins_;
  // Names whose plug-in is inside Initialize, innermost last. A library loaded from within that
  // Initialize cannot take the name; the plug-in joins the table only once it accepted.
  std::vector<std::u16string> initialising_;

  VEXO::System::Thread::CriticalSection registryLock_;
  // One reference held on each object.
  std::map<GUID, IUnknown*> registry_;
};

using PluginManagerHolder = VEXO::Pattern::SingletonHolder<PluginManager_>;

}  // namespace Vantor::KQCP
