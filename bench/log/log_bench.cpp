// One LogMessage call: a message the manager rejects (below the minimum
// level), which must cost no formatting, against an accepted one that is
// formatted, dispatched and turned into a line by a target that then drops
// it. The built-in targets are detached so no console time is measured.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/log.h"
#include "log/log_target.h"

namespace {

// Builds the line from its pattern, as the console targets do, and keeps
// only its length.
class DiscardingTarget : public Zarn::LogTarget {
 public:
  ~DiscardingTarget() override { Detach(); }
  bool Write(const Zarn::LogEntry& entry) noexcept override {
    char line[Zarn::kLogLineCapacity];
    lastLength = Zarn::FormatLogLine(line, sizeof line, GetFormat(entry), entry);
    benchmark::DoNotOptimize(line);
    ++lines;
    return true;
  }
  size_t lastLength = 0;
  size_t lines = 0;
};

// The manager with only the discarding target, at the defaults: minimum
// WARN, "XTR" muted. The line pattern is the console one.
struct Setup {
  Setup() {
    Zarn::LogAddRef();
    for (Zarn::LogTargetInterface* builtIn : {Zarn::StdErrTarget(), Zarn::DebuggerTarget()}) {
      builtIn->Detach(builtIn);
    }
    Zarn::LogTargetSettings settings;
    settings.level = 0;
    settings.pattern = "#E(#T): #L| #M";
    target.Configure(settings);
  }
  ~Setup() { Zarn::LogRelease(); }
  DiscardingTarget target;
};

void Verify(Setup& setup) {
  const size_t before = setup.target.lines;
  Zarn::LogMessage(Zarn::LogLevel::Okay, Zarn::kLogGroupDbg, "rejected %s %d", "value", 42);
  Zarn::LogMessage(Zarn::LogLevel::Error, Zarn::kLogGroupXtr, "muted %s %d", "value", 42);
  if (setup.target.lines != before) {
    std::fprintf(stderr, "log_bench: a rejected message reached the target\n");
    std::abort();
  }
  Zarn::LogMessage(Zarn::LogLevel::Error, Zarn::kLogGroupDbg, "accepted %s %d", "value", 42);
  const size_t expected = std::strlen(Zarn::ExecutableName()) + 2 * sizeof(void*) +
                          std::strlen("():  ERROR| accepted value 42\n");
  if (setup.target.lines != before + 1 || setup.target.lastLength != expected) {
    std::fprintf(stderr, "log_bench: the accepted line is wrong (%zu characters, want %zu)\n",
                 setup.target.lastLength, expected);
    std::abort();
  }
}

void BM_Log_RejectedByLevel(benchmark::State& state) {
  Setup setup;
  Verify(setup);
  for (auto _ : state) {
    Zarn::LogMessage(Zarn::LogLevel::Okay, Zarn::kLogGroupDbg, "rejected %s %d", "value", 42);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Log_RejectedByMutedGroup(benchmark::State& state) {
  Setup setup;
  Verify(setup);
  for (auto _ : state) {
    Zarn::LogMessage(Zarn::LogLevel::Error, Zarn::kLogGroupXtr, "muted %s %d", "value", 42);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Log_AcceptedToDiscardingTarget(benchmark::State& state) {
  Setup setup;
  Verify(setup);
  for (auto _ : state) {
    Zarn::LogMessage(Zarn::LogLevel::Error, Zarn::kLogGroupDbg, "accepted %s %d", "value", 42);
  }
  benchmark::DoNotOptimize(setup.target.lines);
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Log_RejectedByLevel);
BENCHMARK(BM_Log_RejectedByMutedGroup);
BENCHMARK(BM_Log_AcceptedToDiscardingTarget);

}  // namespace

BENCHMARK_MAIN();
