// The example host's message thread: posted messages, shutdown and timers.
#include "asio_service.h"

#include <vector>

#include "asio_status.h"

namespace example {

struct AsioService::Timer {
  Timer(asio::io_context& context, IAsynTimerEvents* sink, std::uint32_t ms, std::uint32_t id,
        bool repeat)
      : timer(context), sink(sink), interval(ms), id(id), repeat(repeat) {}
  asio::steady_timer timer;
  Ref<IAsynTimerEvents> sink;  // dropped when the timer ends
  std::chrono::milliseconds interval;
  std::uint32_t id;
  bool repeat;
  bool killed = false;
};

void AsioService::Run() {
  for (;;) {
    try {
      context_.run();
      return;
    } catch (...) {
      // A handler let an exception out; the service goes on with the next one.
    }
  }
}

HRESULT AsioService::Register(IAsynMessageEvents* target) {
  if (!target) return E_POINTER;
  return Guarded([&] {
    std::lock_guard<std::mutex> guard(mutex_);
    targets_.insert(target);
    return S_OK;
  });
}

HRESULT AsioService::Unregister(IAsynMessageEvents* target) {
  std::lock_guard<std::mutex> guard(mutex_);
  targets_.erase(target);
  return S_OK;
}

HRESULT AsioService::Post(IAsynMessageEvents* target, std::int32_t type, std::uintptr_t value1,
                          std::uintptr_t value2) {
  if (!target) return E_POINTER;
  return Guarded([&] {
    std::lock_guard<std::mutex> guard(mutex_);
    if (closed_) return E_FAIL;
    asio::post(context_,
               [this, message = Message{target, type, value1, value2}] { Deliver(message); });
    return S_OK;
  });
}

void AsioService::Deliver(const Message& message) {
  bool registered = false, closed = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    registered = targets_.count(message.target) != 0;
    closed = closed_;
  }
  // A target that unregistered meanwhile may be gone and must not be called.
  if (!registered) return;
  if (closed) {
    message.target->OnMessageDiscarded(message.type, message.value1, message.value2);
  } else {
    message.target->OnMessage(message.type, message.value1, message.value2);
  }
}

void AsioService::Close() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (closed_) return;
  closed_ = true;
  // Queued after every accepted message, each of which is handed to OnMessageDiscarded first.
  try {
    asio::post(context_, [this] {
      EndTimers(nullptr, [](const Timer&) { return true; });
      work_.reset();
      context_.stop();
    });
  } catch (...) {
    context_.stop();
  }
}

template <class Match>
bool AsioService::EndTimers(IAsynTimerEvents* sink, Match match) {
  std::vector<std::shared_ptr<Timer>> ended;
  auto [first, last] = sink ? timers_.equal_range(sink) : std::pair{timers_.begin(), timers_.end()};
  for (auto it = first; it != last;) {
    if (match(*it->second)) {
      ended.push_back(it->second);
      it = timers_.erase(it);
    } else {
      ++it;
    }
  }
  for (const auto& timer : ended) {
    timer->killed = true;
    timer->timer.cancel();
    timer->sink = Ref<IAsynTimerEvents>();
  }
  return !ended.empty();
}

void AsioService::Arm(const std::shared_ptr<Timer>& timer) {
  timer->timer.expires_after(timer->interval);
  timer->timer.async_wait([this, timer](const asio::error_code& error) {
    if (error || timer->killed) return;
    // The sink may kill or replace this very timer while it runs.
    Ref<IAsynTimerEvents> sink = timer->sink;
    sink->OnTimer(timer->id);
    if (timer->killed) return;
    if (timer->repeat) {
      try {
        Arm(timer);
        return;
      } catch (...) {
        // Cannot be re-armed: it ends here.
      }
    }
    EndTimers(sink.Get(), [&](const Timer& t) { return &t == timer.get(); });
  });
}

HRESULT AsioService::SetTimer(IAsynTimerEvents* sink, std::uint32_t milliseconds, std::uint32_t id,
                              bool repeat) {
  return Guarded([&] {
    // The same sink and id again replaces the live timer.
    EndTimers(sink, [&](const Timer& t) { return t.id == id; });
    auto timer = std::make_shared<Timer>(context_, sink, milliseconds, id, repeat);
    timers_.emplace(sink, timer);
    try {
      Arm(timer);
    } catch (...) {
      EndTimers(sink, [&](const Timer& t) { return &t == timer.get(); });
      throw;
    }
    return S_OK;
  });
}

HRESULT AsioService::KillTimer(IAsynTimerEvents* sink, std::uint32_t id) {
  return EndTimers(sink, [&](const Timer& t) { return t.id == id; }) ? S_OK : E_FAIL;
}

HRESULT AsioService::KillTimers(IAsynTimerEvents* sink) {
  return EndTimers(sink, [](const Timer&) { return true; }) ? S_OK : E_FAIL;
}

}  // namespace example
