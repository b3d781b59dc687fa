// virtual-robot: runs steer with a simulated board, robot, camera and position producer.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "robot/command_line.h"
#include "robot/lockstep.h"
#include "robot/program_paths.h"
#include "robot/runs.h"
#include "robot/scenario.h"

namespace {

constexpr const char* help =
    "Runs steer against a simulated robot: the board's firmware in a simulator, a\n"
    "differential-drive robot, a ball and a goal, and a camera whose producer writes b.txt\n"
    "and t.txt in steer's working folder. Tells the run's measures on standard output.\n"
    "\n"
    "  --lockstep          run on a simulated clock, reproducibly and faster than real time,\n"
    "                      with steer's own controller; by default the real steer program\n"
    "                      runs in real time, with a pseudo-terminal as its board\n"
    "  --firmware FILE.elf the board's image (default: the scenario's, else the one built or\n"
    "                      installed with virtual-robot)\n"
    "  --keep DIR          steer's working folder, kept (default: a temporary one)\n"
    "  --trace FILE.csv    write the run's trace, a row per millisecond\n"
    "  --picture FILE.png  draw the run (.png, .svg or .pdf, as the name ends): the field\n"
    "                      from above, and the ball's column over time\n"
    "  --json FILE         write the summary as JSON\n"
    "  --out DIR           write each run's DIR/run-NN.{csv,png,json}, the tables\n"
    "                      DIR/table.{md,csv}, DIR/summary.{md,csv} and the chart\n"
    "                      DIR/chart.png (a sweep's default: NAME-runs)\n"
    "  --jobs N            lockstep runs of a sweep at a time (default: the machine's cores)\n"
    "  --help, -h          show this help and exit\n"
    "  --version           show the version and exit\n"
    "\n"
    "After --: steer's options, added to the scenario's. A first word that is no option names\n"
    "the program that runs in real time (default: the steer built or installed with it, also\n"
    "for a \"steer\" that is not on PATH); --lockstep always runs steer's own code, so it\n"
    "takes only \"steer\" there.\n"
    "A scenario that lists several values for some settings is a sweep: every combination runs,\n"
    "told a line each, then a summary per settings line over the places of the ball.\n"
    "Exit status: 0 when every run was done, 1 when a run failed (steer could not run, the\n"
    "simulation fell behind the wall clock), 2 for refused options or a bad scenario file.\n";

int refuse(const std::string& why) {
  (void)std::fprintf(stderr, "virtual-robot: %s\n%s", why.c_str(), robot::usage);
  return robot::refusedStatus;
}

// The program to run in real time: the one named, on PATH for a name without a slash, except
// that "steer" found nowhere there is the build's (installed: the one beside this program). A
// path is taken from virtual-robot's working folder, not steer's.
std::string programToRun(const std::string& named) {
  if (named.empty()) return robot::defaultSteer();
  if (named.find('/') != std::string::npos) return std::filesystem::absolute(named).string();
  if (named != "steer") return named;
  // NOLINTNEXTLINE(concurrency-mt-unsafe): read before any thread starts
  const char* path = std::getenv("PATH");
  std::stringstream folders(path == nullptr ? "" : path);
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (!folder.empty() && access((folder + "/steer").c_str(), X_OK) == 0) return named;
  }
  return robot::defaultSteer();
}

// Whether the program for real time is there to run.
bool canRun(const std::string& program, std::string& why) {
  if (program.find('/') == std::string::npos || access(program.c_str(), X_OK) == 0) return true;
  return robot::failed(why,
                       "cannot run " + program + ": " + std::generic_category().message(errno));
}

// A plan for each run; false, with the reason in `why`, when they cannot run.
bool makePlans(const robot::Options& o, const std::vector<robot::Scenario>& scenarios, bool sweep,
               std::vector<robot::RunPlan>& plans, std::string& why) {
  for (size_t i = 0; i < scenarios.size(); ++i) {
    robot::RunPlan plan;
    plan.scenario = scenarios[i];
    plan.firmware = !o.firmware.empty()                  ? o.firmware
                    : !scenarios[i].run.firmware.empty() ? scenarios[i].run.firmware
                                                         : robot::defaultFirmware();
    if (plan.firmware.empty())
      return robot::failed(why,
                           "this build made no firmware image (it needs gcc-avr, avr-libc and "
                           "arduino-core-avr); name one with --firmware FILE.elf");
    if (!std::filesystem::is_regular_file(plan.firmware))
      return robot::failed(why, "no firmware image at " + plan.firmware);
    plan.steerArgs = robot::steerArguments(plan.scenario.steer);
    plan.steerArgs.insert(plan.steerArgs.end(), o.steerArgs.begin(), o.steerArgs.end());
    plan.scenario.steer.options = plan.steerArgs;  // what the reports tell: every option used
    // In lockstep, steer's options are its controller's; the real steer checks its own.
    steer::Settings settings;
    if (o.lockstep && !robot::steerSettings(plan.steerArgs, settings))
      return robot::failed(why, "steer does not take the options of run " + std::to_string(i + 1));
    plan.steerCommand = {programToRun(o.program)};
    plan.steerCommand.insert(plan.steerCommand.end(), plan.steerArgs.begin(), plan.steerArgs.end());
    if (!o.keep.empty()) plan.keep = sweep ? o.keep + "/run-" + std::to_string(i + 1) : o.keep;
    plans.push_back(plan);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  robot::Options o;
  std::string why;
  if (!robot::parseOptions({argv + 1, argv + argc}, o, why)) return refuse(why);
  if (o.help) {
    std::printf("%s\n%s", robot::usage, help);
    return 0;
  }
  if (o.version) {
    std::printf("virtual-robot %s\n", VIRTUAL_ROBOT_VERSION);
    return 0;
  }
  std::vector<robot::Scenario> scenarios;
  std::vector<std::string> warnings;
  if (!robot::loadScenarios(o.scenario, scenarios, why, &warnings)) {
    (void)std::fprintf(stderr, "%s\n", why.c_str());
    return robot::refusedStatus;
  }
  for (const std::string& warning : warnings) (void)std::fprintf(stderr, "%s\n", warning.c_str());
  const bool sweep = scenarios.size() > 1 || !o.out.empty();
  if (sweep && !(o.trace.empty() && o.picture.empty() && o.json.empty())) {
    return refuse(
        "a sweep writes its runs' files into --out DIR; --trace, --picture and --json "
        "are for one run");
  }
  if (o.lockstep && !o.program.empty() && std::filesystem::path(o.program).filename() != "steer") {
    return refuse("--lockstep runs steer's own controller, not " + o.program +
                  "; give steer's options alone after --");
  }
  const std::string dir = !sweep ? ""
                          : !o.out.empty()
                              ? o.out
                              : std::filesystem::path(o.scenario).stem().string() + "-runs";
  if (!robot::outputsWritable(o, dir, why)) return refuse(why);
  std::vector<robot::RunPlan> plans;
  if (!makePlans(o, scenarios, sweep, plans, why)) return refuse(why);
  if (!o.lockstep && !canRun(plans[0].steerCommand[0], why)) return refuse(why);
  if (!sweep) return robot::runOne(o, plans[0], {o.trace, o.picture, o.json});
  return robot::runSweep(o, plans, dir);
}
