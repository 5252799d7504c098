// The process's Lua host: a registry of named opaque values for a script engine supplied from
// outside the library, and that engine, to which it forwards one call.
#pragma once

#include <atomic>
#include <string>
#include <unordered_map>

#include "base/critical_section.h"
#include "base/singleton_holder.h"
#include "com/object.h"
#include "kqcp/lua.h"

namespace Vantor::KQCP {

class LuaHost_ : public com::SingletonObject<IKQCPLuaHost> {
 public:
  HRESULT Reserved(std::uint32_t value) override;
  HRESULT Register(const char* name, LuaValue value) override;
  HRESULT Unregister(const char* name) override;
  HRESULT CallEngine(LuaValue value) override;
  HRESULT SetEngine(IKQCPLuaEngine* engine) override;

 protected:
  LuaHost_() = default;
  ~LuaHost_() override = default;

 private:
  // Exact, case-sensitive names. The host only keeps the values; the engine reads them.
  std::unordered_map<std::string, LuaValue> registry_;
  VEXO::System::Thread::CriticalSection registryLock_;
  // One reference held. Set before other threads call the engine; replacing it while a call is
  // under way elsewhere is not supported.
  std::atomic<IKQCPLuaEngine*> engine_{nullptr};
};

using LuaHostHolder = VEXO::Pattern::SingletonHolder<LuaHost_>;

}  // namespace Vantor::KQCP
