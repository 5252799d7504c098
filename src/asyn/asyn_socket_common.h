// What the socket wrappers share.
#pragma once

#include "kqcp/asyn_host.h"

namespace Vantor::KQCP {

// The host operation inside a caller's operation, or null.
inline IAsynHostOperation* HostOperationOf(IKQCPAsynIoOperation* operation) {
  IAsynHostOperation* host = nullptr;
  if (operation) operation->GetHostOperation(&host);
  return host;
}

}  // namespace Vantor::KQCP
