// The device walk of a 500-row profile table beside snmpwalk of the same
// root on the same snmpd (127.0.0.1, a high port). Both are whole
// processes started the same way (sys::RunTask, output read through a
// pipe): `R2740Helper mibwalk_XPC ...`, whose service walks, merges and
// writes the profile file, and `snmpwalk -v 1 -Os`, which prints the rows.
// Prints the ratio.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>

#include "RatioReporter.h"
#include "ProfileTestSupport.h"

namespace {

using namespace proftest;

constexpr int kRows = 500;
constexpr int kPort = 16391;

std::unique_ptr<Agent> gAgent;
std::unique_ptr<ServiceRoot> gService;

void BM_ServiceWalk(benchmark::State& state) {
  auto args = WalkArgs("root", gAgent->address());
  for (auto _ : state) {
    std::string reply = gService->Reply(args);
    if (reply != "iRet=0") {
      state.SkipWithError(("walk answered " + reply).c_str());
      return;
    }
  }
}
BENCHMARK(BM_ServiceWalk)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_Snmpwalk(benchmark::State& state) {
  std::vector<std::string> args = {"-Os", "-c", "public", "-v", "1", gAgent->address(), kTableRoot};
  for (auto _ : state) {
    auto r = Run("/usr/bin/snmpwalk", args);
    if (r.exitStatus != 0) {
      state.SkipWithError("snmpwalk failed");
      return;
    }
    benchmark::DoNotOptimize(r.output);
  }
}
BENCHMARK(BM_Snmpwalk)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  std::vector<Row> rows;
  for (int i = 1; i <= kRows; ++i) {
    char file[16], name[32];
    std::snprintf(file, sizeof file, "P%05d.ICC", i);
    std::snprintf(name, sizeof name, "Profile %d", i);
    rows.push_back({i, i % 2 ? kProfileLocationDisk : kProfileLocationCard, name, file, i % 3 + 1});
  }
  gAgent = std::make_unique<Agent>(kPort, rows);
  if (!gAgent->ready()) {
    std::fprintf(stderr, "snmpd did not start on %s\n", gAgent->address().c_str());
    return 1;
  }
  gService = std::make_unique<ServiceRoot>();
  // Starts the service once, so that no walk pays for its start.
  if (gService->Reply(WalkArgs("root", gAgent->address())) != "iRet=0") {
    std::fprintf(stderr, "the first walk failed\n");
    return 1;
  }

  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const std::string label = "walk of " + std::to_string(kRows) + " rows, helper+service / snmpwalk";
  reporter.Ratio(label.c_str(), "BM_ServiceWalk", "BM_Snmpwalk");
  gService.reset();
  gAgent.reset();
  return 0;
}
