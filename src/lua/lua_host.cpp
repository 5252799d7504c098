// The Lua host's name registry and engine forwarding.
#include "lua/lua_host.h"

#include <new>

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
  IKQCPLuaEngine* engine = engine_.load(std::memory_order_acquire);
  if (!engine) return E_FAIL;
  try {
    return engine->Op1(value);
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT LuaHost_::SetEngine(IKQCPLuaEngine* engine) {
  if (engine) engine->AddRef();
  // Exchanged, so that racing calls release each replaced engine exactly once.
  if (IKQCPLuaEngine* old = engine_.exchange(engine, std::memory_order_acq_rel)) old->Release();
  return S_OK;
}

}  // namespace Vantor::KQCP
