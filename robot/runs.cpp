#include "robot/runs.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include "robot/measures.h"
#include "robot/picture.h"
#include "robot/realtime.h"
#include "robot/report.h"
#include "robot/sweep_chart.h"
#include "robot/sweep_report.h"

namespace robot {
namespace {

void say(const std::string& what) {
  (void)std::fprintf(stderr, "virtual-robot: %s\n", what.c_str());
}

// `done`, after saying `why` when it is false.
bool checked(bool done, const std::string& why) {
  if (!done) say(why);
  return done;
}

// Measures the run and writes its files; false when a file could not be written.
bool report(Run& run, const Outputs& out) {
  run.measures = measure(run);
  std::string why;
  bool written = checked(out.trace.empty() || writeTrace(run, out.trace, why), why);
  written = checked(out.picture.empty() || drawPicture(run, out.picture, why), why) && written;
  return checked(out.json.empty() || saved(out.json, summaryJson(run).dump(2) + "\n", why), why) &&
         written;
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

// Lockstep runs, `jobs` at a time on threads of their own, each handed to `finished` in the
// plans' order as soon as it and those before it have ended (nullptr: it failed).
void lockstepRuns(const std::vector<RunPlan>& plans, size_t jobs,
                  const std::function<void(size_t, Run*)>& finished) {
  struct Outcome {
    bool ok = false;
    Run run;
    std::string why;
  };
  std::vector<std::promise<Outcome>> outcomes(plans.size());
  std::vector<std::future<Outcome>> ended;
  ended.reserve(plans.size());
  for (std::promise<Outcome>& outcome : outcomes) ended.push_back(outcome.get_future());
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i = next++; i < plans.size(); i = next++) {
      Outcome o;
      o.ok = runLockstep(plans[i], o.run, o.why);
      outcomes[i].set_value(std::move(o));
    }
  };
  std::vector<std::jthread> workers;
  for (size_t j = 0; j < std::min(jobs, plans.size()); ++j) workers.emplace_back(work);
  for (size_t i = 0; i < plans.size(); ++i) {
    Outcome o = ended[i].get();
    if (!o.ok) say("run " + std::to_string(i + 1) + ": " + o.why);
    finished(i, o.ok ? &o.run : nullptr);
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
  int status = runsDone;
  // Each run is handed over in the plans' order, and told then.
  const auto finished = [&](size_t i, Run* run) {
    if (run == nullptr && status == runsDone) status = runFailed;
    if (run != nullptr) {
      const Outputs out{numbered(dir, i, ".csv"), numbered(dir, i, ".png"),
                        numbered(dir, i, ".json")};
      if (!report(*run, out)) status = runFailed;
      rows[i] = {run->scenario, true, run->band, run->measures,
                 std::filesystem::path(out.picture).filename().string()};
    }
    (void)std::fputs(runLine(i, rows).c_str(), stdout);
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
  if (!checked(writeSweepTables(rows, dir, why), why)) status = runFailed;
  if (!checked(drawSweepChart(rows, o.lockstep, dir + "/chart.png", why), why)) status = runFailed;
  (void)std::printf(
      "\nEach settings line over the places of the ball and the seeds, best first\n"
      "(%s/summary.md; every run in %s/table.md):\n\n%s",
      dir.c_str(), dir.c_str(), settingsSummary(rows).c_str());
  return status;
}

}  // namespace robot
