// An agent on the export side: a client of the real service under one remote client's own
// name, so the service sees that client as it would a local one. Requests get ids of the
// agent's own (the library answers only ids its process issued); each reply goes back to the
// import side with the token that pairs it with the client's request there.
#include <unistd.h>

#include <chrono>
#include <deque>
#include <map>

#include "counters.h"
#include "exit_codes.h"
#include "log.h"
#include "nats_link.h"
#include "roles.h"
#include "share_access.h"
#include "subjects.h"
#include "task_loop.h"
#include "wire.h"

namespace kqcp_bridge {

using namespace Vantor::KQCP;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kTickMs = 20;
constexpr auto kOwnerSilence = std::chrono::milliseconds(1500);
// Operations held while the service's backlog for this client is full (in order).
constexpr std::size_t kHeldLimit = 8192;

class ExportAgent {
 public:
  ExportAgent(const Options& options, std::string client, std::uint64_t owner)
      : options_(options),
        client_(std::move(client)),
        owner_(owner),
        subjects_(options.subjectPrefix, options.platform),
        loop_(16384, 64 << 20),
        link_(&counters_, [this](const std::string& why) { loop_.Stop(kRoleLinkLost, why); }) {}

  int Run() {
    // An agent's lost server is its head's to report.
    if (const int exit = link_.ConnectForRole(
            options_, "kqcp-bridge export " + options_.platform + " " + client_, kRoleLinkLost,
            kRoleLinkLost);
        exit != 0) {
      return exit;
    }
    manager_ = ShareManager();
    if (!manager_ ||
        manager_->Start(options_.platform.c_str(), kShareModeClient, client_.c_str()) != S_OK) {
      Ready(false, "the name is held by a live client of the service");
      link_.Flush(500);
      return kRoleNameHeld;
    }
    operationListener_ = Ref<IShareSessionOperationEvents>::Adopt(new OperationListener(
        [this](IShareSessionOperation* operation) { FromService(operation); }));
    Discover();
    lastOwnerBeat_ = Clock::now();
    link_.Subscribe(subjects_.ToClient(client_), [this](const std::string&, const std::string&,
                                                        const std::uint8_t* data, int size) {
      Reader reader(data, size);
      WireOperation operation;
      if (reader.Type() != static_cast<std::uint8_t>(Frame::kDown) ||
          !DecodeOperation(&reader, &operation)) {
        ++counters_.droppedStale;
        return;
      }
      const std::size_t bytes = operation.data.size() + 64;
      if (!loop_.Post([this, op = std::move(operation)] { Down(op); }, bytes)) {
        ++counters_.droppedQueue;
      }
    });
    link_.Subscribe(subjects_.ImportBeat(owner_),
                    [this](const std::string&, const std::string&, const std::uint8_t*, int) {
                      loop_.Post([this] { lastOwnerBeat_ = Clock::now(); }, 0);
                    });
    link_.Subscribe(subjects_.Stats(), [this](const std::string&, const std::string& reply,
                                              const std::uint8_t*, int) {
      if (reply.empty()) return;
      link_.Publish(reply, "export " + options_.platform + " client " + client_ + " pid " +
                               std::to_string(getpid()) + ": " + counters_.Text());
    });
    link_.Flush(1000);
    Ready(true, {});
    const int code = loop_.Run([this] { Tick(); }, kTickMs);
    if (code == kRoleOwnerGone) {
      link_.Publish(subjects_.Agents(), Writer(Frame::kClosed).Text(client_).U64(owner_).Out());
      link_.Flush(500);
    } else {
      LogLine("agent ended: " + loop_.Why() + "; " + counters_.Text());
    }
    manager_->Stop();
    manager_->WaitForStop(1000);
    return code;
  }

 private:
  void Ready(bool ok, const std::string& reason) {
    link_.Publish(
        subjects_.Agents(),
        Writer(Frame::kReady).Text(client_).U64(owner_).U8(ok ? 1 : 0).Text(reason).Out());
  }

  void Discover() {
    for (const std::string& name : FindSessionNames(options_.platform, options_.sessions)) {
      Proxy(name);
    }
  }

  IShareSessionProxy* Proxy(const std::string& session) {
    const auto found = proxies_.find(session);
    if (found != proxies_.end()) return found->second.Get();
    Ref<IShareSessionProxy> proxy;
    if (manager_->GetProxySession(session.c_str(), 0, proxy.Put()) != S_OK) return nullptr;
    proxy->AddOperationListener(operationListener_.Get());
    proxy->AddMessageListener(
        Ref<IShareSessionMessageEvents>::Adopt(new MessageListener([this, session](std::int32_t a,
                                                                                   std::int32_t b,
                                                                                   std::int32_t c) {
          FromServiceMessage(session, a, b, c);
        })).Get());
    return proxies_.emplace(session, std::move(proxy)).first->second.Get();
  }

