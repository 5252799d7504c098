// NATS connection set-up, subscriptions and the callbacks that report a lost link.
#include "nats_link.h"

#include "exit_codes.h"
#include "log.h"

namespace kqcp_bridge {

namespace {

std::string StatusText(natsStatus status) {
  natsStatus last = NATS_OK;
  const char* detail = nats_GetLastError(&last);
  std::string text = natsStatus_GetText(status);
  if (detail && *detail && text.find(detail) == std::string::npos)
    text += std::string(": ") + detail;
  return text;
}

}  // namespace

NatsLink::NatsLink(Counters* counters, LostHandler onLost)
    : counters_(counters), onLost_(std::move(onLost)) {}

NatsLink::~NatsLink() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    for (natsSubscription* subscription : subscriptions_) {
      natsSubscription_Unsubscribe(subscription);
      natsSubscription_Destroy(subscription);
    }
    subscriptions_.clear();
  }
  if (connection_) {
    natsConnection_Close(connection_);
    natsConnection_Destroy(connection_);
  }
  if (options_) natsOptions_Destroy(options_);
}

ConnectOutcome NatsLink::Connect(const Options& options, const std::string& name,
                                 std::string* error) {
  url_ = options.nats;
  natsStatus status = natsOptions_Create(&options_);
  const auto check = [&](natsStatus step, const char* what) {
    if (status == NATS_OK && step != NATS_OK) {
      status = step;
      *error = std::string(what) + ": " + StatusText(step);
    }
  };
  if (status != NATS_OK) {
    *error = "cannot set up NATS options: " + StatusText(status);
    return ConnectOutcome::kRefused;
  }
  check(natsOptions_SetServers(options_, nullptr, 0), "servers");
  check(natsOptions_SetURL(options_, options.nats.c_str()), "server URL");
  check(natsOptions_SetName(options_, name.c_str()), "name");
  check(natsOptions_SetAllowReconnect(options_, false), "reconnect");
  check(natsOptions_SetTimeout(options_, 2000), "timeout");
  // A server that stops answering is noticed within about a second and a half.
  check(natsOptions_SetPingInterval(options_, 500), "ping interval");
  check(natsOptions_SetMaxPingsOut(options_, 2), "pings");
  check(natsOptions_SetIgnoreDiscoveredServers(options_, true), "discovered servers");
  if (!options.user.empty()) {
    check(natsOptions_SetUserInfo(options_, options.user.c_str(), options.password.c_str()),
          "user");
  }
  if (!options.token.empty()) check(natsOptions_SetToken(options_, options.token.c_str()), "token");
  if (!options.credentials.empty()) {
    check(natsOptions_SetUserCredentialsFromFiles(options_, options.credentials.c_str(), nullptr),
          "credentials file");
  }
  if (!options.nkey.empty()) {
    check(natsOptions_SetNKeyFromSeed(options_, options.nkey.c_str(), options.nkeySeed.c_str()),
          "nkey");
  }
  if (!options.tlsCa.empty() || !options.tlsCert.empty()) {
    check(natsOptions_SetSecure(options_, true), "TLS");
  }
  if (!options.tlsCa.empty()) {
    check(natsOptions_LoadCATrustedCertificates(options_, options.tlsCa.c_str()), "TLS CA");
  }
  if (!options.tlsCert.empty()) {
    check(natsOptions_LoadCertificatesChain(options_, options.tlsCert.c_str(),
                                            options.tlsKey.c_str()),
          "TLS certificate");
  }
  check(natsOptions_SetDisconnectedCB(options_, &NatsLink::OnDisconnected, this),
        "disconnect callback");
  check(natsOptions_SetErrorHandler(options_, &NatsLink::OnError, this), "error handler");
  if (status != NATS_OK) return ConnectOutcome::kRefused;
  status = natsConnection_Connect(&connection_, options_);
  if (status == NATS_OK) return ConnectOutcome::kConnected;
  connection_ = nullptr;
  *error = "cannot connect to " + options.nats + ": " + StatusText(status);
  const bool refused = status == NATS_CONNECTION_AUTH_FAILED || status == NATS_NOT_PERMITTED ||
                       status == NATS_SSL_ERROR || status == NATS_SECURE_CONNECTION_REQUIRED ||
                       status == NATS_SECURE_CONNECTION_WANTED;
  return refused ? ConnectOutcome::kRefused : ConnectOutcome::kUnreachable;
}

