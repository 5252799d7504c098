// The platform's Init and its service accessors. Services that are not part of this build yet
// answer E_NOTIMPL.
#include "core/platform.h"

#include <string_view>

#include "asyn/asyn_frame.h"
#include "cache/cache_manager.h"
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

HRESULT KQCommunityPlatform_::Init(IPlatformHost* host) {
  // The host calls Init once, before it shares the platform; the flag only guards repeats.
  if (initialised_.load()) return E_FAIL;
  if (KQLog::KQLogWrapper_* log = LogWrapperHolder::Instance()) log->SetModuleName(u"KQCP");
  if (host) {
    com::ComPtr<IAsynIoHost> ioHost;
    host->QueryHostInterface(IID_IAsynIoHost, ioHost.PutVoid());
    AttachFrame(ioHost);
    host->QueryHostInterface(IID_IPlatformHostObject, hostObject_.PutVoid());
  }
  StartWorkshop();
  initialised_.store(true);
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
  if (!manager) return E_POINTER;
  PluginManager_* instance = PluginManagerHolder::Instance();
  if (!instance) return E_OUTOFMEMORY;
  *manager = instance;
  instance->AddRef();
  return S_OK;
}

HRESULT KQCommunityPlatform_::GetWorkshop(IWorkshop** workshop) {
  if (!workshop) return E_POINTER;
  if (!workshop_) return E_FAIL;
  workshop_.CopyTo(workshop);
  return S_OK;
}

HRESULT KQCommunityPlatform_::Reserved1(void* /*unused*/) { return E_FAIL; }

HRESULT KQCommunityPlatform_::GetAsynIOFrame(IAsynIOFrame** frame) {
  if (!frame) return E_POINTER;
  KQCPAsynFrame_* instance = AsynFrameHolder::Instance();
  if (!instance) return E_OUTOFMEMORY;
  *frame = instance;
  instance->AddRef();
  return S_OK;
}

HRESULT KQCommunityPlatform_::Reserved2(void* /*unused*/) { return E_FAIL; }

HRESULT KQCommunityPlatform_::GetHostObject(IUnknown** object) {
  if (!object) return E_POINTER;
  if (!hostObject_) return E_FAIL;
  hostObject_.CopyTo(object);
  return S_OK;
}

HRESULT KQCommunityPlatform_::GetShareSessionManager(IShareSessionManager** manager) {
  if (!manager) return E_POINTER;
  ShareSessionManager_* instance = ShareSessionManagerHolder::Instance();
  if (!instance) return E_OUTOFMEMORY;
  *manager = instance;
  instance->AddRef();
  return S_OK;
}

HRESULT KQCommunityPlatform_::Reserved3(void* /*unused*/) { return E_FAIL; }

HRESULT KQCommunityPlatform_::GetCacheManager(IKQCacheManager** manager) {
  if (!manager) return E_POINTER;
  CacheManager_* instance = CacheManagerHolder::Instance();
  if (!instance) return E_OUTOFMEMORY;
  *manager = instance;
  instance->AddRef();
  return S_OK;
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
  if (!host) return E_POINTER;
  LuaHost_* instance = LuaHostHolder::Instance();
  if (!instance) return E_OUTOFMEMORY;
  *host = instance;
  instance->AddRef();
  return S_OK;
}

}  // namespace Vantor::KQCP
