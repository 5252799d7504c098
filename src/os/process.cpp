// Liveness by signal 0, with /proc to tell an unreaped zombie from a running process.
#include "os/process.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

namespace Vantor::KQCP::os {

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

bool ProcessAlive(std::uint32_t pid) {
  if (pid == 0 || pid > 0x7FFFFFFFu) return false;
  if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  // The state follows the command name, which is in parentheses and may contain spaces.
  auto close = line.rfind(')');
  if (close == std::string::npos || close + 2 >= line.size()) return true;
  char state = line[close + 2];
  return state != 'Z' && state != 'X';
}

}  // namespace Vantor::KQCP::os
