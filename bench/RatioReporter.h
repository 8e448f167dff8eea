// A console reporter that keeps each benchmark's real time (the median when
// repeated, else the one run) so a program can print ratios after the run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs)
      if (!r.error_occurred && r.iterations > 0 && (r.aggregate_name.empty() || r.aggregate_name == "median"))
        times_[r.run_name.function_name] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  // Prints "label: a/b" when both benchmarks ran.
  void Ratio(const char* label, const char* a, const char* b) const {
    auto x = times_.find(a), y = times_.find(b);
    if (x != times_.end() && y != times_.end() && y->second > 0) std::printf("%s: %.2f\n", label, x->second / y->second);
  }

 private:
  std::map<std::string, double> times_;
};

// R2740_BENCH_ITERATIONS=N runs a benchmark exactly N times: scripts/bench
// counts instructions under callgrind from two such runs of different N,
// which leaves out the set-up and the first, cold iteration.
inline void CountedIterations(benchmark::internal::Benchmark* b) {
  const char* n = std::getenv("R2740_BENCH_ITERATIONS");
  if (n && std::atoll(n) > 0) b->Iterations(std::atoll(n));
}
