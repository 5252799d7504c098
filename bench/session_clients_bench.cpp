// Several clients of one service at once, against a Unix-domain socket echo of the same shape
// (one server process, one connection per client process): request/reply with one request
// outstanding per client and with 32, in replies per second; and what an idle platform (a
// service and three clients, no traffic) costs in processor time. Peers run as fresh processes
// of this program (see bench_peer.h), since each needs a manager of its own.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_peer.h"
#include "com/com_ptr.h"
#include "com/object.h"
#include "session_echo.h"
#include "share/share_session_manager.h"

namespace {

using namespace Vantor::KQCP;
using Clock = std::chrono::steady_clock;

constexpr int kClients = 4;
constexpr int kSeconds = 2;
constexpr std::int32_t kPayload = kqcp_bench::kSessionPayload;

// Keeps a window of requests outstanding and counts the replies.
class Window : public com::RefCounted<com::ComponentObject, IShareSessionOperationEvents> {
 public:
  explicit Window(int size) : size_(size) {}
  HRESULT OnRequest(IShareSessionOperation*) override { return S_OK; }
  HRESULT OnResponse(IShareSessionOperation*) override {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      ++replies_;
      --outstanding_;
    }
    room_.notify_one();  // after the unlock: the woken waiter must not wait for the mutex
    return S_OK;
  }
  // Waits for room in the window (or the deadline); false once the deadline passed.
  bool Take(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!room_.wait_until(lock, deadline, [&] { return outstanding_ < size_; })) return false;
    ++outstanding_;
    return true;
  }
  long Replies() {
    std::lock_guard<std::mutex> guard(mutex_);
    return replies_;
  }

 private:
  const int size_;
  std::mutex mutex_;
  std::condition_variable room_;
  int outstanding_ = 0;
  long replies_ = 0;
};

void WriteLine(int fd, const std::string& line) {
  const std::string text = line + "\n";
  if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(1);
}

