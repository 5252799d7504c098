// The import side: while the export side beats on NATS, this process is the platform's service
// on its machine, with the export side's session names and mirrored shared data. A local
// client's request goes to that client's agent on the export side and its reply comes back
// through CreateReply on the very request, so it reaches the process that asked and no later
// one of its name. When the link goes the process ends, and its clients see their service gone.
#include <unistd.h>

#include <chrono>
#include <deque>
#include <map>
#include <set>

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
constexpr auto kBeatSilence = std::chrono::milliseconds(1000);
constexpr auto kFirstBeatLimit = std::chrono::milliseconds(1500);
constexpr auto kOpenLimit = std::chrono::seconds(5);
constexpr auto kImportBeatEvery = std::chrono::milliseconds(200);

enum class ClientState { kNew, kOpening, kOpen, kRefused };

struct ClientEntry {
  ClientState state = ClientState::kNew;
  Clock::time_point openSince;
  int outstanding = 0;                           // requests whose replies have not come back
  std::deque<WireOperation> waiting;             // while opening
  std::deque<Ref<IShareSessionOperation>> held;  // local posts refused for a full backlog
  std::deque<std::string> heldSessions;
};

struct PendingRequest {
  Ref<IShareSessionOperation> request;
  std::string client;
};

struct MirroredData {
  std::uint64_t version = 0;
  std::vector<std::uint8_t> bytes;
};

class ImportSide {
 public:
  explicit ImportSide(const Options& options)
      : options_(options),
        subjects_(options.subjectPrefix, options.platform),
        loop_(16384, 64 << 20),
        link_(&counters_, [this](const std::string& why) { loop_.Stop(kRoleLinkLost, why); }) {}

  int Run(int lastExit) {
    if (const int exit = link_.ConnectForRole(options_, "kqcp-bridge import " + options_.platform,
                                              kRoleUnreachable, lastExit);
        exit != 0) {
      return exit;
    }
    Subscribe();
    began_ = Clock::now();
    const int code = loop_.Run([this] { Tick(); }, kTickMs);
    if (manager_) {
      LogLine("service of " + options_.platform + " given up: " + loop_.Why() + "; " +
              counters_.Text());
      manager_->Stop();
      manager_->WaitForStop(1000);
    } else if (code != lastExit || code == kRoleStopped) {
      LogLine(loop_.Why());
    }
    return code;
  }

 private:
  void Subscribe() {
    link_.Subscribe(
        subjects_.Beat(),
        [this](const std::string&, const std::string&, const std::uint8_t* data, int size) {
          Reader reader(data, size);
          const std::uint8_t type = reader.Type();
          std::uint64_t epoch = 0;
          if (!reader.U64(&epoch)) return;
          if (type == static_cast<std::uint8_t>(Frame::kBye)) {
            loop_.Post(
                [this, epoch] {
                  if (epoch == exportEpoch_) loop_.Stop(kRoleLinkLost, "the export side ended");
                },
                0);
            return;
          }
          std::uint32_t count = 0;
          std::vector<std::string> names;
          if (type != static_cast<std::uint8_t>(Frame::kBeat) || !reader.U32(&count)) return;
          for (std::uint32_t i = 0; i < count && i < 4096; ++i) {
            std::string name;
            if (!reader.Text(&name)) return;
            names.push_back(std::move(name));
          }
          loop_.Post([this, epoch, names] { Beat(epoch, names); }, 0);
        },
        1024, 4 << 20);
    link_.Subscribe(subjects_.Data(), [this](const std::string&, const std::string&,
                                             const std::uint8_t* data, int size) {
      Reader reader(data, size);
      std::uint64_t epoch = 0, version = 0;
      std::string session;
      MirroredData mirrored;
      if (reader.Type() != static_cast<std::uint8_t>(Frame::kData) || !reader.U64(&epoch) ||
          !reader.Text(&session) || !reader.U64(&mirrored.version) ||
          !reader.Bytes(&mirrored.bytes)) {
        return;
      }
      static_cast<void>(version);
      const std::size_t bytes = mirrored.bytes.size();
      loop_.Post([this, epoch, session,
                  m = std::move(mirrored)]() mutable { ApplyData(epoch, session, std::move(m)); },
                 bytes);
    });
    link_.Subscribe(subjects_.ToImport(epoch_),
                    [this](const std::string&, const std::string&, const std::uint8_t* data,
                           int size) { FromExport(data, size); });
    link_.Subscribe(subjects_.Stats(),
                    [this](const std::string&, const std::string& reply, const std::uint8_t*, int) {
                      if (reply.empty()) return;
                      link_.Publish(reply, "import " + options_.platform + " pid " +
                                               std::to_string(getpid()) + ": " + counters_.Text());
                    });
  }