  // An operation of the remote client, in the order it posted them.
  void Down(const WireOperation& operation) {
    if (!held_.empty() || !Post(operation)) {
      if (held_.size() >= kHeldLimit) {
        ++counters_.droppedQueue;
        return;
      }
      held_.push_back(operation);
    }
  }

  // False when the service's backlog for this client is full and it should be tried again.
  bool Post(const WireOperation& operation) {
    IShareSessionProxy* proxy = Proxy(operation.session);
    if (!proxy) {
      ++counters_.droppedStale;
      return true;
    }
    Ref<IShareSessionOperation> posted;
    if (proxy->CreateOperation(posted.Put()) != S_OK) {
      ++counters_.refusedOther;
      return true;
    }
    const bool request = operation.kind == kShareOperationRequest;
    std::int32_t id = 0;
    posted->GetId(&id);
    if (!FillOperation(posted.Get(), operation, !request)) {
      ++counters_.refusedOther;
      return true;
    }
    if (request) pending_[id] = operation.token;
    const HRESULT result = proxy->PostOperation(posted.Get());
    if (result == S_OK) {
      ++counters_.answered;
      return true;
    }
    if (request) pending_.erase(id);
    if (result == KQCP_E_SHARE_BACKLOG_FULL) {
      ++counters_.refusedBacklog;
      return false;
    }
    ++counters_.refusedOther;
    return true;
  }

  // On the manager's thread: hand over, never wait.
  void FromService(IShareSessionOperation* operation) {
    WireOperation wire = ReadOperation(operation);
    const std::size_t bytes = wire.data.size() + 64;
    if (!loop_.Post([this, op = std::move(wire)]() mutable { Up(std::move(op)); }, bytes)) {
      ++counters_.droppedQueue;
    }
  }

  void FromServiceMessage(const std::string& session, std::int32_t a, std::int32_t b,
                          std::int32_t c) {
    const std::string frame = Writer(Frame::kUpMessage)
                                  .Text(client_)
                                  .Text(session)
                                  .U32(static_cast<std::uint32_t>(a))
                                  .U32(static_cast<std::uint32_t>(b))
                                  .U32(static_cast<std::uint32_t>(c))
                                  .Out();
    if (!loop_.Post([this, frame] { Send(frame); }, frame.size())) ++counters_.droppedQueue;
  }

  void Up(WireOperation operation) {
    operation.client = client_;
    operation.token = 0;
    if (operation.kind == kShareOperationReply) {
      const auto found = pending_.find(operation.id);
      if (found != pending_.end()) {
        operation.token = found->second;
        pending_.erase(found);
      }
    }
    Send(EncodeOperation(Frame::kUpOperation, operation));
  }

  void Send(const std::string& frame) {
    if (link_.Publish(subjects_.ToImport(owner_), frame)) ++counters_.forwarded;
  }

  void Tick() {
    counters_.droppedNats = static_cast<std::uint64_t>(link_.DroppedMessages());
    while (!held_.empty() && Post(held_.front())) held_.pop_front();
    if (Clock::now() - lastOwnerBeat_ > kOwnerSilence) {
      loop_.Stop(kRoleOwnerGone, "its import went away");
    }
    if (++ticks_ % 50 == 0) Discover();
    // A post that found the service gone means the requests in flight are lost: end, so the
    // export side starts afresh and the import side gives up its role.
    const std::uint64_t gone = ShareCounters().droppedGone;
    if (gone > 0) loop_.Stop(kRoleServiceGone, "the service went away");
  }

  const Options& options_;
  const std::string client_;
  const std::uint64_t owner_;
  const Subjects subjects_;
  Counters counters_;
  TaskLoop loop_;
  NatsLink link_;
  IShareSessionManager* manager_ = nullptr;
  Ref<IShareSessionOperationEvents> operationListener_;
  std::map<std::string, Ref<IShareSessionProxy>> proxies_;
  std::map<std::int32_t, std::uint64_t> pending_;  // the agent's request id → import token
  std::deque<WireOperation> held_;
  Clock::time_point lastOwnerBeat_;
  std::uint64_t ticks_ = 0;
};

}  // namespace

int RunExportAgent(const Options& options, const std::string& client, std::uint64_t owner) {
  SetLogPrefix("export " + options.platform + " client " + client);
  ExportAgent agent(options, client, owner);
  return agent.Run();
}

}  // namespace kqcp_bridge
