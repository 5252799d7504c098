// The process's Lua host: a registry of named opaque values for a script engine supplied from
// outside the library, and that engine, to which it forwards one call.
#pragma once

#include <string>
#include <unordered_map>

#include "base/critical_section.h"
#include "base/singleton_holder.h"
#include "com/com_ptr.h"
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
  // One reference held; a call under way holds one more of its own, so the engine may be
  // replaced or cleared while other threads call it.
  VEXO::System::Thread::CriticalSection engineLock_;
  com::ComPtr<IKQCPLuaEngine> engine_;
};

using LuaHostHolder = VEXO::Pattern::SingletonHolder<LuaHost_>;

}  // namespace Vantor::KQCP
