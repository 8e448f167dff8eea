// What one colour panel session costs (panel load, restore, summary, save,
// shouldPrint) next to the PPD open and default marking that every dialog
// pays anyway; prints the ratio of the two.
#include <benchmark/benchmark.h>
#include <cups/ppd.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "RatioReporter.h"
#include "host.h"

namespace {

const std::string kPPD = std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd";
const std::string kBundle = std::string(R2740_BUNDLE_DIR) + "/ColorOptionsPDE_R2740.plugin";

host::PlugInRef& PlugIn() {
  static host::PlugInRef plugin = [] {
    std::string error;
    host::PlugInRef p = host::LoadPlugIn(kBundle, &error);
    if (!p) std::fprintf(stderr, "cannot load %s: %s\n", kBundle.c_str(), error.c_str());
    return p;
  }();
  return plugin;
}

void BM_PPDOpenAndMarkDefaults(benchmark::State& state) {
  for (auto _ : state) {
    ppd_file_t* ppd = ppdOpenFile(kPPD.c_str());
    ppdMarkDefaults(ppd);
    benchmark::DoNotOptimize(ppd);
    ppdClose(ppd);
  }
}
BENCHMARK(BM_PPDOpenAndMarkDefaults)->Apply(CountedIterations);

void BM_ColorPanelSession(benchmark::State& state) {
  host::PlugInRef plugin = PlugIn();
  if (!plugin) {
    state.SkipWithError("colour plug-in not loadable");
    return;
  }
  for (auto _ : state) {
    std::string error;
    auto ppd = host::PPDFile::open(kPPD, &error);
    auto callback = std::make_shared<host::HostCallback>(
        host::ManualQueue(kPPD, "R2740_Queue_1", "lpd://127.0.0.1/queue"), std::move(ppd));
    host::DialogSession session(callback, {plugin});
    if (!session.open(&error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    benchmark::DoNotOptimize(session.summaries());
    if (!session.print(&error)) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
}
BENCHMARK(BM_ColorPanelSession)->Apply(CountedIterations);

}  // namespace

int main(int argc, char** argv) {
  // No helper and no profile file: the session never starts a device walk.
  std::string root = (std::filesystem::temp_directory_path() / "r2740-bench-XXXXXX").string();
  if (!mkdtemp(root.data())) return 1;
  setenv("R2740_ROOT", root.c_str(), 1);

  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  reporter.Ratio("colour panel session / PPD open+mark defaults", "BM_ColorPanelSession", "BM_PPDOpenAndMarkDefaults");
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return 0;
}
