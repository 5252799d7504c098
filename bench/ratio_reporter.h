// Reporter that prints one table: every "<group>/kqcp" run beside its "<group>/baseline" run
// from the same program run, with their times, their rates where they count items, and the
// ratio of the times.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>

namespace kqcp_bench {

class RatioReporter : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context& context) override;
  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

 private:
  struct Side {
    double time = 0;
    std::string unit;
    std::string rate;   // items/s or MB/s where the benchmark counts them
    std::string notes;  // any other counters, "name=value"
  };
  struct Pair {
    Side library, baseline;
  };
  std::map<std::string, Pair> pairs_;
};

}  // namespace kqcp_bench
