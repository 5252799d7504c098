// What the bridge tests run: a real nats-server on 127.0.0.1, a second "machine" (a private
// mount namespace with fresh tmpfs on /dev/shm and /run, so it sees none of this machine's
// named objects), bridge processes, and session peers on either side.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace kqcp_bridge_test {

// A nats-server on a free port of 127.0.0.1; Stop kills it, Start brings it back on the port.
class NatsServer {
 public:
  explicit NatsServer(std::vector<std::string> extraArgs = {});
  ~NatsServer();
  bool Start();
  void Stop();
  std::string Url() const { return "nats://127.0.0.1:" + std::to_string(port_); }
  int Port() const { return port_; }

 private:
  std::vector<std::string> extraArgs_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// A process that holds a private mount namespace open; empty Pid() when none can be made.
class OtherMachine {
 public:
  OtherMachine();
  ~OtherMachine();
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// A kqcp-bridge process (in the other machine's namespace when nsPid > 0); its standard error
// goes to a file the test reads.
class Bridge {
 public:
  Bridge(const std::vector<std::string>& args, pid_t nsPid = 0);
  ~Bridge();
  void Kill();                 // SIGKILL
  int Wait(int timeoutMs);     // exit status, -1 on timeout
  std::string Errors() const;  // what it wrote to standard error
  // Waits until its standard error holds text; false on timeout.
  bool WaitForError(const std::string& text, int timeoutMs) const;

 private:
  pid_t pid_ = -1;
  std::string errorFile_;
};

// A session peer ("BridgeService" or "Client" of tests/share's peers) driven through pipes; in
// the other machine when nsPid > 0.
class Peer {
 public:
  Peer(const std::string& child, const std::vector<std::string>& args, pid_t nsPid = 0);
  std::string Line(int timeoutMs) { return out_.ReadLine(timeoutMs); }
  std::string LineStartingWith(const std::string& prefix, int timeoutMs);
  void Command(const std::string& line) { in_.Write(line); }
  // Posts a request of size bytes; true when the reply came with the same id, the service's
  // name and size bytes whose sum is that of the request's.
  bool RoundTrip(int size, int timeoutMs);
  kqcp_test::ChildProcess& Process() { return *process_; }

 private:
  kqcp_test::Signal out_, in_;
  std::unique_ptr<kqcp_test::ChildProcess> process_;
};

std::string BridgeBinary();

}  // namespace kqcp_bridge_test
