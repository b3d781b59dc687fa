#include "robot/runs.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "robot/measures.h"
#include "robot/picture.h"
#include "robot/realtime.h"
#include "robot/report.h"
#include "robot/sweep_chart.h"

namespace robot {
namespace {

void say(const std::string& what) {
  (void)std::fprintf(stderr, "virtual-robot: %s\n", what.c_str());
}

// Measures the run, tells it and writes its files; false when a file could not be written.
bool report(Run& run, const Outputs& out) {
  run.measures = measure(run);
  const std::string text = summaryText(run);
  (void)std::fputs(text.c_str(), stdout);
  (void)std::fflush(stdout);
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
  if (!out.json.empty()) {
    std::ofstream file(out.json);
    file << summaryJson(run).dump(2) << '\n';
    if (!file.good()) {
      say("cannot write " + out.json);
      written = false;
    }
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

// Lockstep runs, `jobs` at a time on threads of their own, each handed to `finished` in the
// plans' order as soon as it and those before it have ended; false when one failed.
bool lockstepRuns(const std::vector<RunPlan>& plans, size_t jobs,
                  const std::function<void(size_t, Run&)>& finished) {
  struct Outcome {
    bool ended = false;
    bool ok = false;
    Run run;
    std::string why;
  };
  std::vector<Outcome> outcomes(plans.size());
  std::mutex lock;
  std::condition_variable ended;
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i = next++; i < plans.size(); i = next++) {
      Outcome o;
      o.ok = runLockstep(plans[i], o.run, o.why);
      o.ended = true;
      const std::lock_guard<std::mutex> hold(lock);
      outcomes[i] = std::move(o);
      ended.notify_one();
    }
  };
  std::vector<std::thread> workers;
  for (size_t j = 0; j < std::min(jobs, plans.size()); ++j) workers.emplace_back(work);
  bool all = true;
  for (size_t i = 0; i < plans.size(); ++i) {
    std::unique_lock<std::mutex> hold(lock);
    ended.wait(hold, [&] { return outcomes[i].ended; });
    Outcome o = std::move(outcomes[i]);
    hold.unlock();
    if (o.ok) {
      finished(i, o.run);
    } else {
      say("run " + std::to_string(i + 1) + ": " + o.why);
      all = false;
    }
  }
  for (std::thread& w : workers) w.join();
  return all;
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
  return report(run, out) ? runsDone : runFailed;
}

int runSweep(const Options& o, const std::vector<RunPlan>& plans, const std::string& dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) {
    say("cannot make " + dir + ": " + error.message());
    return refusedStatus;
  }
  std::vector<SweepRow> rows(plans.size());
  for (size_t i = 0; i < plans.size(); ++i) rows[i].scenario = plans[i].scenario;  // failed too
  int status = runsDone;
  const auto finished = [&](size_t i, Run& run) {
    (void)std::printf("run %zu of %zu: %s\n", i + 1, plans.size(), plans[i].scenario.label.c_str());
    const Outputs out{numbered(dir, i, ".csv"), numbered(dir, i, ".png"),
                      numbered(dir, i, ".json")};
    if (!report(run, out)) status = runFailed;
    rows[i] = {run.scenario, run.band, run.measures,
               std::filesystem::path(out.picture).filename().string()};
  };
  if (o.lockstep) {
    if (!lockstepRuns(plans, static_cast<size_t>(o.jobs), finished)) status = runFailed;
  } else {
    // Real-time runs take the machine's full attention, so they go one at a time.
    for (size_t i = 0; i < plans.size(); ++i) {
      Run run;
      const int ended = realTime(plans[i], run);
      if (ended == runsDone) finished(i, run);
      if (ended != runsDone) status = ended;
    }
  }
  std::string why;
  if (!writeSweepTables(rows, dir, why)) {
    say(why);
    status = runFailed;
  }
  if (!drawSweepChart(rows, o.lockstep, dir + "/chart.png", why)) {
    say(why);
    status = runFailed;
  }
  return status;
}

}  // namespace robot
