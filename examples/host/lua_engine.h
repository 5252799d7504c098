// The example host's Lua engine: real Lua 5.4. Its one operation runs a chunk of Lua source
// (the value is the address of NUL-terminated text) and answers S_OK or E_FAIL; the chunk can
// call kqcp_lookup(name) to read a value that was registered with the platform's Lua host.
#pragma once

#include <functional>
#include <string>

#include "common/object.h"
#include "kqcp/lua.h"

struct lua_State;

namespace example {

class LuaEngine : public Implements<IKQCPLuaEngine> {
 public:
  // lookup answers kqcp_lookup(name) from the chunks; the host keeps its own copy of what it
  // registered, since the Lua host registry cannot be read back.
  explicit LuaEngine(std::function<std::string(const std::string&)> lookup);
  ~LuaEngine() override;

  HRESULT Op1(LuaValue value) override;
  // The error text of the last chunk that failed.
  const std::string& LastError() const { return lastError_; }

 private:
  static int Lookup(lua_State* state);

  lua_State* state_;
  std::function<std::string(const std::string&)> lookup_;
  std::string lastError_;
};

}  // namespace example
