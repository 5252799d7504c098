// The bridge tests' processes: nats-server, the namespace holder, bridges and peers.
#include "bridge_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/temp_dir.h"

namespace kqcp_bridge_test {

namespace {

using Clock = std::chrono::steady_clock;

pid_t Spawn(const std::vector<std::string>& args, int outFd, int errFd) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (outFd >= 0) dup2(outFd, STDOUT_FILENO);
  if (errFd >= 0) dup2(errFd, STDERR_FILENO);
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

void KillAndReap(pid_t* pid) {
  if (*pid <= 0) return;
  kill(*pid, SIGKILL);
  waitpid(*pid, nullptr, 0);
  *pid = -1;
}

}  // namespace

std::string BridgeBinary() { return KQCP_BRIDGE; }

NatsServer::NatsServer(std::vector<std::string> extraArgs) : extraArgs_(std::move(extraArgs)) {
  port_ = FreePort();
  Start();
}

NatsServer::~NatsServer() { Stop(); }

bool NatsServer::Start() {
  std::vector<std::string> args{"nats-server", "-a", "127.0.0.1", "-p", std::to_string(port_)};
  args.insert(args.end(), extraArgs_.begin(), extraArgs_.end());
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  pid_ = Spawn(args, null, null);
  close(null);
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    if (Accepts(port_)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void NatsServer::Stop() { KillAndReap(&pid_); }

OtherMachine::OtherMachine() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  pid_ = Spawn({"unshare", "-m", "--propagation", "private", "--", "sh", "-c",
                "mount -t tmpfs tmpfs /dev/shm && mount -t tmpfs tmpfs /run && echo ready && "
                "exec sleep 600"},
               fds[1], -1);
  close(fds[1]);
  char buffer[16] = {};
  pollfd wait{fds[0], POLLIN, 0};
  const bool ready = poll(&wait, 1, 10000) == 1 && read(fds[0], buffer, sizeof buffer - 1) > 0 &&
                     std::string(buffer).rfind("ready", 0) == 0;
  close(fds[0]);
  if (!ready) KillAndReap(&pid_);
}

OtherMachine::~OtherMachine() { KillAndReap(&pid_); }

Bridge::Bridge(const std::vector<std::string>& args, pid_t nsPid) {
  errorFile_ = "/tmp/kqcp-bridge-test-" + kqcp_test::UniqueName("err");
  const int err = open(errorFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::vector<std::string> argv;
  if (nsPid > 0) argv = {"nsenter", "-t", std::to_string(nsPid), "-m", "--"};
  argv.push_back(BridgeBinary());
  argv.insert(argv.end(), args.begin(), args.end());
  pid_ = Spawn(argv, -1, err);
  close(err);
}

Bridge::~Bridge() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    if (Wait(5000) == -1) Kill();
  }
  unlink(errorFile_.c_str());
}

void Bridge::Kill() { KillAndReap(&pid_); }

int Bridge::Wait(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (pid_ > 0) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (Clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

std::string Bridge::Errors() const {
  std::ifstream file(errorFile_);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

bool Bridge::WaitForError(const std::string& text, int timeoutMs) const {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Errors().find(text) == std::string::npos) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

Peer::Peer(const std::string& child, const std::vector<std::string>& args, pid_t nsPid) {
  std::vector<std::string> all{std::to_string(nsPid), child};
  all.insert(all.end(), args.begin(), args.end());
  all.push_back(out_.WriteFdArg());
  all.push_back(in_.ReadFdArg());
  process_ = std::make_unique<kqcp_test::ChildProcess>("InMachine", all);
}

std::string Peer::LineStartingWith(const std::string& prefix, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return {};
    std::string line = Line(static_cast<int>(left));
    if (line.empty() || line.rfind(prefix, 0) == 0) return line;
  }
}

bool Peer::RoundTrip(int size, int timeoutMs) {
  Command("request ask " + std::to_string(size));
  const std::string posted = LineStartingWith("posted ", timeoutMs);
  if (posted.empty()) return false;
  const std::string id = posted.substr(7, posted.find(' ', 7) - 7);
  unsigned sum = 0;
  for (int i = 0; i < size; ++i) sum += static_cast<std::uint8_t>(i);
  const std::string expected =
      "response " + id + " answer " + std::to_string(size) + " " + std::to_string(sum);
  return LineStartingWith("response ", timeoutMs) == expected;
}

}  // namespace kqcp_bridge_test

// Runs another child of this binary inside the namespace of process args[0] (0: here).
KQCP_CHILD(InMachine) {
  const pid_t nsPid = static_cast<pid_t>(std::stol(args[0]));
  if (nsPid > 0) {
    const int ns = open(("/proc/" + args[0] + "/ns/mnt").c_str(), O_RDONLY | O_CLOEXEC);
    if (ns < 0 || setns(ns, CLONE_NEWNS) != 0) return 90;
    close(ns);
  }
  std::vector<std::string> argv{"/proc/self/exe", "--kqcp-child=" + args[1]};
  argv.insert(argv.end(), args.begin() + 2, args.end());
  std::vector<char*> raw;
  for (auto& arg : argv) raw.push_back(arg.data());
  raw.push_back(nullptr);
  execv("/proc/self/exe", raw.data());
  return 91;
}
