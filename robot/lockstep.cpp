#include "lockstep.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "engine.h"
#include "options.h"
#include "steer.h"

namespace robot {
namespace {

constexpr Nanos idlePass = 100'000;  // a pass that sends nothing
constexpr Nanos lingerAfterStop = 500'000'000;

struct ResultHeader {
  int ok;
  int band;
  std::uint64_t samples;
  std::uint64_t events;
  std::uint64_t whyLength;
};

Nanos nanos(double seconds) { return std::llround(seconds * 1e9); }

// steer's settings before any option: each run's options apply to these, whatever an earlier
// run's, read in the same process, left.
struct SteerSettings {
  int band = steer::band;
  int turnPower = steer::pwr;
  int drivePower = steer::drivePower;
  int staleAfter = steer::staleAfter;
};
const SteerSettings steerDefaults;

// steer::readArguments on steer's name and `options`: -1 when steer runs with them.
int readSteerArguments(const std::vector<std::string>& options) {
  steer::band = steerDefaults.band;
  steer::pwr = steerDefaults.turnPower;
  steer::drivePower = steerDefaults.drivePower;
  steer::staleAfter = steerDefaults.staleAfter;
  std::vector<std::string> args{"steer"};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<const char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  return steer::readArguments(static_cast<int>(args.size()), argv.data());
}

// steer's passes, each as the program makes it, with the bytes of its frame on the line one byte
// time each; steer waits for each byte to drain before its next step.
bool drive(const RunPlan& plan, Engine& engine, std::string& why) {
  if (readSteerArguments(plan.steerArgs) >= 0) {
    why = "steer refused its options (see above)";
    return false;
  }
  const Nanos end = nanos(plan.scenario.run.durationS);
  Nanos t = 0;
  while (t < end) {
    if (!engine.runTo(t)) break;
    steer::readGoalPoints();
    steer::readObjectPosition();
    const steer::Command c = steer::decide(steer::width / 2);
    if (c.nap == 0) {
      t += idlePass;
      continue;
    }
    engine.lineByte(static_cast<std::uint8_t>(c.power & 0xFF), t + lineByteNanos);
    engine.lineByte(static_cast<std::uint8_t>(c.nap | 0x80), t + 2 * lineByteNanos);
    t += 2 * lineByteNanos;
  }
  // The Ctrl-C at the end: the stop sequence, and time for the motors' stop to show.
  t = std::max(t, end);
  engine.lineByte(0x00, t + lineByteNanos);
  engine.lineByte(0x80, t + 2 * lineByteNanos);
  bool running = engine.runTo(t + 2 * lineByteNanos);
  // The board gets every byte; then its motors' stop has time to show.
  while (running && !engine.lineEmpty()) running = engine.runTo(engine.now() + lineByteNanos);
  if (running) (void)engine.runTo(engine.now() + lingerAfterStop);
  why = engine.why();
  return why.empty();
}

bool writeResult(const std::string& path, bool ok, const Run& run, const std::string& why) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const ResultHeader h{ok ? 1 : 0, run.band, run.samples.size(), run.events.size(), why.size()};
  out.write(reinterpret_cast<const char*>(&h), sizeof h);
  out.write(reinterpret_cast<const char*>(run.samples.data()),
            static_cast<std::streamsize>(run.samples.size() * sizeof(Sample)));
  out.write(reinterpret_cast<const char*>(run.events.data()),
            static_cast<std::streamsize>(run.events.size() * sizeof(LineEvent)));
  out.write(why.data(), static_cast<std::streamsize>(why.size()));
  return out.good();
}

[[noreturn]] void runChild(const RunPlan& plan, const std::string& resultPath) {
  std::string why;
  std::string dir;
  Run run;
  bool ok = makeWorkFolder(plan.keep, dir, why);
  std::unique_ptr<Engine> engine;
  if (ok) engine = Engine::load(plan.scenario, plan.firmware, dir, why);
  ok = engine != nullptr;
  // steer reads its files by relative name.
  if (ok && chdir(dir.c_str()) != 0) {
    why = "cannot enter " + dir + ": " + std::generic_category().message(errno);
    ok = false;
  }
  if (ok) {
    ok = drive(plan, *engine, why);
    run = engine->takeRun();
  }
  run.band = steer::band;
  if (plan.keep.empty() && !dir.empty()) std::filesystem::remove_all(dir);
  (void)std::fflush(stdout);
  _exit(writeResult(resultPath, ok, run, why) ? 0 : 3);
}

}  // namespace

bool makeWorkFolder(const std::string& keep, std::string& dir, std::string& why) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!keep.empty()) {
    fs::create_directories(keep, error);
    dir = fs::absolute(keep, error).string();
  } else {
    std::string pattern = (fs::temp_directory_path(error) / "virtual-robot-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) error = {errno, std::generic_category()};
    dir = pattern;
  }
  if (error) why = "cannot make the working folder " + dir + ": " + error.message();
  return !error;
}

Started startLockstep(const RunPlan& plan, std::string& why) {
  Started s;
  std::string dir;
  if (!makeWorkFolder("", dir, why)) return s;
  s.resultPath = dir + "/result";
  (void)std::fflush(nullptr);
  s.pid = fork();
  if (s.pid == 0) runChild(plan, s.resultPath);
  if (s.pid < 0) why = "cannot start a run: " + std::generic_category().message(errno);
  return s;
}

bool collectLockstep(const RunPlan& plan, const Started& started, int status, Run& run,
                     std::string& why) {
  std::ifstream in(started.resultPath, std::ios::binary);
  ResultHeader h{};
  in.read(reinterpret_cast<char*>(&h), sizeof h);
  const bool read = in.good() && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  run = Run{};
  run.scenario = plan.scenario;
  if (read) {
    run.band = h.band;
    run.samples.resize(h.samples);
    run.events.resize(h.events);
    why.resize(h.whyLength);
    in.read(reinterpret_cast<char*>(run.samples.data()),
            static_cast<std::streamsize>(h.samples * sizeof(Sample)));
    in.read(reinterpret_cast<char*>(run.events.data()),
            static_cast<std::streamsize>(h.events * sizeof(LineEvent)));
    in.read(why.data(), static_cast<std::streamsize>(h.whyLength));
  }
  std::filesystem::remove_all(std::filesystem::path(started.resultPath).parent_path());
  if (!read) why = "the run's process ended without its recording";
  return read && in.good() && h.ok == 1;
}

int steerBand(const std::vector<std::string>& options) {
  (void)readSteerArguments(options);
  return steer::band;
}

bool steerTakes(const std::vector<std::string>& options) {
  (void)std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) _exit(readSteerArguments(options) < 0 ? 0 : 2);  // steer's options are global
  int status = 0;
  while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool runLockstep(const RunPlan& plan, Run& run, std::string& why) {
  const Started started = startLockstep(plan, why);
  if (started.pid < 0) return false;
  int status = 0;
  while (waitpid(started.pid, &status, 0) < 0 && errno == EINTR) {
  }
  return collectLockstep(plan, started, status, run, why);
}

}  // namespace robot