bool NatsLink::Subscribe(const std::string& subject, Handler handler, int maxMessages,
                         int maxBytes) {
  auto owned = std::make_unique<Handler>(std::move(handler));
  natsSubscription* subscription = nullptr;
  if (natsConnection_Subscribe(&subscription, connection_, subject.c_str(), &NatsLink::OnMessage,
                               owned.get()) != NATS_OK) {
    return false;
  }
  natsSubscription_SetPendingLimits(subscription, maxMessages, maxBytes);
  std::lock_guard<std::mutex> guard(mutex_);
  subscriptions_.push_back(subscription);
  handlers_.push_back(std::move(owned));
  return true;
}

bool NatsLink::Publish(const std::string& subject, const std::string& data,
                       const std::string& reply) {
  if (!connection_) return false;
  const natsStatus status =
      reply.empty() ? natsConnection_Publish(connection_, subject.c_str(), data.data(),
                                             static_cast<int>(data.size()))
                    : natsConnection_PublishRequest(connection_, subject.c_str(), reply.c_str(),
                                                    data.data(), static_cast<int>(data.size()));
  if (status == NATS_MAX_PAYLOAD) ++counters_->droppedTooLarge;
  return status == NATS_OK;
}

bool NatsLink::Flush(int timeoutMs) {
  return connection_ && natsConnection_FlushTimeout(connection_, timeoutMs) == NATS_OK;
}

std::int64_t NatsLink::MaxPayload() {
  return connection_ ? natsConnection_GetMaxPayload(connection_) : 0;
}

void NatsLink::OnMessage(natsConnection*, natsSubscription*, natsMsg* message, void* closure) {
  const char* reply = natsMsg_GetReply(message);
  (*static_cast<Handler*>(closure))(natsMsg_GetSubject(message), reply ? reply : "",
                                    reinterpret_cast<const std::uint8_t*>(natsMsg_GetData(message)),
                                    natsMsg_GetDataLength(message));
  natsMsg_Destroy(message);
}

void NatsLink::OnDisconnected(natsConnection*, void* closure) {
  auto* self = static_cast<NatsLink*>(closure);
  if (self->onLost_) self->onLost_("disconnected from " + self->url_);
}

void NatsLink::OnError(natsConnection*, natsSubscription* subscription, natsStatus status,
                       void* closure) {
  // Slow-consumer drops are counted per subscription by the client library and read back
  // through DroppedMessages; other asynchronous errors end in a disconnect, reported there.
  static_cast<void>(subscription);
  static_cast<void>(status);
  static_cast<void>(closure);
}

std::int64_t NatsLink::DroppedMessages() {
  std::lock_guard<std::mutex> guard(mutex_);
  std::int64_t total = 0;
  for (natsSubscription* subscription : subscriptions_) {
    std::int64_t dropped = 0;
    if (natsSubscription_GetDropped(subscription, &dropped) == NATS_OK) total += dropped;
  }
  return total;
}

int NatsLink::ConnectForRole(const Options& options, const std::string& name, int unreachableExit,
                             int lastExit) {
  std::string error;
  switch (Connect(options, name, &error)) {
    case ConnectOutcome::kRefused:
      LogLine(error);
      return kExitRefused;
    case ConnectOutcome::kUnreachable:
      if (lastExit != unreachableExit) LogLine(error + "; trying again");
      return unreachableExit;
    case ConnectOutcome::kConnected:
      break;
  }
  return 0;
}

}  // namespace kqcp_bridge
