// The one table of scripts/bench.
#include "ratio_reporter.h"

#include <cstdio>

namespace kqcp_bench {

bool RatioReporter::ReportContext(const Context& context) {
  std::printf("%d processors, benchmarks each beside a baseline in the same run\n",
              context.cpu_info.num_cpus);
  return true;
}

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    // With repetitions, each row shows the median, which comes after the single runs.
    const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
    if ((run.run_type != Run::RT_Iteration && !median) || run.error_occurred) continue;
    const std::string name = run.run_name.function_name;
    const auto slash = name.find('/');
    if (slash == std::string::npos) continue;
    const std::string group = name.substr(0, slash);
    const std::string side = name.substr(slash + 1, name.find('/', slash + 1) - slash - 1);
    Side measured;
    measured.time = run.GetAdjustedRealTime();
    measured.unit = benchmark::GetTimeUnitString(run.time_unit);
    char text[64];
    for (const auto& [counter, value] : run.counters) {
      if (counter == "items_per_second") {
        std::snprintf(text, sizeof text, "%.0f/s", static_cast<double>(value));
        measured.rate = text;
      } else if (counter == "bytes_per_second") {
        std::snprintf(text, sizeof text, "%.1f MB/s", static_cast<double>(value) / 1e6);
        measured.rate = text;
      } else {
        std::snprintf(text, sizeof text, "%s=%.2f ", counter.c_str(), static_cast<double>(value));
        measured.notes += text;
      }
    }
    if (side == "kqcp") pairs_[group].library = measured;
    if (side == "baseline") pairs_[group].baseline = measured;
  }
}

void RatioReporter::Finalize() {
  std::printf("%-26s %12s %12s %4s %7s %14s %14s  %s\n", "benchmark", "kqcp", "baseline", "unit",
              "ratio", "kqcp rate", "baseline rate", "notes");
  for (const auto& [group, pair] : pairs_) {
    if (pair.library.time <= 0 || pair.baseline.time <= 0) continue;
    std::printf("%-26s %12.2f %12.2f %4s %7.2f %14s %14s  %s\n", group.c_str(), pair.library.time,
                pair.baseline.time, pair.library.unit.c_str(),
                pair.library.time / pair.baseline.time, pair.library.rate.c_str(),
                pair.baseline.rate.c_str(), pair.library.notes.c_str());
  }
  std::printf("ratio: kqcp time / baseline time (below 1: the library is faster)\n");
}

}  // namespace kqcp_bench
