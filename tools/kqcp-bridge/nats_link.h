// One NATS connection of a bridge process: connects with the options' credentials and TLS,
// never reconnects (a lost link ends the process's role; its supervisor starts it afresh), and
// bounds what each subscription may hold (NATS drops past the bound; the drops are counted).
#pragma once

#include <nats/nats.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "counters.h"
#include "options.h"

namespace kqcp_bridge {

enum class ConnectOutcome { kConnected, kUnreachable, kRefused };

class NatsLink {
 public:
  // subject, reply subject (may be empty), data.
  using Handler =
      std::function<void(const std::string&, const std::string&, const std::uint8_t*, int)>;
  using LostHandler = std::function<void(const std::string& why)>;

  NatsLink(Counters* counters, LostHandler onLost);
  ~NatsLink();
  NatsLink(const NatsLink&) = delete;
  NatsLink& operator=(const NatsLink&) = delete;

  // kRefused: credentials or TLS refused, which trying again will not mend.
  ConnectOutcome Connect(const Options& options, const std::string& name, std::string* error);
  // Connect for a role process: 0 once connected; otherwise the exit code its supervisor
  // reads, kExitRefused (with a line) or unreachableExit. A server that stays away gets a
  // line only when the last exit was not already for that.
  int ConnectForRole(const Options& options, const std::string& name, int unreachableExit,
                     int lastExit);
  // Messages go to handler on the subscription's own thread, in the order published.
  bool Subscribe(const std::string& subject, Handler handler, int maxMessages = 65536,
                 int maxBytes = 64 << 20);
  bool Publish(const std::string& subject, const std::string& data, const std::string& reply = {});
  bool Flush(int timeoutMs);
  std::int64_t MaxPayload();
  // Messages NATS dropped for subscriptions over their bounds, in all.
  std::int64_t DroppedMessages();
  std::string Url() const { return url_; }

 private:
  static void OnMessage(natsConnection*, natsSubscription*, natsMsg* message, void* closure);
  static void OnDisconnected(natsConnection*, void* closure);
  static void OnError(natsConnection*, natsSubscription*, natsStatus status, void* closure);

  Counters* counters_;
  LostHandler onLost_;
  natsOptions* options_ = nullptr;
  natsConnection* connection_ = nullptr;
  std::string url_;
  std::mutex mutex_;
  std::vector<natsSubscription*> subscriptions_;
  std::vector<std::unique_ptr<Handler>> handlers_;
};

}  // namespace kqcp_bridge
