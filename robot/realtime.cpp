#include "robot/realtime.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "board/runner.h"
#include "board/watch.h"
#include "robot/engine.h"

namespace robot {
namespace {

using Clock = std::chrono::steady_clock;
constexpr Nanos slice = 1'000'000;  // the simulation runs ahead of the wall clock by at most this
constexpr Nanos lingerAfterEnd = 500'000'000;
constexpr int refusedByProgram = 2;         // steer's status for a command line it does not take
constexpr Nanos killAfter = 5'000'000'000;  // a steer that ignores SIGINT this long is killed

// The watched line's bytes, from the watching thread to the simulation's.
class LineBytes final : public board::Receiver {
 public:
  void settings(const board::LineSettings& /*s*/, double /*at*/) override {}
  void arrived(std::uint8_t byte, double at) override {
    const std::lock_guard<std::mutex> hold(lock_);
    bytes_.push_back({byte, std::llround(at * 1e9)});
  }
  void quiet(double /*at*/) override {}
  void passTo(Engine& engine) {
    const std::lock_guard<std::mutex> hold(lock_);
    for (const auto& [byte, at] : bytes_) engine.lineByte(byte, at);
    bytes_.clear();
  }

 private:
  std::mutex lock_;
  std::vector<std::pair<std::uint8_t, Nanos>> bytes_;
};

struct Pacing {
  Engine& engine;
  LineBytes& line;
  std::atomic<pid_t> steer{-1};  // set once it runs
  Clock::time_point zero;
  Nanos duration;
  Nanos frameTime;
  std::atomic<bool> steerEnded{false};
  Nanos mostBehind = 0;
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
    p.line.passTo(p.engine);
    const Nanos wall =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - p.zero).count();
    const Nanos now = p.engine.now();
    endSteer(p, now, interrupted);
    if (p.steerEnded && endedAt < 0 && (p.engine.lineEmpty() || p.stopped)) endedAt = now;
    if (endedAt >= 0 && (now >= endedAt + lingerAfterEnd || p.stopped)) return;
    if (wall < now || p.stopped) {
      std::this_thread::sleep_for(std::chrono::nanoseconds(std::min(std::abs(now - wall), slice)));
      continue;
    }
    // Only while steer runs does a late world change what it does.
    if (!p.steerEnded) p.mostBehind = std::max(p.mostBehind, wall - now);
    p.stopped = !p.engine.runTo(std::min(wall, now + slice));
  }
}

}  // namespace

RealTimeEnd runRealTime(const RunPlan& plan, Run& run, std::string& why) {
  std::string dir;
  if (!makeWorkFolder(plan.keep, dir, why)) return RealTimeEnd::failed;
  std::unique_ptr<Engine> engine = Engine::load(plan.scenario, plan.firmware, dir, why);
  board::BoardLine line;
  if (engine == nullptr || !board::openBoardLine(line, why)) return RealTimeEnd::failed;
  board::Launch how;
  how.argv = plan.steerCommand;
  how.device = "/dev/ttyUSB0";
  how.slavePath = line.slavePath;
  how.dir = dir;
  how.out = open("/dev/null", O_WRONLY | O_CLOEXEC);  // the echo is of no use here
  // A Ctrl-C from the terminal is steer's: it stops the board, and the run ends with it.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction interrupt {};
  sigaction(SIGINT, &ignore, &interrupt);
  how.signals.emplace_back(SIGINT, interrupt);
  board::Watch watch{};
  watch.signals = board::watchSignals(&how.mask);
  watch.master = line.master;
  watch.paceSlave = line.slave;
  termios before{};
  tcgetattr(line.master, &before);
  // The simulation starts with steer, whose start takes a while: the files are there for it.
  LineBytes bytes;
  watch.start = Clock::now();
  Pacing p{*engine,
           bytes,
           {},
           watch.start,
           std::llround(plan.scenario.run.durationS * 1e9),
           std::llround(1e9 / plan.scenario.camera.frameRateHz)};
  std::thread simulation([&p] { pace(p); });
  const board::Launched started = board::launch(how);
  close(how.out);
  if (started.failure != board::Launched::Failure::none) {
    p.steerEnded = true;
    simulation.join();
    pthread_sigmask(SIG_SETMASK, &how.mask, nullptr);
    sigaction(SIGINT, &interrupt, nullptr);
    why = started.failure == board::Launched::Failure::sandbox
              ? "cannot give steer a private /dev (" + started.why +
                    "): " + board::sandboxAdvice(started.error)
              : "cannot run " + started.why;
    return started.failure == board::Launched::Failure::sandbox ? RealTimeEnd::refused
                                                                : RealTimeEnd::failed;
  }
  watch.pid = started.pid;
  p.steer = started.pid;
  const int status = board::watchUntilEnd(watch, board::settingsOf(before), bytes);
  p.steerEnded = true;
  simulation.join();
  // The next run's steer starts as this one did.
  pthread_sigmask(SIG_SETMASK, &how.mask, nullptr);
  sigaction(SIGINT, &interrupt, nullptr);
  for (int fd : {line.master, line.slave, watch.signals}) close(fd);
  if (plan.keep.empty()) std::filesystem::remove_all(dir);
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
  if (p.mostBehind > p.frameTime) {
    char text[200];
    (void)std::snprintf(text, sizeof text,
                        "the simulation fell %.1f ms behind the wall clock, more than a frame "
                        "time (%.1f ms): the run is not the robot's behaviour; close other "
                        "programs or use --lockstep",
                        static_cast<double>(p.mostBehind) / 1e6,
                        static_cast<double>(p.frameTime) / 1e6);
    why = text;
    return RealTimeEnd::failed;
  }
  return RealTimeEnd::done;
}

}  // namespace robot
