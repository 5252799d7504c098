// Writes operator lines whole, so that lines of the bridge's processes never interleave.
#include "log.h"

#include <unistd.h>

#include <mutex>

namespace kqcp_bridge {

namespace {
std::mutex logMutex;
std::string logPrefix = "kqcp-bridge: ";
}  // namespace

void SetLogPrefix(const std::string& prefix) {
  std::lock_guard<std::mutex> guard(logMutex);
  logPrefix = "kqcp-bridge: " + prefix + ": ";
}

void LogLine(const std::string& text) {
  std::lock_guard<std::mutex> guard(logMutex);
  const std::string line = logPrefix + text + "\n";
  // One write per line (lines are short, well under PIPE_BUF), so lines stay whole.
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace kqcp_bridge
