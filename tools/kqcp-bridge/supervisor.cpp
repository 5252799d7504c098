// The supervisor: forks the role processes and starts them again when they end, with a short
// pause that grows while they keep failing. It stays single-threaded and never touches the
// platform or NATS, so every fork starts from a clean process. Children die with it.
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "exit_codes.h"
#include "log.h"
#include "roles.h"
#include "task_loop.h"

namespace kqcp_bridge {

namespace {

using Clock = std::chrono::steady_clock;

std::string Unhex(const std::string& hex) {
  std::string out;
  if (hex == "-") return out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// Forks a role process. In the child: default signal handling again, death with the parent,
// then the role; the child never returns into the supervisor's code.
template <class Role>
pid_t Fork(const sigset_t& blocked, int keepFd, Role role) {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(kRoleFailed);
  sigprocmask(SIG_UNBLOCK, &blocked, nullptr);
  InstallStopHandlers();
  // Nothing of the supervisor's but the standard streams and the one pipe end it needs.
  for (int fd = 3; fd < 1024; ++fd) {
    if (fd != keepFd) close(fd);
  }
  const int code = role();
  // A role that cannot end within a few seconds is ended by the kernel.
  alarm(5);
  std::exit(code);
}

class Supervisor {
 public:
  explicit Supervisor(const Options& options) : options_(options) {}

  int Run() {
    sigemptyset(&blocked_);
    for (const int signal : {SIGCHLD, SIGTERM, SIGINT, SIGHUP}) sigaddset(&blocked_, signal);
    sigprocmask(SIG_BLOCK, &blocked_, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    signals_ = signalfd(-1, &blocked_, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signals_ < 0) {
      LogLine("cannot watch signals");
      return kExitUsage;
    }
    for (;;) {
      if (main_ <= 0 && !stopping_ && Clock::now() >= nextStart_) StartMain();
      pollfd fds[2] = {{signals_, POLLIN, 0}, {control_, POLLIN, 0}};
      int timeout = -1;
      if (main_ <= 0 && !stopping_) {
        timeout = static_cast<int>(std::max<std::int64_t>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(nextStart_ - Clock::now())
                   .count()));
      }
      if (stopping_) timeout = 100;
      if (poll(fds, control_ >= 0 ? 2 : 1, timeout) < 0 && errno != EINTR) break;
      if (fds[0].revents & POLLIN) Signals();
      if (control_ >= 0 && (fds[1].revents & (POLLIN | POLLHUP))) ControlLines();
      if (stopping_) {
        if (main_ <= 0 && agents_.empty()) break;
        if (Clock::now() > stopDeadline_) KillAll(SIGKILL);
      }
    }
    return exitCode_;
  }

 private:
  void StartMain() {
    if (options_.command == "export") {
      int pipeFds[2];
      if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
      const int last = lastExit_;
      main_ = Fork(blocked_, pipeFds[1], [&] { return RunExportHead(options_, pipeFds[1], last); });
      close(pipeFds[1]);
      control_ = pipeFds[0];
      controlBuffer_.clear();
    } else {
      const int last = lastExit_;
      main_ = Fork(blocked_, -1, [&] { return RunImport(options_, last); });
    }
    started_ = Clock::now();
  }

  void Signals() {
    signalfd_siginfo info{};
    while (read(signals_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      if (info.ssi_signo == SIGCHLD) {
        Reap();
      } else if (!stopping_) {
        stopping_ = true;
        stopDeadline_ = Clock::now() + std::chrono::seconds(3);
        KillAll(SIGTERM);
      }
    }
  }

  void Reap() {
    int status = 0;
    pid_t pid = 0;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
      const int code = WIFEXITED(status) ? WEXITSTATUS(status) : kRoleFailed;
      if (pid == main_) {
        MainEnded(code);
        continue;
      }
      for (auto it = agents_.begin(); it != agents_.end(); ++it) {
        if (it->second != pid) continue;
        agents_.erase(it);
        // An agent that ended for another reason than its import leaving, or its name being
        // taken, may have had requests in flight: the export incarnation starts afresh.
        if (code != kRoleOwnerGone && code != kRoleNameHeld && code != kRoleStopped && main_ > 0 &&
            !stopping_) {
          kill(main_, SIGTERM);
        }
        break;
      }
    }
  }

  void MainEnded(int code) {
    main_ = -1;
    if (control_ >= 0) {
      close(control_);
      control_ = -1;
    }
    // The agents belong to the head's incarnation.
    for (const auto& [name, pid] : agents_) kill(pid, SIGKILL);
    if (stopping_) return;
    if (code == kExitRefused || code == kExitUsage) {
      exitCode_ = code;
      stopping_ = true;
      stopDeadline_ = Clock::now() + std::chrono::seconds(3);
      return;
    }
    const bool ranLong = Clock::now() - started_ > std::chrono::seconds(2);
    backoff_ = ranLong ? std::chrono::milliseconds(100)
                       : std::min<std::chrono::milliseconds>(backoff_ * 2,
                                                             std::chrono::milliseconds(1000));
    if (code == kRoleLinkLost || code == kRoleServiceGone)
      backoff_ = std::chrono::milliseconds(100);
    nextStart_ = Clock::now() + backoff_;
    lastExit_ = code;
  }

  void ControlLines() {
    char buffer[4096];
    const ssize_t got = read(control_, buffer, sizeof buffer);
    if (got <= 0) {
      if (got == 0) {
        close(control_);
        control_ = -1;
      }
      return;
    }
    controlBuffer_.append(buffer, static_cast<std::size_t>(got));
    if (controlBuffer_.size() > (1u << 20)) controlBuffer_.clear();
    std::size_t end = 0;
    while ((end = controlBuffer_.find('\n')) != std::string::npos) {
      std::istringstream line(controlBuffer_.substr(0, end));
      controlBuffer_.erase(0, end + 1);
      std::string verb, clientHex, ownerHex;
      line >> verb >> clientHex >> ownerHex;
      std::string client;
      try {
        client = Unhex(clientHex);
      } catch (...) {
        continue;
      }
      if (const auto found = agents_.find(client); found != agents_.end()) {
        // A replaced or stuck agent goes before its name is used again.
        kill(found->second, SIGKILL);
        waitpid(found->second, nullptr, 0);
        agents_.erase(found);
      }
      if (verb != "spawn" || stopping_ || main_ <= 0) continue;
      const std::uint64_t owner = std::strtoull(ownerHex.c_str(), nullptr, 16);
      const pid_t pid = Fork(blocked_, -1, [&] { return RunExportAgent(options_, client, owner); });
      if (pid > 0) agents_[client] = pid;
    }
  }

  void KillAll(int signal) {
    if (main_ > 0) kill(main_, signal);
    for (const auto& [name, pid] : agents_) kill(pid, signal);
  }

  const Options& options_;
  sigset_t blocked_{};
  int signals_ = -1;
  int control_ = -1;
  std::string controlBuffer_;
  pid_t main_ = -1;
  std::map<std::string, pid_t> agents_;
  bool stopping_ = false;
  int exitCode_ = kExitOk;
  int lastExit_ = -1;
  Clock::time_point nextStart_{}, started_{}, stopDeadline_{};
  std::chrono::milliseconds backoff_{100};
};

}  // namespace

int RunSupervisor(const Options& options) {
  SetLogPrefix(options.command + " " + options.platform);
  Supervisor supervisor(options);
  return supervisor.Run();
}

}  // namespace kqcp_bridge
