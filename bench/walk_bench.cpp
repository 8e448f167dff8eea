// The device walk of a 500-row profile table, through R2740Helper and the
// service as the plug-in runs it:
// - one walk beside snmpwalk of the same root on the same snmpd (both whole
//   processes started the same way, output read through a pipe);
// - 50 users asking at once for the walk of that one agent, and 8 users at
//   once on 8 agents, each beside one walk; once straight to snmpd on
//   loopback, where every walk is CPU work of service and agent, and once
//   through a relay that answers each request 1 ms late, as a printer on
//   the network would;
// - 50 users one after another on one printer within the share time (one
//   walk, then 49 users served from it), beside one walk, in time and in
//   requests at the printer (counted at the relay).
// The agents are snmpd on 127.12.0.1 to 127.12.0.8, their relays on
// 127.12.1.1 to 127.12.1.8, all at one port, which the service's port
// setting names. Prints the ratios.
#include <benchmark/benchmark.h>
#include <pwd.h>

#include <cstdio>
#include <future>
#include <map>

#include "ProfileTestSupport.h"
#include "RatioReporter.h"

namespace {

using namespace proftest;

constexpr int kRows = 500;
constexpr int kPort = 16391;
constexpr size_t kAgents = 8;
constexpr size_t kUsers = 50;

std::vector<std::unique_ptr<Agent>> gAgents;
std::vector<std::unique_ptr<Printer>> gRelays;
std::unique_ptr<ServiceRoot> gService;
std::vector<std::string> gUsers;

// Login names of this system, as many as there are users asking (root may
// walk for any of them); repeated when the system has fewer.
std::vector<std::string> Users(size_t count) {
  std::vector<std::string> names;
  ::setpwent();
  for (passwd* pw; names.size() < count && (pw = ::getpwent());) names.push_back(pw->pw_name);
  ::endpwent();
  for (size_t i = 0; !names.empty() && names.size() < count; ++i) names.push_back(names[i]);
  return names;
}

// Every request at once, each from its own helper process; false when one
// is not a complete walk.
bool WalkAtOnce(const std::vector<std::vector<std::string>>& requests) {
  std::vector<std::future<std::string>> replies;
  for (const auto& r : requests) replies.push_back(std::async(std::launch::async, [&r] { return gService->Reply(r); }));
  bool ok = true;
  for (auto& f : replies) ok = f.get() == "iRet=0" && ok;
  return ok;
}

// The host the service walks for agent i: snmpd itself, or its relay.
std::string Host(bool relayed, size_t i) { return relayed ? gRelays[i]->host() : gAgents[i]->host(); }

// Requests the printer behind relay 0 received per iteration.
void CountRequests(benchmark::State& state, size_t before) {
  const double requests = static_cast<double>(gRelays[0]->arrivals().size() - before);
  state.counters["requests_at_printer"] = benchmark::Counter(requests, benchmark::Counter::kAvgIterations);
}

void OneWalk(benchmark::State& state, bool relayed) {
  auto args = WalkArgs("root", Host(relayed, 0));
  const size_t before = gRelays[0]->arrivals().size();
  for (auto _ : state) {
    std::string reply = gService->Reply(args);
    if (reply != "iRet=0") {
      state.SkipWithError(("walk answered " + reply).c_str());
      return;
    }
  }
  if (relayed) CountRequests(state, before);
}
void BM_ServiceWalk(benchmark::State& state) { OneWalk(state, false); }
BENCHMARK(BM_ServiceWalk)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_Snmpwalk(benchmark::State& state) {
  std::vector<std::string> args = {"-Os", "-c", "public", "-v", "1", gAgents[0]->address(), kTableRoot};
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

void AtOnce(benchmark::State& state, const std::vector<std::vector<std::string>>& requests) {
  for (auto _ : state) {
    if (!WalkAtOnce(requests)) {
      state.SkipWithError("a walk was not complete");
      return;
    }
  }
}

void FiftyUsersOneAgent(benchmark::State& state, bool relayed) {
  std::vector<std::vector<std::string>> requests;
  for (const auto& user : gUsers) requests.push_back(WalkArgs(user, Host(relayed, 0)));
  AtOnce(state, requests);
}

void EightUsersEightAgents(benchmark::State& state, bool relayed) {
  std::vector<std::vector<std::string>> requests;
  for (size_t i = 0; i < kAgents; ++i) requests.push_back(WalkArgs(gUsers[i], Host(relayed, i)));
  AtOnce(state, requests);
}

void BM_FiftyUsersOneAgent(benchmark::State& state) { FiftyUsersOneAgent(state, false); }
void BM_EightUsersEightAgents(benchmark::State& state) { EightUsersEightAgents(state, false); }
void BM_ServiceWalk1ms(benchmark::State& state) { OneWalk(state, true); }
void BM_FiftyUsersOneAgent1ms(benchmark::State& state) { FiftyUsersOneAgent(state, true); }
void BM_EightUsersEightAgents1ms(benchmark::State& state) { EightUsersEightAgents(state, true); }
BENCHMARK(BM_FiftyUsersOneAgent)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_EightUsersEightAgents)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_ServiceWalk1ms)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_FiftyUsersOneAgent1ms)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_EightUsersEightAgents1ms)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// The service keeps a complete walk for its share time. Each iteration
// starts a service of its own (untimed), so that its first user walks.
void BM_FiftyUsersOneAfterAnother1ms(benchmark::State& state) {
  gService->StopService();
  gService->Setting("R2740_XPC_WALK_SHARE_SECONDS", "30");
  const size_t before = gRelays[0]->arrivals().size();
  for (auto _ : state) {
    state.PauseTiming();
    gService->StopService();
    (void)gService->Reply({"qvPListIsAdminProfile_XPC", gService->ProfilePath("root")});  // starts it
    state.ResumeTiming();
    for (const auto& user : gUsers) {
      std::string reply = gService->Reply(WalkArgs(user, Host(true, 0)));
      if (reply != "iRet=0") {
        state.SkipWithError(("walk answered " + reply).c_str());
        break;
      }
    }
  }
  CountRequests(state, before);
  gService->StopService();
  gService->Setting("R2740_XPC_WALK_SHARE_SECONDS", "0");
}
BENCHMARK(BM_FiftyUsersOneAfterAnother1ms)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  std::vector<Row> rows;
  for (int i = 1; i <= kRows; ++i) {
    char file[16], name[32];
    std::snprintf(file, sizeof file, "P%05d.ICC", i);
    std::snprintf(name, sizeof name, "Profile %d", i);
    rows.push_back({i, i % 2 ? kProfileLocationDisk : kProfileLocationCard, name, file, i % 3 + 1});
  }
  for (size_t i = 1; i <= kAgents; ++i) {
    gAgents.push_back(std::make_unique<Agent>("127.12.0." + std::to_string(i), kPort, rows));
    gRelays.push_back(std::make_unique<Printer>("127.12.1." + std::to_string(i), kPort, gAgents.back().get(),
                                                std::chrono::milliseconds(1)));
    if (!gAgents.back()->ready() || !gRelays.back()->bound()) {
      std::fprintf(stderr, "snmpd or its relay did not start on %s\n", gAgents.back()->address().c_str());
      return 1;
    }
  }
  gUsers = Users(kUsers);
  if (gUsers.size() < kUsers) {
    std::fprintf(stderr, "no login names\n");
    return 1;
  }
  gService = std::make_unique<ServiceRoot>();
  gService->Setting("R2740_XPC_SNMP_PORT", std::to_string(kPort));
  // Every walk walks, unless a benchmark says otherwise.
  gService->Setting("R2740_XPC_WALK_SHARE_SECONDS", "0");
  // Starts the service once, so that no walk pays for its start.
  if (gService->Reply(WalkArgs("root", gAgents[0]->host())) != "iRet=0") {
    std::fprintf(stderr, "the first walk failed\n");
    return 1;
  }

  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const std::string label = "walk of " + std::to_string(kRows) + " rows, helper+service / snmpwalk";
  reporter.Ratio(label.c_str(), "BM_ServiceWalk", "BM_Snmpwalk");
  reporter.Ratio("walk load: 50 users at once on one 500-row agent / one walk", "BM_FiftyUsersOneAgent",
                 "BM_ServiceWalk");
  reporter.Ratio("walk load: 8 users at once on 8 500-row agents / one walk", "BM_EightUsersEightAgents",
                 "BM_ServiceWalk");
  reporter.Ratio("walk load, agents answering after 1 ms: 50 users at once on one agent / one walk",
                 "BM_FiftyUsersOneAgent1ms", "BM_ServiceWalk1ms");
  reporter.Ratio("walk load, agents answering after 1 ms: 8 users at once on 8 agents / one walk",
                 "BM_EightUsersEightAgents1ms", "BM_ServiceWalk1ms");
  reporter.Ratio("walk share, agent answering after 1 ms: 50 users one after another within the share time / one walk",
                 "BM_FiftyUsersOneAfterAnother1ms", "BM_ServiceWalk1ms");
  gService.reset();
  gRelays.clear();
  gAgents.clear();
  return 0;
}
