// Benchmark entry: runs every registered benchmark with the ratio reporter.
#include <benchmark/benchmark.h>

#include "bench_peer.h"
#include "ratio_reporter.h"

int main(int argc, char** argv) {
  int peerExit = 0;
  if (kqcp_bench::RunPeerIfRequested(argc, argv, &peerExit)) return peerExit;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  kqcp_bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
