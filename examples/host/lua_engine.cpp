// Lua 5.4 behind the platform's Lua host.
#include "lua_engine.h"

#include <lua.hpp>

namespace example {

LuaEngine::LuaEngine(std::function<std::string(const std::string&)> lookup)
    : state_(luaL_newstate()), lookup_(std::move(lookup)) {
  luaL_openlibs(state_);
  lua_pushlightuserdata(state_, this);
  lua_pushcclosure(state_, &LuaEngine::Lookup, 1);
  lua_setglobal(state_, "kqcp_lookup");
}

LuaEngine::~LuaEngine() { lua_close(state_); }

int LuaEngine::Lookup(lua_State* state) {
  auto* self = static_cast<LuaEngine*>(lua_touserdata(state, lua_upvalueindex(1)));
  const char* name = luaL_checkstring(state, 1);
  const std::string value = self->lookup_ ? self->lookup_(name) : std::string();
  lua_pushlstring(state, value.data(), value.size());
  return 1;
}

HRESULT LuaEngine::Op1(LuaValue value) {
  const char* chunk = reinterpret_cast<const char*>(value);
  if (!chunk) return E_POINTER;
  if (luaL_dostring(state_, chunk) != LUA_OK) {
    lastError_ = lua_tostring(state_, -1) ? lua_tostring(state_, -1) : "unknown Lua error";
    lua_pop(state_, 1);
    return E_FAIL;
  }
  return S_OK;
}

}  // namespace example
