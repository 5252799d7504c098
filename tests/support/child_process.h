// Runs a named function of the test binary in a fresh process (the binary re-executed), so
// that tests of cross-process behaviour use real, separate processes. Child functions are
// registered with KQCP_CHILD and receive the arguments given to Spawn.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace kqcp_test {

using ChildMain = std::function<int(const std::vector<std::string>& args)>;

bool RegisterChild(const std::string& name, ChildMain main);

class ChildProcess {
 public:
  // Starts "<this binary> --kqcp-child=<name> args..."; check Started(). With a user id the
  // child runs as that user and its group (only a root parent can ask for that).
  ChildProcess(const std::string& name, const std::vector<std::string>& args = {});
  ChildProcess(const std::string& name, const std::vector<std::string>& args, uid_t user);
  ~ChildProcess();  // kills a child that is still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // Waits up to the time given; the exit code, or -1 on timeout / abnormal end.
  int Wait(int timeoutMs = 30000);
  void Kill();  // SIGKILL, then reap

 private:
  pid_t pid_ = -1;
};

// Call from main(): when argv names a child, runs it and returns true with its exit code.
bool RunChildIfRequested(int argc, char** argv, int* exitCode);

// True when this process may start children as other users (it runs as root).
bool CanRunAsOtherUsers();

// A line-based pipe between parent and child. For child-to-parent lines the parent passes
// WriteFdArg() to the child, which calls Send; for parent-to-child lines the parent passes
// ReadFdArg() and calls Write, and the child calls Receive.
class Signal {
 public:
  Signal();
  ~Signal();
  Signal(const Signal&) = delete;
  Signal& operator=(const Signal&) = delete;
  std::string WriteFdArg() const;
  std::string ReadFdArg() const;
  // Waits for one line; empty on timeout or end.
  std::string ReadLine(int timeoutMs = 30000);
  void Write(const std::string& line);
  // Child side.
  static void Send(const std::string& fdArg, const std::string& line);
  static std::string Receive(const std::string& fdArg, int timeoutMs = 30000);

 private:
  int fds_[2] = {-1, -1};
  std::string buffer_;
};

}  // namespace kqcp_test

#define KQCP_CHILD_CONCAT_(a, b) a##b
#define KQCP_CHILD_CONCAT(a, b) KQCP_CHILD_CONCAT_(a, b)
// KQCP_CHILD(name) { ...body using args...; return exit code; }
#define KQCP_CHILD(name)                                                            \
  static int KQCP_CHILD_CONCAT(kqcp_child_, name)(const std::vector<std::string>&); \
  static const bool KQCP_CHILD_CONCAT(kqcp_child_registered_, name) =               \
      ::kqcp_test::RegisterChild(#name, &KQCP_CHILD_CONCAT(kqcp_child_, name));     \
  static int KQCP_CHILD_CONCAT(kqcp_child_,                                         \
                               name)([[maybe_unused]] const std::vector<std::string>& args)
