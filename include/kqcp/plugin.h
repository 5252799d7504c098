/// @file
/// Plug-ins: the plug-in manager, the interface every plug-in object implements, and the export
/// a plug-in library provides ("GetPluginObject").
#pragma once

#include "kqcp/types.h"

namespace Vantor::KQCP {

struct IKQCommunityPlatform;

inline constexpr GUID IID_IKQCPPluginManager = {
    0x3A2F1768, 0x9462, 0x49C0, {0xA9, 0x46, 0xD8, 0x98, 0x70, 0x8D, 0x5B, 0x13}};
/// The manager never queries plug-ins; assigned by this build for plug-in authors.
inline constexpr GUID IID_IKQCPPlugin = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x30}};

struct IKQCPPlugin : IUnknown {
  static constexpr const GUID& kIid = IID_IKQCPPlugin;
  /// Called once after loading; a negative result refuses the plug-in.
  virtual HRESULT Initialize(IKQCommunityPlatform* platform) = 0;
  virtual HRESULT Notify(IKQCommunityPlatform* platform) = 0;
  /// A new string (SysAllocString) that the manager frees.
  virtual HRESULT GetName(BSTR* name) = 0;
};

struct IKQCPPluginManager : IUnknown {
  static constexpr const GUID& kIid = IID_IKQCPPluginManager;
  /// Null loads the default list, "KQCP_PLUGIN.xml" beside the library.
  virtual HRESULT LoadPlugins(const char16_t* listPath) = 0;
  virtual HRESULT NotifyPlugins(std::int32_t value) = 0;
  /// S_OK when the library's plug-in was added; E_POINTER for a null or empty path; otherwise
  /// why it was not (KQCP_E_PLUGIN_* below, or the plug-in's own failure).
  virtual HRESULT LoadPlugin(const char16_t* libraryPath) = 0;
  virtual HRESULT GetPlugin(const char16_t* name, IKQCPPlugin** plugin) = 0;
  virtual HRESULT GetObject(REFIID iid, IUnknown** object) = 0;
  virtual HRESULT RegisterObject(REFIID iid, IUnknown* object) = 0;
  virtual HRESULT UnregisterObject(REFIID iid) = 0;
};

/// Why IKQCPPluginManager::LoadPlugin did not add a library (LoadPlugins loads on regardless).
/// A negative result of the plug-in's own GetPluginObject or Initialize is passed back unchanged.
/// The library cannot be loaded (HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)).
inline constexpr HRESULT KQCP_E_PLUGIN_NOT_LOADABLE = static_cast<HRESULT>(0x8007007Eu);
/// The library has no "GetPluginObject" export (HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND)).
inline constexpr HRESULT KQCP_E_PLUGIN_NO_ENTRY = static_cast<HRESULT>(0x8007007Fu);
/// "GetPluginObject" succeeded but stored no plug-in.
inline constexpr HRESULT KQCP_E_PLUGIN_NO_OBJECT = E_NOINTERFACE;
/// The plug-in reported a null or empty name (HRESULT_FROM_WIN32(ERROR_INVALID_NAME)).
inline constexpr HRESULT KQCP_E_PLUGIN_NO_NAME = static_cast<HRESULT>(0x8007007Bu);
/// A plug-in of that name is loaded already; the first one stays
/// (HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)).
inline constexpr HRESULT KQCP_E_PLUGIN_NAME_TAKEN = static_cast<HRESULT>(0x800700B7u);

/// Signature of the "GetPluginObject" export: stores a plug-in carrying one reference.
using GetPluginObjectFn = HRESULT (*)(IKQCPPlugin** plugin);

}  // namespace Vantor::KQCP

// Use in exactly one source file of a plug-in library:
//   KQCP_PLUGIN_EXPORT HRESULT GetPluginObject(IKQCPPlugin** plugin) { ... }
#define KQCP_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
