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

inline constexpr GUID IID_IKQCommunityPlatform = {
    0x6BCC89C0, 0xBF3D, 0x42CA, {0xB4, 0xD1, 0x4C, 0x41, 0x81, 0xF7, 0x5D, 0x29}};
/// What Init asks the host object for, in this order: its asynchronous I/O service
/// (IID_IAsynIoHost), then the object GetHostObject hands out later.
inline constexpr GUID IID_IPlatformHostObject = {
    0x196BED5B, 0x8E10, 0x4B9D, {0xAB, 0x54, 0x84, 0x77, 0x5C, 0x39, 0x03, 0x8E}};
/// The platform never queries the host object; assigned by this build for host authors.
inline constexpr GUID IID_IPlatformHost = {
    0x2B7C4E10, 0x5D3F, 0x4A61, {0x8B, 0x92, 0xA3, 0xC4, 0xD5, 0xE6, 0xF7, 0x50}};

/// Implemented by the host application.
struct IPlatformHost : IUnknown {
  static constexpr const GUID& kIid = IID_IPlatformHost;
  /// Stores the host's interface with that identifier (carrying a reference) or null.
  virtual HRESULT QueryHostInterface(REFIID iid, void** out) = 0;
};

/// The one platform object of the process. It counts no references.
struct IKQCommunityPlatform : IUnknown {
  static constexpr const GUID& kIid = IID_IKQCommunityPlatform;
  /// Once per process; the host may be null. Exactly one call succeeds, also when threads race;
  /// every other fails with E_FAIL once the first has finished. From Init on, libkqcp.so stays
  /// mapped until the process ends (its worker threads run its code), so a host's dlclose is
  /// harmless.
  virtual HRESULT Init(IPlatformHost* host) = 0;
  virtual HRESULT LoadPlugins(const char16_t* listPath) = 0;
  virtual HRESULT NotifyPlugins(std::int32_t value) = 0;
  virtual HRESULT GetPluginManager(IKQCPPluginManager** manager) = 0;
  virtual HRESULT GetWorkshop(IWorkshop** workshop) = 0;
  virtual HRESULT Reserved1(void* unused) = 0;
  virtual HRESULT GetAsynIOFrame(IAsynIOFrame** frame) = 0;
  virtual HRESULT Reserved2(void* unused) = 0;
  virtual HRESULT GetHostObject(IUnknown** object) = 0;
  virtual HRESULT GetShareSessionManager(IShareSessionManager** manager) = 0;
  virtual HRESULT Reserved3(void* unused) = 0;
  virtual HRESULT GetCacheManager(IKQCacheManager** manager) = 0;
  /// "IXMLPackage", "IKQXmlElement" or "IXMLPackageParser"; the new object belongs to the caller.
  virtual HRESULT CreateObject(const char16_t* interfaceName, std::uint32_t unused,
                               void** object) = 0;
  virtual HRESULT GetLuaHost(IKQCPLuaHost** host) = 0;
};

/// Signature of the export, for hosts that resolve it with dlsym.
using GetKQCommunityPlatformFn = HRESULT (*)(IKQCommunityPlatform** platform);

}  // namespace Vantor::KQCP

KQCP_API Vantor::KQCP::HRESULT GetKQCommunityPlatform(
    Vantor::KQCP::IKQCommunityPlatform** platform);

/// The component-library exports.
/// S_OK while no component object of the library lives (workshops, share sessions and their
/// operations, caches) and Init has not run; S_FALSE otherwise, and always from Init on.
KQCP_API Vantor::KQCP::HRESULT DllCanUnloadNow();
KQCP_API Vantor::KQCP::HRESULT DllGetClassObject(Vantor::KQCP::REFIID classId,
                                                 Vantor::KQCP::REFIID iid, void** out);
KQCP_API Vantor::KQCP::HRESULT DllRegisterServer();
KQCP_API Vantor::KQCP::HRESULT DllUnregisterServer();
