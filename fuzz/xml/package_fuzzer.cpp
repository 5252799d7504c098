// libFuzzer entry for the XML package parser; see package_round_trip.h for the check.
#include <cstdio>
#include <cstdlib>

#include "package_round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string problem = kqcp_fuzz::CheckPackageRoundTrip(data, size);
  if (!problem.empty()) {
    std::fprintf(stderr, "round trip failed: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
