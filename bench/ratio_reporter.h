// Console reporter that, after the usual table, pairs every "<group>/kqcp" run with its
// "<group>/baseline" run and prints the ratio of their times.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>

namespace kqcp_bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

 private:
  struct Pair {
    double library = 0;
    double baseline = 0;
  };
  std::map<std::string, Pair> pairs_;
};

}  // namespace kqcp_bench
