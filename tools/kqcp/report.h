// The list and watch output: a table per platform for people, one document for programs.
#pragma once

#include <string>
#include <vector>

#include "platform_reader.h"

namespace kqcp_tool {

std::string PlatformsJson(const std::vector<Platform>& platforms);

// The table of one platform. With an earlier reading and the seconds since, rates are added.
std::string PlatformTable(const Platform& platform, const Platform* earlier = nullptr,
                          double seconds = 0);

}  // namespace kqcp_tool
