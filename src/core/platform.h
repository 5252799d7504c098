// The platform object: initialised once by the host, then hands out the library's services.
#pragma once

#include <atomic>

#include "base/critical_section.h"
#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/asyn_host.h"
#include "kqcp/platform.h"

namespace Vantor::KQCP {

class KQCommunityPlatform_ : public com::SingletonObject<IKQCommunityPlatform> {
 public:
  HRESULT Init(IPlatformHost* host) override;
  HRESULT LoadPlugins(const char16_t* listPath) override;
  HRESULT NotifyPlugins(std::int32_t value) override;
  HRESULT GetPluginManager(IKQCPPluginManager** manager) override;
  HRESULT GetWorkshop(IWorkshop** workshop) override;
  HRESULT Reserved1(void* unused) override;
  HRESULT GetAsynIOFrame(IAsynIOFrame** frame) override;
  HRESULT Reserved2(void* unused) override;
  HRESULT GetHostObject(IUnknown** object) override;
  HRESULT GetShareSessionManager(IShareSessionManager** manager) override;
  HRESULT Reserved3(void* unused) override;
  HRESULT GetCacheManager(IKQCacheManager** manager) override;
  HRESULT CreateObject(const char16_t* interfaceName, std::uint32_t unused, void** object) override;
  HRESULT GetLuaHost(IKQCPLuaHost** host) override;

 protected:
  KQCommunityPlatform_() = default;

 private:
  // Hands the host's I/O service to the asynchronous frame.
  void AttachFrame(const com::ComPtr<IAsynIoHost>& ioHost);
  // Creates the workshop and starts its worker threads.
  void StartWorkshop();

  VEXO::System::Thread::CriticalSection initLock_;
  std::atomic<bool> initialised_{false};
  com::ComPtr<IWorkshop> workshop_;
  com::ComPtr<IUnknown> hostObject_;
};

}  // namespace Vantor::KQCP
