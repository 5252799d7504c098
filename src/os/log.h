// The library's few log lines: refusals an operator must see (a named-object folder or file
// that is not safe to use). They go to standard error, prefixed "KQCP: ", and a process
// writes a bounded number of them so that a retrying caller cannot flood its host's log.
#pragma once

namespace Vantor::KQCP::os {

void LogRefusal(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace Vantor::KQCP::os
