// Rate-bounded refusal log on standard error.
#include "os/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace Vantor::KQCP::os {
namespace {

constexpr int kMaxLines = 32;
std::atomic<int> linesWritten{0};

}  // namespace

void LogRefusal(const char* format, ...) {
  const int line = linesWritten.fetch_add(1);
  if (line > kMaxLines) return;
  char text[512];
  if (line == kMaxLines) {
    std::snprintf(text, sizeof text, "further refusals are not logged");
  } else {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
  }
  // One write per line, so lines of several threads do not interleave.
  std::fprintf(stderr, "KQCP: %s\n", text);
}

}  // namespace Vantor::KQCP::os
