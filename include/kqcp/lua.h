/// @file
/// The Lua host: a registry of named opaque values and one script engine supplied from outside.
#pragma once

#include "kqcp/types.h"

namespace Vantor::KQCP {

/// Interface id of IKQCPLuaHost.
inline constexpr GUID IID_IKQCPLuaHost = {
    0xF350CA33, 0x6BE3, 0x4314, {0xA8, 0x32, 0xE4, 0x4C, 0x77, 0x2B, 0x7E, 0xC4}};
/// The Lua host never queries the engine; assigned by this build for engine authors.
inline constexpr GUID IID_IKQCPLuaEngine = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x40}};

/// Opaque values held for the engine; pointer-sized so that an engine may register addresses.
using LuaValue = std::uintptr_t;

/// The engine object. Its one operation is unnamed: CallEngine passes the value through and
/// hands the result back unchanged.
struct IKQCPLuaEngine : IUnknown {
  static constexpr const GUID& kIid = IID_IKQCPLuaEngine;  ///< its interface id
  /// Whatever the engine does with value; its result is CallEngine's.
  virtual HRESULT Op1(LuaValue value) = 0;
};

/// The platform's Lua host: named values for the engine and the engine itself.
struct IKQCPLuaHost : IUnknown {
  static constexpr const GUID& kIid = IID_IKQCPLuaHost;  ///< its interface id
  /// Unnamed slot: S_OK, no effect.
  virtual HRESULT Reserved(std::uint32_t value) = 0;
  /// Names are exact and case-sensitive. S_FALSE when an existing value was replaced.
  virtual HRESULT Register(const char* name, LuaValue value) = 0;
  /// S_OK when the name was there and is now gone; E_FAIL otherwise, E_POINTER for null.
  virtual HRESULT Unregister(const char* name) = 0;
  /// Passes value to the engine's Op1 and returns its result; E_FAIL when no engine is set.
  virtual HRESULT CallEngine(LuaValue value) = 0;
  /// Null releases the current engine.
  virtual HRESULT SetEngine(IKQCPLuaEngine* engine) = 0;
};

}  // namespace Vantor::KQCP
