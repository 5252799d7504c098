// Replays the inputs the XML fuzzer once failed on, and its seeds, through the same check.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "package_round_trip.h"

namespace {

TEST(XmlFuzzCorpus, EveryStoredInputPassesTheRoundTripCheck) {
  int replayed = 0;
  for (const char* directory : {KQCP_XML_CORPUS_DIR, KQCP_XML_SEEDS_DIR}) {
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
      EXPECT_EQ(kqcp_fuzz::CheckPackageRoundTrip(
                    reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                "")
          << entry.path();
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0);
}

}  // namespace
