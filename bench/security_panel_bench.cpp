// The security panel on the sample PPD, opened once: a save with secure
// print, registered-user authentication and both passwords set (so the
// save encrypts both), and one filter cycle of the user-name field with 64
// characters (begin editing, select all, type, end editing). Absolute times.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "host.h"
#include "ui/ui.h"

namespace {

const std::string kPPD = std::string(R2740_SOURCE_DIR) + "/data/ppd/R2740.ppd";
const std::string kPrefix = "jp.orvessa.printers.R2740.";

class FirstButton : public ui::ModalHandler {
 public:
  int runAlert(ui::Alert&) override { return ui::kAlertFirstButtonReturn; }
  int runOpenPanel(ui::OpenPanel&) override { return ui::kModalResponseCancel; }
  void runModalForWindow(const ui::WindowRef&) override { ui::Application::shared().stopModal(); }
};

std::unique_ptr<host::DialogSession> OpenSession(benchmark::State& state) {
  std::string error;
  host::PlugInRef plugin = host::LoadPlugIn(std::string(R2740_BUNDLE_DIR) + "/SecurityPanelPDE.plugin", &error);
  auto ppd = plugin ? host::PPDFile::open(kPPD, &error) : nullptr;
  if (!ppd) {
    state.SkipWithError(error.c_str());
    return nullptr;
  }
  auto callback = std::make_shared<host::HostCallback>(
      host::ManualQueue(kPPD, "R2740_Queue_1", "lpd://127.0.0.1/queue"), std::move(ppd));
  auto session = std::make_unique<host::DialogSession>(callback, std::vector<host::PlugInRef>{plugin});
  bool ok = session->open(&error);
  for (auto [key, value] : {std::pair<std::string, std::string>{"PrintModeR2740", "SecurePrint"},
                            {kPrefix + "secureKey", "pa ss12"},
                            {"QVAuthenticationR2740", "True"},
                            {kPrefix + "userType", "1"},
                            {kPrefix + "userName", "taro"},
                            {kPrefix + "userKey", "se+cret"}})
    ok = ok && session->setControl(key, value, &error);
  if (!ok) {
    state.SkipWithError(error.c_str());
    return nullptr;
  }
  return session;
}

void BM_SecuritySave(benchmark::State& state) {
  auto session = OpenSession(state);
  if (!session) return;
  std::string error;
  for (auto _ : state)
    if (!session->save(&error)) {
      state.SkipWithError(error.c_str());
      return;
    }
}
BENCHMARK(BM_SecuritySave)->Unit(benchmark::kMicrosecond);

void BM_SecurityFilter64(benchmark::State& state) {
  auto session = OpenSession(state);
  if (!session) return;
  // Two different texts, so that every cycle changes the field.
  const std::string texts[2] = {std::string(64, 'x'), std::string(32, 'a') + std::string(32, 'b')};
  std::string error;
  int i = 0;
  for (auto _ : state)
    if (!session->setControl(kPrefix + "userName", texts[i++ & 1], &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
  auto field = std::dynamic_pointer_cast<ui::TextField>(session->panels()[0].view->findByIdentifier(kPrefix + "userName"));
  if (!field || field->stringValue() != texts[(i - 1) & 1]) state.SkipWithError("the field did not take the text");
}
BENCHMARK(BM_SecurityFilter64)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  std::string root = (std::filesystem::temp_directory_path() / "r2740-secbench-XXXXXX").string();
  if (!mkdtemp(root.data())) return 1;
  setenv("R2740_ROOT", root.c_str(), 1);
  setenv("R2740_LANG", "en", 1);
  setenv("R2740_USER_PREFS", (root + "/prefs").c_str(), 1);
  ui::SetModalHandler(std::make_shared<FirstButton>());

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ui::SetModalHandler(nullptr);
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return 0;
}
