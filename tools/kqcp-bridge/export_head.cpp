// The export side's head: a client of the real service that beats on NATS with the session
// names, mirrors each session's shared data, and has an agent started for each remote client.
#include <unistd.h>

#include <chrono>
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

constexpr int kTickMs = 100;
constexpr auto kImportSilence = std::chrono::milliseconds(1500);
constexpr auto kAgentStartLimit = std::chrono::seconds(5);

std::uint64_t Fnv(const std::uint8_t* data, std::uint32_t size) {
  std::uint64_t hash = 1469598103934665603ull;
  for (std::uint32_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
  return hash ^ size;
}

struct SessionState {
  Ref<IShareSessionProxy> proxy;
  std::uint64_t hash = 0;
  std::uint64_t version = 0;
};

struct DeferredOpen {
  std::string client;
  std::uint64_t owner;
  std::string reply;
  Clock::time_point asked;
};

struct AgentState {
  std::uint64_t owner = 0;
  bool ready = false;
  std::vector<std::string> waiters;  // reply subjects of open requests
  Clock::time_point since;
};

class ExportHead {
 public:
  ExportHead(const Options& options, int controlFd)
      : options_(options),
        controlFd_(controlFd),
        subjects_(options.subjectPrefix, options.platform),
        loop_(4096, 16 << 20),
        link_(&counters_, [this](const std::string& why) { loop_.Stop(kRoleLinkLost, why); }) {}

  int Run(int lastExit) {
    if (const int exit = link_.ConnectForRole(options_, "kqcp-bridge export " + options_.platform,
                                              kRoleUnreachable, lastExit);
        exit != 0) {
      return exit;
    }
    manager_ = ShareManager();
    if (!manager_ || manager_->Start(options_.platform.c_str(), kShareModeClient,
                                     options_.clientName.c_str()) != S_OK) {
      if (lastExit != kRoleNoService) {
        LogLine("platform " + options_.platform + " has no service here (or the client name " +
                options_.clientName + " is taken); waiting for one");
      }
      return kRoleNoService;
    }
    Subscribe();
    Discover();
    LogLine("connected to " + link_.Url() + "; exporting platform " + options_.platform + " (" +
            std::to_string(sessions_.size()) + " sessions)");
    const int code = loop_.Run([this] { Tick(); }, kTickMs);
    link_.Publish(subjects_.Beat(), Writer(Frame::kBye).U64(epoch_).Out());
    link_.Flush(500);
    LogLine("export ended: " + loop_.Why() + "; " + counters_.Text());
    manager_->Stop();
    manager_->WaitForStop(1000);
    return code;
  }

 private:
  void Subscribe() {
    link_.Subscribe(subjects_.Resend(),
                    [this](const std::string&, const std::string&, const std::uint8_t*, int) {
                      loop_.Post([this] { forceData_ = true; }, 0);
                    });
    link_.Subscribe(subjects_.Open(), [this](const std::string&, const std::string& reply,
                                             const std::uint8_t* data, int size) {
      Reader reader(data, size);
      std::string client;
      std::uint64_t owner = 0;
      if (reader.Type() != static_cast<std::uint8_t>(Frame::kOpen) || !reader.Text(&client) ||
          !reader.U64(&owner) || reply.empty() || client.size() < 2) {
        ++counters_.droppedStale;
        return;
      }
      if (!loop_.Post([this, client, owner, reply] { Open(client, owner, reply); }, 0)) {
        ++counters_.droppedQueue;
      }
    });
    link_.Subscribe(subjects_.Agents(), [this](const std::string&, const std::string&,
                                               const std::uint8_t* data, int size) {
      Reader reader(data, size);
      const std::uint8_t type = reader.Type();
      std::string client, reason;
      std::uint64_t owner = 0;
      std::uint8_t ok = 0;
      if (!reader.Text(&client) || !reader.U64(&owner)) return;
      if (type == static_cast<std::uint8_t>(Frame::kReady) && reader.U8(&ok) &&
          reader.Text(&reason)) {
        loop_.Post([=, this] { AgentReady(client, owner, ok != 0, reason); }, 0);
      } else if (type == static_cast<std::uint8_t>(Frame::kClosed)) {
        loop_.Post([=, this] { AgentClosed(client, owner); }, 0);
      }
    });
    link_.Subscribe(subjects_.ImportBeats(), [this](const std::string&, const std::string&,
                                                    const std::uint8_t* data, int size) {
      Reader reader(data, size);
      std::uint64_t owner = 0;
      if (reader.Type() == static_cast<std::uint8_t>(Frame::kImportBeat) && reader.U64(&owner)) {
        loop_.Post([this, owner] { importSeen_[owner] = Clock::now(); }, 0);
      }
    });
    link_.Subscribe(subjects_.Stats(),
                    [this](const std::string&, const std::string& reply, const std::uint8_t*, int) {
                      if (reply.empty()) return;
                      link_.Publish(reply, "export " + options_.platform + " pid " +
                                               std::to_string(getpid()) + ": " + counters_.Text());
                    });
  }

  void Discover() {
    for (const std::string& name : FindSessionNames(options_.platform, options_.sessions)) {
      if (sessions_.count(name)) continue;
      SessionState state;
      if (manager_->GetProxySession(name.c_str(), 0, state.proxy.Put()) == S_OK) {
        sessions_.emplace(name, std::move(state));
      }
    }
  }

  void Tick() {
    const auto now = Clock::now();
    counters_.droppedNats = static_cast<std::uint64_t>(link_.DroppedMessages());
    if (++ticks_ % 10 == 0) Discover();
    if (ticks_ % 2 == 0) {
      MirrorData();
      Writer beat(Frame::kBeat);
      beat.U64(epoch_).U32(static_cast<std::uint32_t>(sessions_.size()));
      for (const auto& [name, state] : sessions_) beat.Text(name);
      link_.Publish(subjects_.Beat(), beat.Out());
    }
    for (auto& open : std::exchange(deferred_, {})) {
      Open(open.client, open.owner, open.reply, open.asked);
    }
    std::erase_if(importSeen_,
                  [&](const auto& entry) { return now - entry.second > std::chrono::seconds(60); });
    for (auto it = agents_.begin(); it != agents_.end();) {
      if (!it->second.ready && now - it->second.since > kAgentStartLimit) {
        Answer(it->second.waiters, it->first, false, "its agent did not start");
        Control("kill " + Hex(it->first) + " 0");
        it = agents_.erase(it);
      } else {
        ++it;
      }
    }
  }

  // Publishes each session's data when it changed; a session whose data can no longer be
  // locked has lost its service.
  void MirrorData() {
    const bool force = std::exchange(forceData_, false);
    const std::int64_t limit = link_.MaxPayload() - 4096;
    for (auto& [name, state] : sessions_) {
      if (state.proxy->LockData() != S_OK) {
        loop_.Stop(kRoleServiceGone, "the service of " + options_.platform + " went away");
        return;
      }
      std::uint8_t* data = nullptr;
      std::uint32_t size = 0;
      state.proxy->GetSharedData(&data, &size);
      const std::uint64_t hash = data ? Fnv(data, size) : 0;
      if (force || hash != state.hash || state.version == 0) {
        state.hash = hash;
        ++state.version;
        if (static_cast<std::int64_t>(size) > limit) {
          ++counters_.droppedTooLarge;
        } else {
          Writer frame(Frame::kData);
          frame.U64(epoch_).Text(name).U64(state.version).Bytes(data, data ? size : 0);
          if (link_.Publish(subjects_.Data(), frame.Out())) ++counters_.forwarded;
        }
      }
      state.proxy->UnlockData();
    }
  }

  void Open(const std::string& client, std::uint64_t owner, const std::string& reply,
            Clock::time_point asked = Clock::now()) {
    auto found = agents_.find(client);
    if (found != agents_.end() && found->second.owner != owner) {
      const auto seen = importSeen_.find(found->second.owner);
      if (seen != importSeen_.end() && Clock::now() - seen->second < kImportSilence) {
        // The other import may just have died (a client of its name moved here): wait until
        // it has been silent long enough before refusing.
        if (Clock::now() - asked < 2 * kImportSilence) {
          deferred_.push_back({client, owner, reply, asked});
          return;
        }
        Answer({reply}, client, false, "the name is in use through another import");
        ++counters_.droppedRefused;
        return;
      }
      Control("kill " + Hex(client) + " 0");
      agents_.erase(found);
      found = agents_.end();
    }
    if (found == agents_.end()) {
      if (!Control("spawn " + Hex(client) + " " + Hex64(owner))) {
        Answer({reply}, client, false, "cannot start an agent");
        return;
      }
      AgentState state;
      state.owner = owner;
      state.since = Clock::now();
      found = agents_.emplace(client, std::move(state)).first;
    }
    if (found->second.ready) {
      Answer({reply}, client, true, {});
    } else {
      found->second.waiters.push_back(reply);
    }
  }

  void AgentReady(const std::string& client, std::uint64_t owner, bool ok,
                  const std::string& reason) {
    const auto found = agents_.find(client);
    if (found == agents_.end() || found->second.owner != owner) return;
    Answer(found->second.waiters, client, ok, reason);
    found->second.waiters.clear();
    found->second.ready = ok;
    if (!ok) agents_.erase(found);
  }

  void AgentClosed(const std::string& client, std::uint64_t owner) {
    const auto found = agents_.find(client);
    if (found != agents_.end() && found->second.owner == owner) agents_.erase(found);
  }

  void Answer(const std::vector<std::string>& replies, const std::string& client, bool ok,
              const std::string& reason) {
    const std::string frame =
        Writer(Frame::kOpenResult).Text(client).U8(ok ? 1 : 0).Text(reason).Out();
    for (const std::string& reply : replies) link_.Publish(reply, frame);
  }

  bool Control(const std::string& line) {
    const std::string text = line + "\n";
    return write(controlFd_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }

  const Options& options_;
  const int controlFd_;
  const Subjects subjects_;
  const std::uint64_t epoch_ = RandomEpoch();
  Counters counters_;
  TaskLoop loop_;
  NatsLink link_;
  IShareSessionManager* manager_ = nullptr;
  std::map<std::string, SessionState> sessions_;
  std::map<std::string, AgentState> agents_;
  std::map<std::uint64_t, Clock::time_point> importSeen_;
  std::vector<DeferredOpen> deferred_;
  bool forceData_ = false;
  std::uint64_t ticks_ = 0;
};

}  // namespace

int RunExportHead(const Options& options, int controlFd, int lastExit) {
  SetLogPrefix("export " + options.platform);
  ExportHead head(options, controlFd);
  return head.Run(lastExit);
}

}  // namespace kqcp_bridge
