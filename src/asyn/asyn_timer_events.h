// The wrapper the frame gives the host for a sink's timers; it calls the caller's sink when a
// timer fires. One wrapper serves all of a sink's live timers, so the host can tell them apart
// by their values and kill each one; it leaves the frame's table when the host lets it go.
#pragma once

#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/asyn.h"

namespace Vantor::KQCP {

class AsynTimerEvents : public com::RefCounted<com::AtomicPlainObject, IAsynTimerEvents> {
 public:
  explicit AsynTimerEvents(IAsynTimerEvents* sink) : sink_(sink) {}
  ~AsynTimerEvents() override;

  HRESULT OnTimer(std::uint32_t value) override { return sink_ ? sink_->OnTimer(value) : E_FAIL; }

  IAsynTimerEvents* Sink() const { return sink_.Get(); }

 private:
  com::ComPtr<IAsynTimerEvents> sink_;
};

}  // namespace Vantor::KQCP
