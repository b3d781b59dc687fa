#include "robot/realtime.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "board/wall_clock_pacer.h"
#include "board/watch.h"
#include "robot/engine.h"

namespace robot {
namespace {

constexpr int refusedByProgram = 2;         // steer's status for a command line it does not take
constexpr Nanos killAfter = 5'000'000'000;  // a steer that ignores SIGINT this long is killed

struct Pacing {
  Engine& engine;
  board::WallClockPacer pacer;
  Nanos duration;
  Nanos frameTime;
  std::atomic<pid_t> steer{-1};  // set once it runs
  std::atomic<bool> steerEnded{false};
  bool stopped = false;  // the engine failed
};

// Ctrl-C for steer at the run's end, or once the simulation has stopped; a steer that does not
// end on it is killed.
void endSteer(Pacing& p, Nanos now, bool& interrupted) {
  if (p.steer <= 0 || p.steerEnded) return;
  if (!interrupted && (now >= p.duration || p.stopped)) {
    kill(p.steer, SIGINT);
    interrupted = true;
  }
  if (interrupted && now >= p.duration + killAfter) kill(p.steer, SIGKILL);
}

// The simulation's thread: never ahead of the wall clock; once steer has ended, on until the
// board has had every byte and its time-out and stop could show.
void pace(Pacing& p) {
  bool interrupted = false;
  Nanos endedAt = -1;
  for (;;) {
    p.engine.line().takeArrived();
    const Nanos now = p.engine.now();
    endSteer(p, now, interrupted);
    if (p.steerEnded && endedAt < 0 && (p.engine.lineEmpty() || p.stopped)) endedAt = now;
    if (endedAt >= 0 && (now >= endedAt + board::lingerAfterEnd.count() || p.stopped)) return;
    // Only while steer runs does a late world change what it does.
    if (p.stopped)
      board::WallClockPacer::idle();
    else
      p.stopped = !p.engine.runTo(p.pacer.next(boardsim::SimTime(now), !p.steerEnded).count());
  }
}

}  // namespace

RealTimeEnd runRealTime(const RunPlan& plan, Run& run, std::string& why) {
  std::string dir;
  if (!makeWorkFolder(plan.keep, dir, why)) return RealTimeEnd::failed;
  // A temporary folder goes however the run ends.
  const std::unique_ptr<const std::string, void (*)(const std::string*)> removeAfter(
      plan.keep.empty() ? &dir : nullptr,
      [](const std::string* d) { std::filesystem::remove_all(*d); });
  std::unique_ptr<Engine> engine = Engine::load(plan.scenario, plan.firmware, dir, why);
  board::Watch steer;
  // A Ctrl-C from the terminal is steer's: it stops the board, and the run ends with it.
  if (engine == nullptr || !steer.open({SIGINT}, why)) return RealTimeEnd::failed;
  steer.how.argv = plan.steerCommand;
  steer.how.device = "/dev/ttyUSB0";
  steer.how.dir = dir;
  steer.how.out = open("/dev/null", O_WRONLY | O_CLOEXEC);  // the echo is of no use here
  steer.paceSlave = steer.terminal.slave;
  // The simulation starts with steer, whose start takes a while: the files are there for it.
  steer.start = std::chrono::steady_clock::now();
  Pacing p{*engine, board::WallClockPacer(steer.start),
           std::llround(plan.scenario.run.durationS * 1e9),
           std::llround(1e9 / plan.scenario.camera.frameRateHz)};
  std::thread simulation([&p] { pace(p); });
  const board::Launched::Failure failed = steer.launch("steer", why);
  close(steer.how.out);
  int status = 0;
  if (failed == board::Launched::Failure::none) {
    p.steer = steer.pid;
    status = steer.watchUntilEnd(engine->line());
  }
  p.steerEnded = true;
  simulation.join();
  steer.end();  // the next run's steer starts as this one did
  if (failed != board::Launched::Failure::none)
    return failed == board::Launched::Failure::sandbox ? RealTimeEnd::refused : RealTimeEnd::failed;
  run = engine->takeRun();
  steer::Settings settings;
  (void)steerSettings(plan.steerArgs, settings, false);  // steer itself tells why it refuses
  run.band = settings.band;
  run.realTime = true;
  if (WIFEXITED(status) && WEXITSTATUS(status) == refusedByProgram) {
    why = plan.steerCommand[0] + " refused its options (see above)";
    return RealTimeEnd::refused;
  }
  if (p.stopped) {
    why = engine->why();
    return RealTimeEnd::failed;
  }
  const Nanos mostBehind = p.pacer.mostBehind().count();
  if (mostBehind > p.frameTime) {
    char text[200];
    (void)std::snprintf(text, sizeof text,
                        "the simulation fell %.1f ms behind the wall clock, more than a frame "
                        "time (%.1f ms): the run is not the robot's behaviour; close other "
                        "programs or use --lockstep",
                        static_cast<double>(mostBehind) / 1e6,
                        static_cast<double>(p.frameTime) / 1e6);
    why = text;
    return RealTimeEnd::failed;
  }
  return RealTimeEnd::done;
}

}  // namespace robot