  void FromExport(const std::uint8_t* data, int size) {
    Reader reader(data, size);
    const std::uint8_t type = reader.Type();
    if (type == static_cast<std::uint8_t>(Frame::kUpOperation)) {
      WireOperation operation;
      if (!DecodeOperation(&reader, &operation)) {
        ++counters_.droppedStale;
        return;
      }
      const std::size_t bytes = operation.data.size() + 64;
      if (!loop_.Post([this, op = std::move(operation)] { Up(op); }, bytes)) {
        ++counters_.droppedQueue;
      }
    } else if (type == static_cast<std::uint8_t>(Frame::kUpMessage)) {
      std::string client, session;
      std::uint32_t a = 0, b = 0, c = 0;
      if (!reader.Text(&client) || !reader.Text(&session) || !reader.U32(&a) || !reader.U32(&b) ||
          !reader.U32(&c)) {
        ++counters_.droppedStale;
        return;
      }
      if (!loop_.Post([=, this] { UpMessage(client, session, a, b, c); }, 64)) {
        ++counters_.droppedQueue;
      }
    } else if (type == static_cast<std::uint8_t>(Frame::kOpenResult)) {
      std::string client, reason;
      std::uint8_t ok = 0;
      if (!reader.Text(&client) || !reader.U8(&ok) || !reader.Text(&reason)) return;
      loop_.Post([=, this] { Opened(client, ok != 0, reason); }, 0);
    }
  }

  void Beat(std::uint64_t epoch, const std::vector<std::string>& names) {
    if (exportEpoch_ == 0) {
      exportEpoch_ = epoch;
      link_.Publish(subjects_.Resend(), Writer(Frame::kResend).Out());
    } else if (epoch != exportEpoch_) {
      loop_.Stop(kRoleLinkLost, "the export side started afresh");
      return;
    }
    lastBeat_ = Clock::now();
    sessionNames_ = names;
    if (manager_) {
      for (const std::string& name : names) CreateSession(name);
    }
  }

  void TakeRole() {
    manager_ = ShareManager();
    if (!manager_ ||
        manager_->Start(options_.platform.c_str(), kShareModeService, nullptr) != S_OK) {
      manager_ = nullptr;
      loop_.Stop(kRoleLocalService,
                 "a service of " + options_.platform + " already runs on this machine; waiting");
      return;
    }
    listener_ = Ref<IShareSessionOperationEvents>::Adopt(new OperationListener(
        [this](IShareSessionOperation* operation) { FromClient(operation); }));
    std::string list;
    for (const std::string& name : sessionNames_) {
      CreateSession(name);
      list += (list.empty() ? "" : ", ") + name;
    }
    LogLine("connected to " + link_.Url() + "; service of " + options_.platform +
            " taken (sessions: " + (list.empty() ? "none" : list) + ")");
  }

  void CreateSession(const std::string& name) {
    if (services_.count(name)) return;
    Ref<IShareSessionService> service;
    if (manager_->CreateServiceSession(name.c_str(), 0) != S_OK ||
        manager_->GetServiceSession(name.c_str(), 0, service.Put()) != S_OK) {
      return;
    }
    service->AddOperationListener(listener_.Get());
    if (const auto found = data_.find(name); found != data_.end()) {
      service->SetSharedData(found->second.bytes.data(),
                             static_cast<std::int32_t>(found->second.bytes.size()));
    }
    services_.emplace(name, std::move(service));
  }

