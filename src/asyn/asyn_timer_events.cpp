// Timer wrapper: removes its own table entry when the host releases its last timer.
#include "asyn/asyn_timer_events.h"

#include "asyn/asyn_frame.h"

namespace Vantor::KQCP {

AsynTimerEvents::~AsynTimerEvents() { AsynFrameHolder::Instance()->ForgetTimer(Sink(), this); }

}  // namespace Vantor::KQCP
