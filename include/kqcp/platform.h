/// @file
/// The platform object, the host object a host application hands to Init, and the exported
/// entry point GetKQCommunityPlatform.
#pragma once

#include "kqcp/asyn.h"
#include "kqcp/cache.h"
#include "kqcp/lua.h"
#include "kqcp/plugin.h"
#include "kqcp/share.h"
#include "kqcp/types.h"
#include "kqcp/workshop.h"
#include "kqcp/xml.h"

namespace Vantor::KQCP {

/// Interface id of IKQCommunityPlatform.
inline constexpr GUID IID_IKQCommunityPlatform = {
    0x6BCC89C0, 0xBF3D, 0x42CA, {0xB4, 0xD1, 0x4C, 0x41, 0x81, 0xF7, 0x5D, 0x29}};
/// What Init asks the host object for, in this order: its asynchronous I/O service
/// (IID_IAsynIoHost), then the object GetHostObject hands out later.
inline constexpr GUID IID_IPlatformHostObject = {
    0x196BED5B, 0x8E10, 0x4B9D, {0xAB, 0x54, 0x84, 0x77, 0x5C, 0x39, 0x03, 0x8E}};
/// The platform never queries the host object; assigned by this build for host authors.
inline constexpr GUID IID_IPlatformHost = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x50}};

/// Implemented by the host application and handed to IKQCommunityPlatform::Init, which alone
/// calls it, on Init's thread; the platform keeps no pointer to it.
struct IPlatformHost : IUnknown {
  static constexpr const GUID& kIid = IID_IPlatformHost;  ///< its interface id
  /// Stores the host's interface with that identifier (carrying a reference) or null. The
  /// result is not examined.
  virtual HRESULT QueryHostInterface(REFIID iid, void** out) = 0;
};

/// The one platform object of the process, through which hosts and plug-ins reach every service.
/// It counts no references (AddRef and Release return 1), answers QueryInterface only for its
/// own id, and lives until the process ends; there is no shutdown call. The services are
/// process-wide singletons made on first request; only GetWorkshop and GetHostObject hand out
/// counted references. Every getter returns E_POINTER for a null out pointer and E_OUTOFMEMORY
/// when its service cannot be made. Any thread.
struct IKQCommunityPlatform : IUnknown {
  static constexpr const GUID& kIid = IID_IKQCommunityPlatform;  ///< its interface id
  /// Once per process; the host may be null. Exactly one call succeeds, also when threads race;
  /// every other fails with E_FAIL once the first has finished. From Init on, libkqcp.so stays
  /// mapped until the process ends (its worker threads run its code), so a host's dlclose is
  /// harmless. With a host it attaches the host's IAsynIoHost to the frame and keeps the host
  /// object; with or without, it makes the workshop and starts it with two workers.
  virtual HRESULT Init(IPlatformHost* host) = 0;
  /// As IKQCPPluginManager::LoadPlugins; null loads the default list.
  virtual HRESULT LoadPlugins(const char16_t* listPath) = 0;
  /// As IKQCPPluginManager::NotifyPlugins; S_OK.
  virtual HRESULT NotifyPlugins(std::int32_t value) = 0;
  /// The plug-in manager; S_OK.
  virtual HRESULT GetPluginManager(IKQCPPluginManager** manager) = 0;
  /// The workshop Init made, with a reference for the caller; S_OK; E_FAIL before Init (or
  /// when Init could not make it), out untouched.
  virtual HRESULT GetWorkshop(IWorkshop** workshop) = 0;
  /// Unused slot: always E_FAIL.
  virtual HRESULT Reserved1(void* unused) = 0;
  /// The asynchronous I/O frame; S_OK.
  virtual HRESULT GetAsynIOFrame(IAsynIOFrame** frame) = 0;
  /// Unused slot: always E_FAIL.
  virtual HRESULT Reserved2(void* unused) = 0;
  /// The object Init got from the host for IID_IPlatformHostObject, with a reference for the
  /// caller; S_OK; E_FAIL when there is none, out untouched.
  virtual HRESULT GetHostObject(IUnknown** object) = 0;
  /// The share-session manager; S_OK.
  virtual HRESULT GetShareSessionManager(IShareSessionManager** manager) = 0;
  /// Unused slot: always E_FAIL.
  virtual HRESULT Reserved3(void* unused) = 0;
  /// The cache manager; S_OK.
  virtual HRESULT GetCacheManager(IKQCacheManager** manager) = 0;
  /// A new object by interface name, compared exactly: "IXMLPackage", "IKQXmlElement" or
  /// "IXMLPackageParser". The object carries one reference, the caller's. S_OK, and null in
  /// object when it could not be allocated; E_FAIL for any other name (object untouched);
  /// E_POINTER for a null name or object.
  virtual HRESULT CreateObject(const char16_t* interfaceName, std::uint32_t unused,
                               void** object) = 0;
  /// The Lua host registry; S_OK.
  virtual HRESULT GetLuaHost(IKQCPLuaHost** host) = 0;
};

/// Signature of the export, for hosts that resolve it with dlsym.
using GetKQCommunityPlatformFn = HRESULT (*)(IKQCommunityPlatform** platform);

}  // namespace Vantor::KQCP

/// Stores the platform, made on first use; every call gives the same object. S_OK; E_POINTER
/// for null; E_OUTOFMEMORY when it cannot be made. Any thread.
KQCP_API Vantor::KQCP::HRESULT GetKQCommunityPlatform(
    Vantor::KQCP::IKQCommunityPlatform** platform);

/// The component-library exports. Any thread.
/// S_OK while no component object of the library lives (workshops, share sessions and their
/// operations, caches) and Init has not run; S_FALSE otherwise, and always from Init on.
KQCP_API Vantor::KQCP::HRESULT DllCanUnloadNow();
/// The library registers no creatable class: always CLASS_E_CLASSNOTAVAILABLE, out set to null.
KQCP_API Vantor::KQCP::HRESULT DllGetClassObject(Vantor::KQCP::REFIID classId,
                                                 Vantor::KQCP::REFIID iid, void** out);
/// Writes the library's application id keys to the user's registry file
/// ($XDG_CONFIG_HOME or ~/.config, kqcp/registry). S_OK; E_FAIL when it cannot be written.
KQCP_API Vantor::KQCP::HRESULT DllRegisterServer();
/// Removes the keys DllRegisterServer wrote; S_OK; E_FAIL when they cannot be removed.
KQCP_API Vantor::KQCP::HRESULT DllUnregisterServer();