  void ApplyData(std::uint64_t epoch, const std::string& session, MirroredData mirrored) {
    if (epoch != exportEpoch_) return;
    MirroredData& stored = data_[session];
    if (mirrored.version <= stored.version) return;
    stored = std::move(mirrored);
    if (const auto found = services_.find(session); found != services_.end()) {
      found->second->SetSharedData(stored.bytes.data(),
                                   static_cast<std::int32_t>(stored.bytes.size()));
    }
  }

  // On the manager's thread: take what the client sent and hand it over, never wait.
  void FromClient(IShareSessionOperation* operation) {
    WireOperation wire = ReadOperation(operation);
    Ref<IShareSessionOperation> request;
    if (wire.kind == kShareOperationRequest) {
      operation->AddRef();
      request = Ref<IShareSessionOperation>::Adopt(operation);
    }
    const std::size_t bytes = wire.data.size() + 256;
    if (!loop_.Post([this, op = std::move(wire),
                     request]() mutable { FromClientOnLoop(std::move(op), request); },
                    bytes)) {
      ++counters_.droppedQueue;
    }
  }

  void FromClientOnLoop(WireOperation operation, const Ref<IShareSessionOperation>& request) {
    if (operation.client.empty()) {
      ++counters_.droppedStale;
      return;
    }
    ClientEntry& client = clients_[operation.client];
    if (client.state == ClientState::kRefused) {
      ++counters_.droppedRefused;
      return;
    }
    if (request) {
      if (client.outstanding >= options_.window) {
        ++counters_.droppedWindow;
        return;
      }
      operation.token = ++nextToken_;
      pending_.emplace(operation.token, PendingRequest{request, operation.client});
      ++client.outstanding;
    }
    if (client.state == ClientState::kNew) {
      client.state = ClientState::kOpening;
      client.openSince = Clock::now();
      link_.Publish(subjects_.Open(), Writer(Frame::kOpen).Text(operation.client).U64(epoch_).Out(),
                    subjects_.ToImport(epoch_));
    }
    if (client.state == ClientState::kOpening) {
      if (client.waiting.size() >= static_cast<std::size_t>(options_.window) * 2) {
        Forget(operation);
        ++counters_.droppedQueue;
        return;
      }
      client.waiting.push_back(std::move(operation));
      return;
    }
    Send(operation);
  }

  void Send(const WireOperation& operation) {
    if (link_.Publish(subjects_.ToClient(operation.client),
                      EncodeOperation(Frame::kDown, operation))) {
      ++counters_.forwarded;
    } else {
      Forget(operation);
    }
  }

  // A request that will not be answered: its slot goes.
  void Forget(const WireOperation& operation) {
    if (operation.token == 0) return;
    if (pending_.erase(operation.token)) --clients_[operation.client].outstanding;
  }

  void Opened(const std::string& name, bool ok, const std::string& reason) {
    const auto found = clients_.find(name);
    if (found == clients_.end() || found->second.state != ClientState::kOpening) return;
    ClientEntry& client = found->second;
    std::deque<WireOperation> waiting = std::move(client.waiting);
    client.waiting.clear();
    if (ok) {
      client.state = ClientState::kOpen;
      for (const WireOperation& operation : waiting) Send(operation);
      return;
    }
    client.state = ClientState::kRefused;
    LogLine("client " + name + " refused by the export side: " + reason);
    for (const WireOperation& operation : waiting) {
      Forget(operation);
      ++counters_.droppedRefused;
    }
  }

  void Up(const WireOperation& operation) {
    const auto service = services_.find(operation.session);
    if (service == services_.end()) {
      ++counters_.droppedStale;
      return;
    }
    Ref<IShareSessionOperation> posted;
    if (operation.token != 0) {
      const auto found = pending_.find(operation.token);
      if (found == pending_.end()) {
        ++counters_.droppedStale;
        return;
      }
      const HRESULT made = service->second->CreateReply(found->second.request.Get(), posted.Put());
      --clients_[found->second.client].outstanding;
      pending_.erase(found);
      if (made != S_OK || !FillOperation(posted.Get(), operation, false)) {
        ++counters_.refusedOther;
        return;
      }
    } else {
      if (service->second->CreateOperation(posted.Put()) != S_OK ||
          posted->SetTarget(operation.client.c_str()) != S_OK ||
          !FillOperation(posted.Get(), operation, true)) {
        ++counters_.refusedOther;
        return;
      }
    }
    ClientEntry& client = clients_[operation.client];
    if (!client.held.empty() || !PostLocal(service->second.Get(), posted.Get())) {
      client.held.push_back(posted);
      client.heldSessions.push_back(operation.session);
    }
  }

