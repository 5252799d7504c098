// One call posted by the frame to itself. The caller waits on its own completion, so several
// callers on several threads are each woken by their own message only, and a discarded
// message wakes its caller too.
#pragma once

#include <cstdint>
#include <memory>

#include "kqcp/asyn.h"
#include "os/one_shot_event.h"

namespace Vantor::KQCP {

struct AsynMarshalledCall {
  // What the call needs besides its first message value.
  std::uintptr_t value2 = 0;
  std::unique_ptr<AsynProxyInfo> proxy;  // copy for socket creation, freed by the creation
  std::uint32_t timerValues[3] = {0, 0, 0};
  HRESULT result = E_FAIL;
  bool discarded = false;
  os::OneShotEvent done;

  void Finish() { done.Set(); }
  void Wait() { done.Wait(); }
};

}  // namespace Vantor::KQCP
