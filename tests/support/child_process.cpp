// Child processes for cross-process tests: the test binary re-executed with a child's name.
#include "support/child_process.h"

#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>

extern char** environ;

namespace kqcp_test {
namespace {

std::map<std::string, ChildMain>& Registry() {
  static std::map<std::string, ChildMain> registry;
  return registry;
}

constexpr const char* kFlag = "--kqcp-child=";
constexpr const char* kUserFlag = "--kqcp-user=";

// Drops every privilege for the user and a group of the same number.
bool BecomeUser(uid_t user) {
  const gid_t group = static_cast<gid_t>(user);
  if (setgroups(0, nullptr) != 0 || setresgid(group, group, group) != 0 ||
      setresuid(user, user, user) != 0) {
    return false;
  }
  // Changing credentials clears the dumpable flag, which the leak checker needs.
  prctl(PR_SET_DUMPABLE, 1);
  return true;
}

std::string SelfPath() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  path[n] = 0;
  return path;
}

}  // namespace

bool RegisterChild(const std::string& name, ChildMain main) {
  Registry()[name] = std::move(main);
  return true;
}

ChildProcess::ChildProcess(const std::string& name, const std::vector<std::string>& args)
    : ChildProcess(name, args, static_cast<uid_t>(-1)) {}

ChildProcess::ChildProcess(const std::string& name, const std::vector<std::string>& args,
                           uid_t user) {
  std::string self = SelfPath();
  std::vector<std::string> argvStrings{self, kFlag + name};
  if (user != static_cast<uid_t>(-1)) argvStrings.push_back(kUserFlag + std::to_string(user));
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argvStrings) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ) == 0) pid_ = pid;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) Kill();
}

int ChildProcess::Wait(int timeoutMs) {
  if (pid_ <= 0) return -1;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (r < 0 || std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void ChildProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

bool RunChildIfRequested(int argc, char** argv, int* exitCode) {
  if (argc < 2 || std::strncmp(argv[1], kFlag, std::strlen(kFlag)) != 0) return false;
  std::string name = argv[1] + std::strlen(kFlag);
  auto it = Registry().find(name);
  if (it == Registry().end()) {
    *exitCode = 127;
    return true;
  }
  int first = 2;
  if (argc > 2 && std::strncmp(argv[2], kUserFlag, std::strlen(kUserFlag)) == 0) {
    if (!BecomeUser(static_cast<uid_t>(std::stoul(argv[2] + std::strlen(kUserFlag))))) {
      *exitCode = 126;
      return true;
    }
    first = 3;
  }
  std::vector<std::string> args(argv + first, argv + argc);
  *exitCode = it->second(args);
  return true;
}

bool CanRunAsOtherUsers() { return geteuid() == 0; }

Signal::Signal() {
  if (pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
}

Signal::~Signal() {
  for (int fd : fds_) {
    if (fd >= 0) close(fd);
  }
}

std::string Signal::WriteFdArg() const { return std::to_string(fds_[1]); }

std::string Signal::ReadFdArg() const { return std::to_string(fds_[0]); }

void Signal::Write(const std::string& line) { Send(WriteFdArg(), line); }

std::string Signal::Receive(const std::string& fdArg, int timeoutMs) {
  // One byte at a time, so that nothing past the line is taken from the pipe.
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  const int fd = std::stoi(fdArg);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0) return {};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return {};
    char c = 0;
    if (read(fd, &c, 1) != 1) return {};
    if (c == '\n') return line;
    line += c;
  }
}

std::string Signal::ReadLine(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto newline = buffer_.find('\n');
    if (newline != std::string::npos) {
      std::string line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) return {};
    pollfd p{fds_[0], POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return {};
    char chunk[256];
    ssize_t n = read(fds_[0], chunk, sizeof chunk);
    if (n <= 0) return {};
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

void Signal::Send(const std::string& fdArg, const std::string& line) {
  int fd = std::stoi(fdArg);
  std::string text = line + "\n";
  ssize_t ignored = write(fd, text.data(), text.size());
  (void)ignored;
}

}  // namespace kqcp_test
