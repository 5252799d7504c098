// Ratio table after the benchmark run.
#include "ratio_reporter.h"

#include <cstdio>

namespace kqcp_bench {

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
    const std::string name = run.benchmark_name();
    const auto slash = name.find('/');
    if (slash == std::string::npos) continue;
    const std::string group = name.substr(0, slash);
    const std::string side = name.substr(slash + 1, name.find('/', slash + 1) - slash - 1);
    const double time = run.GetAdjustedRealTime();
    if (side == "kqcp") pairs_[group].library = time;
    if (side == "baseline") pairs_[group].baseline = time;
  }
}

void RatioReporter::Finalize() {
  ConsoleReporter::Finalize();
  std::printf("\n%-40s %14s %14s %10s\n", "benchmark", "kqcp", "baseline", "ratio");
  for (const auto& [group, pair] : pairs_) {
    if (pair.library <= 0 || pair.baseline <= 0) continue;
    std::printf("%-40s %14.1f %14.1f %10.2f\n", group.c_str(), pair.library, pair.baseline,
                pair.library / pair.baseline);
  }
}

}  // namespace kqcp_bench