std::string ReadLine(int fd) {
  std::string line;
  char c = 0;
  while (read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

// A peer's count; a peer that died without one counts nothing (and says so).
long Count(int fd, const char* who) {
  const std::string line = ReadLine(fd);
  if (line.empty() || line.find_first_not_of("0123456789") != std::string::npos) {
    std::fprintf(stderr, "%s reported \"%s\"\n", who, line.c_str());
    return 0;
  }
  return std::stol(line);
}

// service PLATFORM READY_FD
int ServicePeer(const std::vector<std::string>& args) {
  const auto listener = kqcp_bench::StartEchoService(args[0]);
  if (!listener) return 1;
  WriteLine(std::stoi(args[1]), "ready");
  for (;;) pause();
}

// client PLATFORM NAME WINDOW SECONDS REPORT_FD GO_FD: "ready", then after a line on GO_FD runs
// for SECONDS and reports the replies counted (0 seconds: stays idle until killed).
int ClientPeer(const std::vector<std::string>& args) {
  auto* manager = ShareSessionManagerHolder::Instance();
  if (manager->Start(args[0].c_str(), kShareModeClient, args[1].c_str()) != S_OK) return 1;
  com::ComPtr<IShareSessionProxy> proxy;
  if (manager->GetProxySession("bench", 0, proxy.Put()) != S_OK) return 2;
  auto window = com::ComPtr<Window>::Adopt(com::MakeObject<Window>(std::stoi(args[2])));
  proxy->AddOperationListener(window.Get());
  const int seconds = std::stoi(args[3]), report = std::stoi(args[4]), go = std::stoi(args[5]);
  WriteLine(report, "ready");
  ReadLine(go);
  if (seconds == 0) {
    for (;;) pause();
  }
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (window->Take(deadline)) {
    com::ComPtr<IShareSessionOperation> operation;
    proxy->CreateOperation(operation.Put());
    operation->SetName("echo");
    operation->AllocBuffer(kPayload);
    while (proxy->PostOperation(operation.Get()) == KQCP_E_SHARE_BACKLOG_FULL) {
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
  }
  WriteLine(report, std::to_string(window->Replies()));
  _exit(0);  // the peer's threads need no teardown
}

const bool kRegistered = kqcp_bench::RegisterPeer("session-service", ServicePeer) &&
                         kqcp_bench::RegisterPeer("session-client", ClientPeer);

// A service and clients as fresh processes; each client reports on a pipe of its own.
struct Platform {
  pid_t service = -1;
  std::vector<pid_t> clients;
  std::vector<int> reports;
  int go[2] = {-1, -1};

  Platform(int window, int seconds, int clientCount) {
    const std::string name = "kqcp_bench_clients_" + std::to_string(getpid()) + "_" +
                             std::to_string(window) + "_" + std::to_string(seconds);
    int ready[2];
    if (pipe(ready) != 0 || pipe(go) != 0) std::abort();
    service = kqcp_bench::SpawnPeer("session-service", {name, std::to_string(ready[1])});
    close(ready[1]);
    if (ReadLine(ready[0]) != "ready") std::abort();
    close(ready[0]);
    for (int i = 0; i < clientCount; ++i) {
      int report[2];
      if (pipe(report) != 0) std::abort();
      clients.push_back(kqcp_bench::SpawnPeer(
          "session-client",
          {name, "client" + std::to_string(i), std::to_string(window), std::to_string(seconds),
           std::to_string(report[1]), std::to_string(go[0])}));
      close(report[1]);
      if (ReadLine(report[0]) != "ready") std::abort();
      reports.push_back(report[0]);
    }
  }
  void Go() {
    for (std::size_t i = 0; i < clients.size(); ++i) WriteLine(go[1], "go");
  }
  long TotalReplies() {
    long total = 0;
    for (int fd : reports) total += Count(fd, "a session client");
    return total;
  }
  std::vector<pid_t> Processes() const {
    std::vector<pid_t> all = clients;
    all.push_back(service);
    return all;
  }
  ~Platform() {
    for (pid_t pid : Processes()) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    for (int fd : reports) close(fd);
    close(go[0]);
    close(go[1]);
  }
};

// Time per reply over the whole run, so that the ratio compares replies per second.
void ReportRate(benchmark::State& state, long replies, double seconds) {
  state.SetIterationTime(seconds / static_cast<double>(std::max(1L, replies)));
  state.SetItemsProcessed(1);
}

void ClientsKqcp(benchmark::State& state) {
  const int window = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Platform platform(window, kSeconds, kClients);
    platform.Go();
    ReportRate(state, platform.TotalReplies(), kSeconds);
  }
}

// The socket echo of the same shape: one server process polling one connection per client.
void ClientsBaseline(benchmark::State& state) {
  const int window = static_cast<int>(state.range(0));
  for (auto _ : state) {
    std::vector<int> serverEnds, reports;
    std::vector<pid_t> processes;
    for (int i = 0; i < kClients; ++i) {
      int fds[2], report[2];
      if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0 || pipe(report) != 0) std::abort();
      const pid_t client = fork();
      if (client == 0) {
        close(fds[0]);
        char frame[kPayload] = {'e'};
        for (int w = 0; w < window; ++w) {
          if (write(fds[1], frame, kPayload) != kPayload) _exit(1);
        }
        const auto deadline = Clock::now() + std::chrono::seconds(kSeconds);
        long replies = 0;
        std::size_t got = 0;
        while (Clock::now() < deadline) {
          const ssize_t n = read(fds[1], frame + got, kPayload - got);
          if (n <= 0) _exit(1);
          got += static_cast<std::size_t>(n);
          if (got < kPayload) continue;
          got = 0;
          ++replies;
          if (write(fds[1], frame, kPayload) != kPayload) _exit(1);
        }
        WriteLine(report[1], std::to_string(replies));
        _exit(0);
      }
      close(fds[1]);
      close(report[1]);
      serverEnds.push_back(fds[0]);
      reports.push_back(report[0]);
      processes.push_back(client);
    }
    const pid_t server = fork();
    if (server == 0) {
      // A client that is done closes its end; writing to it must not end the server.
      signal(SIGPIPE, SIG_IGN);
      std::vector<pollfd> polls;
      for (int fd : serverEnds) polls.push_back({fd, POLLIN, 0});
      char frame[kPayload * 32];
      for (std::size_t open = polls.size(); open > 0;) {
        if (poll(polls.data(), polls.size(), -1) < 0) _exit(1);
        for (auto& p : polls) {
          if (!(p.revents & (POLLIN | POLLHUP))) continue;
          const ssize_t n = read(p.fd, frame, sizeof frame);
          if (n <= 0 || write(p.fd, frame, static_cast<std::size_t>(n)) != n) {
            // That client is done; the others go on.
            close(p.fd);
            p.fd = -1;
            --open;
          }
        }
      }
      _exit(0);
    }
    for (int fd : serverEnds) close(fd);
    long total = 0;
    for (int fd : reports) {
      total += Count(fd, "a socket client");
      close(fd);
    }
    for (pid_t pid : processes) waitpid(pid, nullptr, 0);
    kill(server, SIGKILL);
    waitpid(server, nullptr, 0);
    ReportRate(state, total, kSeconds);
  }
}

BENCHMARK(ClientsKqcp)->Name("session_four_clients/kqcp")->Arg(1)->Iterations(1)->UseManualTime();
BENCHMARK(ClientsBaseline)
    ->Name("session_four_clients/baseline")
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK(ClientsKqcp)
    ->Name("session_four_clients_32/kqcp")
    ->Arg(32)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK(ClientsBaseline)
    ->Name("session_four_clients_32/baseline")
    ->Arg(32)
    ->Iterations(1)
    ->UseManualTime();

// Processor time, in ticks, that the processes have used so far.
long CpuTicks(const std::vector<pid_t>& processes) {
  long total = 0;
  for (pid_t pid : processes) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) fields >> skip;
    long user = 0, system = 0;
    fields >> user >> system;
    total += user + system;
  }
  return total;
}

// An idle service and three clients over 5 s, in milliseconds of processor time; the baseline
// row is the goal, 1% of one processor over the same time.
void IdleKqcp(benchmark::State& state) {
  for (auto _ : state) {
    Platform platform(1, 0, 3);
    platform.Go();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // past start-up
    const long before = CpuTicks(platform.Processes());
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const long ticks = CpuTicks(platform.Processes()) - before;
    // Below one clock tick the row still shows, as a tenth of a millisecond.
    state.SetIterationTime(std::max(1e-4, static_cast<double>(ticks) / sysconf(_SC_CLK_TCK)));
    state.counters["cpu_percent"] = 100.0 * ticks / (5.0 * sysconf(_SC_CLK_TCK));
  }
}
void IdleGoal(benchmark::State& state) {
  for (auto _ : state) state.SetIterationTime(0.05);
}
BENCHMARK(IdleKqcp)
    ->Name("session_idle_cpu/kqcp")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(IdleGoal)
    ->Name("session_idle_cpu/baseline")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
