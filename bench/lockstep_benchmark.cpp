// How much faster than real time a lockstep run of virtual-robot goes: one 12 s scenario (the
// ball 45 degrees right, a robot of 0.8 m/s) per iteration, as simulated seconds per wall second.
// Run by hand: the figure is the machine's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "robot/lockstep.h"

namespace {

void lockstepRun(benchmark::State& state) {
  robot::RunPlan plan;
  plan.firmware = STEER_BOARD_ELF;
  plan.scenario.field.ballBearingDeg = 45;
  plan.scenario.robot.topSpeedMPerS = 0.8;
  double simulated = 0;
  double wall = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    robot::Run run;
    std::string why;
    if (!robot::runLockstep(plan, run, why)) {
      state.SkipWithError(why.c_str());
      return;
    }
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    simulated += run.samples.empty() ? 0 : run.samples.back().t;
  }
  state.counters["times_real_time"] = simulated / wall;
}
BENCHMARK(lockstepRun)->Unit(benchmark::kSecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
