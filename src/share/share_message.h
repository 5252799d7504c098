// One outgoing message of a service session: three values for one client, or for every live
// client when the target is empty.
#pragma once

#include <cstdint>
#include <string>

namespace Vantor::KQCP {

// Labels of the two kinds of record; an operation's name follows its label.
inline constexpr const char* kShareMessageLabel = "Message.";
inline constexpr const char* kShareOperationLabel = "Operation.";

struct ShareMessage {
  std::string target;
  std::string session;
  std::int32_t values[3] = {0, 0, 0};
};

}  // namespace Vantor::KQCP
