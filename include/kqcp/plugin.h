/// @file
/// Plug-ins: the plug-in manager, the interface every plug-in object implements, and the export
/// a plug-in library provides ("GetPluginObject").
#pragma once

#include "kqcp/types.h"

namespace Vantor::KQCP {

struct IKQCommunityPlatform;

/// Interface id of IKQCPPluginManager.
inline constexpr GUID IID_IKQCPPluginManager = {
    0x3A2F1768, 0x9462, 0x49C0, {0xA9, 0x46, 0xD8, 0x98, 0x70, 0x8D, 0x5B, 0x13}};
/// The manager never queries plug-ins; assigned by this build for plug-in authors.
inline constexpr GUID IID_IKQCPPlugin = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x30}};

/// Implemented by every plug-in object; its library hands it out through "GetPluginObject".
struct IKQCPPlugin : IUnknown {
  static constexpr const GUID& kIid = IID_IKQCPPlugin;  ///< its interface id
  /// Called once after loading; a negative result refuses the plug-in.
  virtual HRESULT Initialize(IKQCommunityPlatform* platform) = 0;
  /// Called by IKQCPPluginManager::NotifyPlugins; the result is ignored.
  virtual HRESULT Notify(IKQCommunityPlatform* platform) = 0;
  /// A new string (SysAllocString) that the manager frees.
  virtual HRESULT GetName(BSTR* name) = 0;
};

/// Loads plug-in libraries and keeps a table of objects that plug-ins share by identifier.
struct IKQCPPluginManager : IUnknown {
  static constexpr const GUID& kIid = IID_IKQCPPluginManager;  ///< its interface id
  /// Null loads the default list, "KQCP_PLUGIN.xml" beside the library.
  virtual HRESULT LoadPlugins(const char16_t* listPath) = 0;
  /// Calls Notify on every loaded plug-in; value is not used. S_OK.
  virtual HRESULT NotifyPlugins(std::int32_t value) = 0;
  /// S_OK when the library's plug-in was added; E_POINTER for a null or empty path; otherwise
  /// why it was not (KQCP_E_PLUGIN_* below, or the plug-in's own failure).
  /// The path names a file, relative to the working directory unless absolute; a bare name is
  /// not looked up in the loader's library path. Only a regular file is loaded (a symbolic link
  /// to one is followed): a FIFO, device or directory is refused at once with
  /// KQCP_E_PLUGIN_NOT_LOADABLE and a line on standard error, for list entries too. The file is
  /// loaded through its descriptor, so the loader knows the library as "/proc/self/fd/N" (dladdr
  /// reports that name) and "$ORIGIN" in its run path stands for "/proc/self/fd": a plug-in that
  /// needs libraries of its own names them by an absolute run path or loads them itself.
  virtual HRESULT LoadPlugin(const char16_t* libraryPath) = 0;
  /// The loaded plug-in of that name, with a reference added; E_FAIL for a null or unknown
  /// name (plugin untouched), E_POINTER for a null plugin.
  virtual HRESULT GetPlugin(const char16_t* name, IKQCPPlugin** plugin) = 0;
  /// The object registered under iid, with a reference added; E_FAIL (object null) when none,
  /// E_POINTER for a null object.
  virtual HRESULT GetObject(REFIID iid, IUnknown** object) = 0;
  /// Registers object under iid, adding a reference: S_OK when iid was new, S_FALSE when it
  /// replaced (and released) an earlier object; E_POINTER for a null object.
  virtual HRESULT RegisterObject(REFIID iid, IUnknown* object) = 0;
  /// S_OK when an object was registered under iid and is now removed; E_FAIL otherwise.
  virtual HRESULT UnregisterObject(REFIID iid) = 0;
};

/// Why IKQCPPluginManager::LoadPlugin did not add a library (LoadPlugins loads on regardless).
/// A negative result of the plug-in's own GetPluginObject or Initialize is passed back unchanged.
/// The library cannot be loaded: missing, not a regular file, or refused by the loader
/// (HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)).
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

/// Marks the "GetPluginObject" export. Use in exactly one source file of a plug-in library:
///   KQCP_PLUGIN_EXPORT HRESULT GetPluginObject(IKQCPPlugin** plugin) { ... }
#define KQCP_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
