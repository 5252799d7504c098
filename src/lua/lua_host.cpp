// The Lua host's name registry and engine forwarding.
#include "lua/lua_host.h"

#include <new>
#include <utility>

namespace Vantor::KQCP {

using VEXO::System::Thread::ScopedLock;

HRESULT LuaHost_::Reserved(std::uint32_t /*value*/) { return S_OK; }

HRESULT LuaHost_::Register(const char* name, LuaValue value) {
  if (!name) return E_POINTER;
  try {
    ScopedLock guard(registryLock_);
    const auto [slot, inserted] = registry_.try_emplace(name, value);
    if (inserted) return S_OK;
    slot->second = value;
    return S_FALSE;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT LuaHost_::Unregister(const char* name) {
  if (!name) return E_POINTER;
  try {
    ScopedLock guard(registryLock_);
    return registry_.erase(name) == 1 ? S_OK : E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT LuaHost_::CallEngine(LuaValue value) {
  // The call holds its own reference, so a SetEngine on another thread meanwhile releases only
  // the host's.
  com::ComPtr<IKQCPLuaEngine> engine;
  {
    ScopedLock guard(engineLock_);
    engine = engine_;
  }
  if (!engine) return E_FAIL;
  try {
    return engine->Op1(value);
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT LuaHost_::SetEngine(IKQCPLuaEngine* engine) {
  com::ComPtr<IKQCPLuaEngine> replaced(engine);
  {
    ScopedLock guard(engineLock_);
    std::swap(engine_, replaced);
  }
  // Released outside the lock: the engine's own code may call the Lua host.
  return S_OK;
}

}  // namespace Vantor::KQCP
