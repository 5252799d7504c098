// What the plug-in that refuses after doing work leaves behind, as its test looks for it.
#pragma once

#include "kqcp/types.h"

namespace kqcp_test {

// The plug-in registers an object of its own under this identifier.
inline constexpr Vantor::KQCP::GUID kLeftBehindObjectId = {
    0x4C0FFEE1, 0x7A11, 0x4B1D, {0x9E, 0x5C, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}};

}  // namespace kqcp_test
