// The platform object of the test process, obtained as a host does.
#pragma once

#include <gtest/gtest.h>

#include "kqcp/platform.h"

namespace kqcp_test {

inline Vantor::KQCP::IKQCommunityPlatform* Platform() {
  Vantor::KQCP::IKQCommunityPlatform* platform = nullptr;
  EXPECT_EQ(GetKQCommunityPlatform(&platform), Vantor::KQCP::S_OK);
  return platform;
}

}  // namespace kqcp_test
