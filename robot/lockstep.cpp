#include "robot/lockstep.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "robot/engine.h"
#include "steer/controller.h"
#include "steer/options.h"
#include "steer/position_files.h"

namespace robot {
namespace {

constexpr Nanos idlePass = 100'000;  // a pass that sends nothing
constexpr Nanos lingerAfterStop = 500'000'000;

// steer's clock is the simulation's.
class EngineClock : public steer::Clock {
 public:
  explicit EngineClock(const Engine& engine) : engine_(engine) {}
  std::int64_t nowMs() override { return engine_.now() / 1'000'000; }

 private:
  const Engine& engine_;
};

// steer's line: each byte reaches the board one byte time after it is sent, and steer goes on
// once it has (as it waits for each byte to drain). A line that always works.
class EngineLine : public steer::Line {
 public:
  explicit EngineLine(Engine& engine) : engine_(engine) {}
  steer::ByteFate send(int byte, bool /*isStop*/, std::int64_t /*endingByMs*/) override {
    const Nanos arrives = engine_.now() + lineByteNanos;
    engine_.lineByte(static_cast<std::uint8_t>(byte), arrives);
    return engine_.runTo(arrives) ? steer::ByteFate::sent : steer::ByteFate::notSent;
  }
  void pause() override {}
  void clearForStop() override {}
  void tell(bool /*now*/) override {}
  const char* name() const override { return "the simulated board"; }
  const char* whyNotSent() const override { return "the simulation stopped"; }

 private:
  Engine& engine_;
};

// steer's passes until the run's end, then the stop that Ctrl-C sends, and time for the
// motors' stop to show.
bool drive(const RunPlan& plan, const steer::Settings& settings, Engine& engine,
           const std::string& dir, std::string& why) {
  EngineClock clock(engine);
  steer::PositionFiles files(dir);
  EngineLine line(engine);
  steer::Controller controller(settings, clock, files, line, nullptr, nullptr);
  const Nanos end = std::llround(plan.scenario.run.durationS * 1e9);
  bool running = engine.runTo(0);
  while (running && engine.now() < end) {
    const Nanos before = engine.now();
    controller.pass();
    running = engine.why().empty();
    if (running && engine.now() == before) running = engine.runTo(before + idlePass);
  }
  if (running) controller.sendStop();
  running = engine.why().empty();
  // The board gets every byte; then its motors' stop has time to show.
  while (running && !engine.lineEmpty()) running = engine.runTo(engine.now() + lineByteNanos);
  if (running) (void)engine.runTo(engine.now() + lingerAfterStop);
  why = engine.why();
  return why.empty();
}

// Where temporary working folders go: TMPDIR when set; else, for a steer that shares our /dev,
// /dev/shm, which is memory: the producer's renames over the old files cost a disk's file system
// a flush each.
std::filesystem::path temporaryFolders(bool inMemory, std::error_code& error) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing here changes the environment
  static const bool tmpdirUnset = std::getenv("TMPDIR") == nullptr;
  static const bool memory = tmpdirUnset && access("/dev/shm", W_OK | X_OK) == 0;
  return inMemory && memory ? std::filesystem::path("/dev/shm")
                            : std::filesystem::temp_directory_path(error);
}

}  // namespace

bool steerSettings(const std::vector<std::string>& options, steer::Settings& settings, bool tell) {
  std::vector<const char*> argv{"steer"};
  for (const std::string& o : options) argv.push_back(o.c_str());
  const steer::Options read = steer::readOptions(static_cast<int>(argv.size()), argv.data());
  if (read.asked != steer::Options::Asked::steer) {
    if (tell) (void)steer::answer(read);
    return false;
  }
  settings = read.settings;
  settings.device = "";  // it pointed into `argv`
  return true;
}

bool makeWorkFolder(const std::string& keep, std::string& dir, std::string& why, bool inMemory) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!keep.empty()) {
    fs::create_directories(keep, error);
    dir = fs::absolute(keep, error).string();
  } else {
    std::string pattern = (temporaryFolders(inMemory, error) / "virtual-robot-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) error = {errno, std::generic_category()};
    dir = pattern;
  }
  if (error) why = "cannot make the working folder " + dir + ": " + error.message();
  return !error;
}

bool runLockstep(const RunPlan& plan, Run& run, std::string& why) {
  run = Run{};
  run.scenario = plan.scenario;
  steer::Settings settings;
  if (!steerSettings(plan.steerArgs, settings))
    return failed(why, "steer refused its options (see above)");
  std::string dir;
  if (!makeWorkFolder(plan.keep, dir, why, true)) return false;
  bool ok = false;
  if (std::unique_ptr<Engine> engine = Engine::load(plan.scenario, plan.firmware, dir, why)) {
    ok = drive(plan, settings, *engine, dir, why);
    run = engine->takeRun();
  }
  run.band = settings.band;
  if (plan.keep.empty()) std::filesystem::remove_all(dir);
  return ok;
}

}  // namespace robot
