// The library's entry point: the one platform object of the process.
#include "core/singletons.h"

using Vantor::KQCP::HRESULT;
using Vantor::KQCP::IKQCommunityPlatform;

KQCP_API HRESULT GetKQCommunityPlatform(IKQCommunityPlatform** platform) {
  if (!platform) return Vantor::KQCP::E_POINTER;
  try {
    Vantor::KQCP::KQCommunityPlatform_* instance = Vantor::KQCP::PlatformHolder::Instance();
    if (!instance) return Vantor::KQCP::E_OUTOFMEMORY;
    return instance->QueryInterface(Vantor::KQCP::IID_IKQCommunityPlatform,
                                    reinterpret_cast<void**>(platform));
  } catch (...) {
    return Vantor::KQCP::E_FAIL;
  }
}