  // False when the client's backlog is full: the caller holds the operation and tries again.
  bool PostLocal(IShareSessionService* service, IShareSessionOperation* operation) {
    const HRESULT result = service->PostOperation(operation);
    if (result == S_OK) {
      ++counters_.answered;
      return true;
    }
    if (result == KQCP_E_SHARE_BACKLOG_FULL) {
      ++counters_.refusedBacklog;
      return false;
    }
    ++counters_.refusedOther;
    return true;
  }

  void UpMessage(const std::string& client, const std::string& session, std::uint32_t a,
                 std::uint32_t b, std::uint32_t c) {
    const auto service = services_.find(session);
    if (service == services_.end()) {
      ++counters_.droppedStale;
      return;
    }
    const HRESULT result =
        service->second->PostMessage(client.c_str(), static_cast<std::int32_t>(a),
                                     static_cast<std::int32_t>(b), static_cast<std::int32_t>(c));
    if (result == S_OK) {
      ++counters_.answered;
    } else if (result == KQCP_E_SHARE_BACKLOG_FULL) {
      ++counters_.refusedBacklog;
    } else {
      ++counters_.refusedOther;
    }
  }

  void Tick() {
    const auto now = Clock::now();
    counters_.droppedNats = static_cast<std::uint64_t>(link_.DroppedMessages());
    if (!manager_) {
      if (exportEpoch_ != 0) {
        TakeRole();
      } else if (now - began_ > kFirstBeatLimit) {
        loop_.Stop(kRoleLinkLost,
                   "no export side of " + options_.platform + " on " + link_.Url() + "; waiting");
      }
      return;
    }
    if (now - lastBeat_ > kBeatSilence) {
      loop_.Stop(kRoleLinkLost, "the export side fell silent");
      return;
    }
    if (now - lastImportBeat_ >= kImportBeatEvery) {
      lastImportBeat_ = now;
      link_.Publish(subjects_.ImportBeat(epoch_), Writer(Frame::kImportBeat).U64(epoch_).Out());
    }
    for (auto& [name, client] : clients_) {
      if (client.state == ClientState::kOpening && now - client.openSince > kOpenLimit) {
        // Its requests would never be answered: give up the role so that they are told.
        loop_.Stop(kRoleLinkLost, "the export side did not open client " + name);
        return;
      }
      while (!client.held.empty()) {
        const auto service = services_.find(client.heldSessions.front());
        if (service != services_.end() &&
            !PostLocal(service->second.Get(), client.held.front().Get())) {
          break;
        }
        client.held.pop_front();
        client.heldSessions.pop_front();
      }
    }
  }

  const Options& options_;
  const Subjects subjects_;
  const std::uint64_t epoch_ = RandomEpoch();
  Counters counters_;
  TaskLoop loop_;
  NatsLink link_;
  IShareSessionManager* manager_ = nullptr;
  Ref<IShareSessionOperationEvents> listener_;
  std::uint64_t exportEpoch_ = 0;
  std::vector<std::string> sessionNames_;
  std::map<std::string, Ref<IShareSessionService>> services_;
  std::map<std::string, MirroredData> data_;
  std::map<std::string, ClientEntry> clients_;
  std::map<std::uint64_t, PendingRequest> pending_;
  std::uint64_t nextToken_ = 0;
  Clock::time_point began_, lastBeat_, lastImportBeat_;
};

}  // namespace

int RunImport(const Options& options, int lastExit) {
  SetLogPrefix("import " + options.platform);
  ImportSide side(options);
  return side.Run(lastExit);
}

}  // namespace kqcp_bridge
