#include "runs.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>

#include "measures.h"
#include "picture.h"
#include "realtime.h"
#include "report.h"
#include "sweep_report.h"

namespace robot {
namespace {

void say(const std::string& what) {
  (void)std::fprintf(stderr, "virtual-robot: %s\n", what.c_str());
}

// Measures the run and writes its files; false when a file could not be written.
bool report(Run& run, const Outputs& out) {
  run.measures = measure(run);
  bool written = true;
  std::string why;
  if (!out.trace.empty() && !writeTrace(run, out.trace, why)) {
    say(why);
    written = false;
  }
  if (!out.picture.empty() && !drawPicture(run, out.picture, why)) {
    say(why);
    written = false;
  }
  if (!out.json.empty() && !saved(out.json, summaryJson(run).dump(2) + "\n", why)) {
    say(why);
    written = false;
  }
  return written;
}

// Runs on the wall clock; the exit status, with the run in `run` when it was recorded.
int realTime(const RunPlan& plan, Run& run) {
  std::string why;
  const RealTimeEnd end = runRealTime(plan, run, why);
  if (end == RealTimeEnd::done) return runsDone;
  say(why);
  return end == RealTimeEnd::refused ? refusedStatus : runFailed;
}

std::string numbered(const std::string& dir, size_t index, const char* suffix) {
  char name[32];
  (void)std::snprintf(name, sizeof name, "/run-%02zu%s", index + 1, suffix);
  return dir + name;
}

// Lockstep runs, `jobs` at a time, each handed to `finished` as it ends (nullptr: it failed).
void lockstepRuns(const std::vector<RunPlan>& plans, size_t jobs,
                  const std::function<void(size_t, Run*)>& finished) {
  std::map<pid_t, std::pair<size_t, Started>> running;
  size_t next = 0;
  while (next < plans.size() || !running.empty()) {
    std::string why;
    if (next < plans.size() && running.size() < jobs) {
      const Started started = startLockstep(plans[next], why);
      if (started.pid > 0) running[started.pid] = {next, started};
      if (started.pid < 0) {
        say("run " + std::to_string(next + 1) + ": " + why);
        finished(next, nullptr);
      }
      ++next;
      continue;
    }
    int wait = 0;
    const pid_t pid = waitpid(-1, &wait, 0);
    if (pid < 0 && errno == EINTR) continue;
    if (pid < 0) break;  // no child left to wait for
    const auto found = running.find(pid);
    if (found == running.end()) continue;
    const auto [index, started] = found->second;
    running.erase(found);
    Run run;
    if (collectLockstep(plans[index], started, wait, run, why)) {
      finished(index, &run);
    } else {
      say("run " + std::to_string(index + 1) + ": " + why);
      finished(index, nullptr);
    }
  }
}

}  // namespace

int runOne(const Options& o, const RunPlan& plan, const Outputs& out) {
  Run run;
  std::string why;
  if (o.lockstep) {
    if (!runLockstep(plan, run, why)) {
      say(why);
      return runFailed;
    }
  } else if (const int status = realTime(plan, run); status != runsDone) {
    return status;
  }
  const bool written = report(run, out);
  (void)std::fputs(summaryText(run).c_str(), stdout);
  return written ? runsDone : runFailed;
}

int runSweep(const Options& o, const std::vector<RunPlan>& plans, const std::string& dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) {
    say("cannot make " + dir + ": " + error.message());
    return refusedStatus;
  }
  std::vector<SweepRow> rows(plans.size());
  for (size_t i = 0; i < plans.size(); ++i) rows[i].scenario = plans[i].scenario;
  std::vector<bool> ended(plans.size());
  size_t told = 0;  // runs told so far, in order whatever order they end in
  int status = runsDone;
  const auto finished = [&](size_t i, Run* run) {
    ended[i] = true;
    if (run == nullptr && status == runsDone) status = runFailed;
    if (run != nullptr) {
      const Outputs out{numbered(dir, i, ".csv"), numbered(dir, i, ".png"),
                        numbered(dir, i, ".json")};
      if (!report(*run, out)) status = runFailed;
      rows[i] = {run->scenario, true, run->band, run->measures,
                 std::filesystem::path(out.picture).filename().string()};
    }
    for (; told < rows.size() && ended[told]; ++told)
      (void)std::fputs(runLine(told, rows).c_str(), stdout);
    (void)std::fflush(stdout);
  };
  if (o.lockstep) {
    lockstepRuns(plans, static_cast<size_t>(o.jobs), finished);
  } else {
    // Real-time runs take the machine's full attention, so they go one at a time.
    for (size_t i = 0; i < plans.size(); ++i) {
      Run run;
      const int end = realTime(plans[i], run);
      finished(i, end == runsDone ? &run : nullptr);
      if (end != runsDone) status = end;
    }
  }
  std::string why;
  if (!writeSweepTables(rows, dir, why)) {
    say(why);
    status = runFailed;
  }
  (void)std::printf(
      "\nEach settings line over the places of the ball, best first (%s/summary.md;\n"
      "every run in %s/table.md):\n\n%s",
      dir.c_str(), dir.c_str(), settingsSummary(rows).c_str());
  return status;
}

}  // namespace robot
