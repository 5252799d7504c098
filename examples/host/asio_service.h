// The state behind the example host's I/O service: the io_context its message thread runs,
// posted messages, the registered targets and the timers. The message thread shares it, so it
// outlives the host object when the host's last reference goes on that very thread.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "common/object.h"
#include "kqcp/asyn_host.h"

namespace example {

class AsioService {
 public:
  AsioService() : work_(asio::make_work_guard(context_)) {}

  asio::io_context& Context() { return context_; }
  // Runs the message thread's loop; an exception out of a handler does not end it.
  void Run();
  void SetMessageThread(std::thread::id id) { threadId_ = id; }
  bool OnThread() const { return std::this_thread::get_id() == threadId_; }

  HRESULT Register(IAsynMessageEvents* target);
  HRESULT Unregister(IAsynMessageEvents* target);
  HRESULT Post(IAsynMessageEvents* target, std::int32_t type, std::uintptr_t value1,
               std::uintptr_t value2);
  // Refuses posts from now on; every message still queued goes to OnMessageDiscarded, then the
  // timers end and the loop stops.
  void Close();

  // Message thread only.
  HRESULT SetTimer(IAsynTimerEvents* sink, std::uint32_t milliseconds, std::uint32_t id,
                   bool repeat);
  HRESULT KillTimer(IAsynTimerEvents* sink, std::uint32_t id);
  HRESULT KillTimers(IAsynTimerEvents* sink);

 private:
  struct Timer;
  struct Message {
    IAsynMessageEvents* target;
    std::int32_t type;
    std::uintptr_t value1, value2;
  };
  void Deliver(const Message& message);
  void Arm(const std::shared_ptr<Timer>& timer);
  // Ends the matching timers of sink (all sinks when null); true when there were any.
  template <class Match>
  bool EndTimers(IAsynTimerEvents* sink, Match match);

  asio::io_context context_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::thread::id threadId_;
  std::mutex mutex_;  // guards targets_ and closed_
  std::set<IAsynMessageEvents*> targets_;
  bool closed_ = false;
  std::multimap<IAsynTimerEvents*, std::shared_ptr<Timer>> timers_;  // message thread only
};

}  // namespace example
