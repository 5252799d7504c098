// Operator lines on standard error: one per connect, disconnect and role change.
#pragma once

#include <string>

namespace kqcp_bridge {

// "kqcp-bridge: <role> <platform>: " prefixes every later line of this process.
void SetLogPrefix(const std::string& prefix);
void LogLine(const std::string& text);

}  // namespace kqcp_bridge
