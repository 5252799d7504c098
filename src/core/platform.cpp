// The platform's Init, which starts the workshop and attaches the frame, and the accessors that
// hand out the services or create XML objects by name.
#include "core/platform.h"

#include <string_view>

#include "asyn/asyn_frame.h"
#include "cache/cache_manager.h"
#include "com/module.h"
#include "core/singletons.h"
#include "kqcp/asyn_host.h"
#include "lua/lua_host.h"
#include "plugin/plugin_manager.h"
#include "share/share_session_manager.h"
#include "workshop/workshop_factory.h"
#include "xml/kq_xml.h"
#include "xml/xml_package.h"
#include "xml/xml_package_parser.h"

namespace Vantor::KQCP {

namespace {

// Stores the process-wide service of Holder in out. Singletons count no references, so the
// AddRef changes nothing; E_OUTOFMEMORY when the service cannot be made.
template <class Holder, class Interface>
HRESULT HandOutSingleton(Interface** out) {
  if (!out) return E_POINTER;
  auto* instance = Holder::Instance();
  if (!instance) return E_OUTOFMEMORY;
  *out = instance;
  instance->AddRef();
  return S_OK;
}

// Stores an object the platform holds in out with a reference for the caller; E_FAIL when the
// platform holds none.
template <class Interface>
HRESULT HandOutHeld(const com::ComPtr<Interface>& held, Interface** out) {
  if (!out) return E_POINTER;
  if (!held) return E_FAIL;
  held.CopyTo(out);
  return S_OK;
}

}  // namespace

HRESULT KQCommunityPlatform_::Init(IPlatformHost* host) {
  // Racing callers wait for the first, which alone succeeds; the others then see what it made.
  VEXO::System::Thread::ScopedLock guard(initLock_);
  // Set at once, so that an Init from inside the host's own lookups (the lock is recursive)
  // fails too.
  if (initialised_.exchange(true)) return E_FAIL;
  // The workshop's threads run this library's code until the process ends.
  com::TheModule().Pin();
  if (KQLog::KQLogWrapper_* log = LogWrapperHolder::Instance()) log->SetModuleName(u"KQCP");
  if (host) {
    com::ComPtr<IAsynIoHost> ioHost;
    host->QueryHostInterface(IID_IAsynIoHost, ioHost.PutVoid());
    AttachFrame(ioHost);
    host->QueryHostInterface(IID_IPlatformHostObject, hostObject_.PutVoid());
  }
  StartWorkshop();
  return S_OK;
}

void KQCommunityPlatform_::AttachFrame(const com::ComPtr<IAsynIoHost>& ioHost) {
  // The frame takes its own reference; its answer is not examined.
  if (KQCPAsynFrame_* frame = AsynFrameHolder::Instance()) frame->Attach(ioHost.Get());
}

void KQCommunityPlatform_::StartWorkshop() {
  // Without memory for a workshop the platform has none, and GetWorkshop keeps answering E_FAIL.
  if (workshop_ || Failed(CreateWorkshop(workshop_.Put()))) return;
  workshop_->Start(2);
}

HRESULT KQCommunityPlatform_::LoadPlugins(const char16_t* listPath) {
  PluginManager_* manager = PluginManagerHolder::Instance();
  if (!manager) return E_OUTOFMEMORY;
  return manager->LoadPlugins(listPath);
}

HRESULT KQCommunityPlatform_::NotifyPlugins(std::int32_t value) {
  // Without a manager there is no plug-in to notify.
  if (PluginManager_* manager = PluginManagerHolder::Instance()) manager->NotifyPlugins(value);
  return S_OK;
}

HRESULT KQCommunityPlatform_::GetPluginManager(IKQCPPluginManager** manager) {
  return HandOutSingleton<PluginManagerHolder>(manager);
}

HRESULT KQCommunityPlatform_::GetWorkshop(IWorkshop** workshop) {
  return HandOutHeld(workshop_, workshop);
}

HRESULT KQCommunityPlatform_::Reserved1(void* /*unused*/) { return E_FAIL; }

HRESULT KQCommunityPlatform_::GetAsynIOFrame(IAsynIOFrame** frame) {
  return HandOutSingleton<AsynFrameHolder>(frame);
}

HRESULT KQCommunityPlatform_::Reserved2(void* /*unused*/) { return E_FAIL; }

HRESULT KQCommunityPlatform_::GetHostObject(IUnknown** object) {
  return HandOutHeld(hostObject_, object);
}

HRESULT KQCommunityPlatform_::GetShareSessionManager(IShareSessionManager** manager) {
  return HandOutSingleton<ShareSessionManagerHolder>(manager);
}

HRESULT KQCommunityPlatform_::Reserved3(void* /*unused*/) { return E_FAIL; }

HRESULT KQCommunityPlatform_::GetCacheManager(IKQCacheManager** manager) {
  return HandOutSingleton<CacheManagerHolder>(manager);
}

HRESULT KQCommunityPlatform_::CreateObject(const char16_t* interfaceName, std::uint32_t /*unused*/,
                                           void** object) {
  if (!interfaceName || !object) return E_POINTER;
  const std::u16string_view name(interfaceName);
  // Each object starts with the caller's one reference; when it cannot be allocated the
  // caller gets null and still S_OK.
  if (name == u"IXMLPackage") {
    *object = static_cast<IXMLPackage*>(com::MakeObject<XMLPackageImpl>());
  } else if (name == u"IKQXmlElement") {
    *object = static_cast<IKQXmlElement*>(com::MakeObject<KQXml>());
  } else if (name == u"IXMLPackageParser") {
    *object = static_cast<IXMLPackageParser*>(com::MakeObject<XMLPackageParser>());
  } else {
    return E_FAIL;
  }
  return S_OK;
}

HRESULT KQCommunityPlatform_::GetLuaHost(IKQCPLuaHost** host) {
  return HandOutSingleton<LuaHostHolder>(host);
}

}  // namespace Vantor::KQCP
