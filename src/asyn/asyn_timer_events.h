// The wrapper the frame gives the host for each timer request; it calls the caller's sink when
// the timer fires.
#pragma once

#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/asyn.h"

namespace Vantor::KQCP {

class AsynTimerEvents : public com::RefCounted<com::PlainObject, IAsynTimerEvents> {
 public:
  explicit AsynTimerEvents(IAsynTimerEvents* sink) : sink_(sink) {}

  HRESULT OnTimer(std::uint32_t value) override { return sink_ ? sink_->OnTimer(value) : E_FAIL; }

 private:
  com::ComPtr<IAsynTimerEvents> sink_;
};

}  // namespace Vantor::KQCP
