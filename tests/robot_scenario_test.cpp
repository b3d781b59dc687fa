// virtual-robot's scenario files (refusals with their line, sweeps and their order), the
// measures taken from a run and what is told of them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "robot/measures.h"
#include "robot/report.h"
#include "robot/scenario.h"
#include "robot/scenario_keys.h"
#include "robot/sweep_report.h"

namespace {

// A fresh folder for each test's files.
std::string folder() {
  std::string path = testing::TempDir() + "robot_scenario_XXXXXX";
  if (mkdtemp(path.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  return path;
}

std::string saved(const std::string& dir, const std::string& name, const std::string& text) {
  std::string path = dir + "/" + name;
  std::ofstream(path) << text;
  return path;
}

struct Refusal {
  const char* file;
  const char* told;  // after "FILE:"
};

TEST(RobotScenario, RefusesAFaultyFileWithTheFaultsLine) {
  const Refusal refusals[] = {
      {"[robot]\nwheel_base = 0.2\n", "2: unknown key robot.wheel_base; [robot] has wheel_base_m,"},
      {"\n[motor]\n", "2: unknown section [motor]"},
      {"duration_s = 3\n", "1: duration_s belongs in [run]"},
      {"[camera]\n\nframe_rate_hz = \"30\"\n",
       "3: camera.frame_rate_hz must be a number, not a string"},
      {"[robot]\ndead_band_duty = 30.5\n",
       "2: robot.dead_band_duty must be a whole number, not 30.5"},
      {"[robot]\ntop_speed_m_per_s = -0.3\n", "2: robot.top_speed_m_per_s must be above 0, not"},
      {"[camera]\nframe_rate_hz = 0\n", "2: camera.frame_rate_hz must be above 0, at most 1000"},
      {"[run]\nstep_s = 0.002\n", "2: run.step_s must be above 0, at most 0.001, not 0.002"},
      {"[camera]\nout_of_view = \"hide\"\n",
       "2: camera.out_of_view must be \"keep\", \"remove\", \"search-left\" or"},
      {"[run]\nfirmware = \"nowhere.elf\"\n", "2: run.firmware: no image at "},
      {"[camera]\nnoise_sd_px = -1\n", "2: camera.noise_sd_px must be 0 or more, not -1"},
      {"[camera]\nmissed_share = 1.5\n", "2: camera.missed_share must be from 0 to 1, not 1.5"},
      {"[camera]\nfalse_ball_share = -0.1\n", "2: camera.false_ball_share must be from 0 to 1"},
      {"[run]\nseed = 2.5\n", "2: run.seed must be a whole number, not 2.5"},
      {"[run]\nseed = -1\n", "2: run.seed must be from 0 to 999999, not -1"},
      {"[field]\nball_bearing_deg = [0,\n  200]\n", "3: field.ball_bearing_deg must be from -180"},
      {"[field]\nball_bearing_deg = []\n", "2: ball_bearing_deg lists no value"},
      {"[[camera]]\nframe_rate_hz = [30, 10]\n", "2: frame_rate_hz: a section listed as several"},
      {"[[camera]]\nlens = 1\n", "2: unknown key camera.lens"},
      {"[robot]\nlag_s = 0.1\n[run\n", "3: "},
      {"[steer]\nband = 400\n", "2: steer.band must be from 0 to 320, not 400"},
      {"[steer]\nturn_power = [12, 12.5]\n", "2: steer.turn_power must be a whole number"},
      {"[steer]\nstale_after_ms = 0\n", "2: steer.stale_after_ms must be 1 or more, not 0"},
  };
  const std::string dir = folder();
  for (const Refusal& refusal : refusals) {
    const std::string path = saved(dir, "bad.toml", refusal.file);
    std::vector<robot::Scenario> runs;
    std::string why;
    EXPECT_FALSE(robot::loadScenarios(path, runs, why)) << refusal.file;
    EXPECT_EQ(why.rfind(path + ":" + refusal.told, 0), 0U) << why;
    EXPECT_TRUE(runs.empty());
  }
}

// Keys and sections listed in one order in the file and another alphabetically.
const char* const kSweep = R"(
[field]
ball_bearing_deg = [0, 45]
goal_right_m = 0.2
[robot]
top_speed_m_per_s = [0.3, 0.8]
[[camera]]
frame_rate_hz = 30
latency_s = 0.05
[[camera]]
frame_rate_hz = 10
latency_s = 0.12
[run]
firmware = "images/board.elf"
[steer]
options = " --band 40  --turn-power 25"
)";

TEST(RobotScenario, ASweepRunsEveryCombinationTheLastListedFastest) {
  const std::string dir = folder();
  std::filesystem::create_directory(dir + "/images");
  (void)saved(dir + "/images", "board.elf", "");
  std::vector<robot::Scenario> runs;
  std::string why;
  ASSERT_TRUE(robot::loadScenarios(saved(dir, "sweep.toml", kSweep), runs, why)) << why;
  std::vector<std::string> labels(runs.size());
  for (size_t i = 0; i < runs.size(); ++i) labels[i] = runs[i].label;
  const std::vector<std::string> expected = {
      "ball_bearing_deg=0 top_speed_m_per_s=0.3 camera=30Hz+50ms",
      "ball_bearing_deg=0 top_speed_m_per_s=0.3 camera=10Hz+120ms",
      "ball_bearing_deg=0 top_speed_m_per_s=0.8 camera=30Hz+50ms",
      "ball_bearing_deg=0 top_speed_m_per_s=0.8 camera=10Hz+120ms",
      "ball_bearing_deg=45 top_speed_m_per_s=0.3 camera=30Hz+50ms",
      "ball_bearing_deg=45 top_speed_m_per_s=0.3 camera=10Hz+120ms",
      "ball_bearing_deg=45 top_speed_m_per_s=0.8 camera=30Hz+50ms",
      "ball_bearing_deg=45 top_speed_m_per_s=0.8 camera=10Hz+120ms",
  };
  EXPECT_EQ(labels, expected);
  const robot::Scenario& last = runs.back();
  EXPECT_EQ(last.name, "sweep");
  EXPECT_EQ(last.field.ballBearingDeg, 45);
  EXPECT_EQ(last.robot.topSpeedMPerS, 0.8);
  EXPECT_EQ(last.camera.frameRateHz, 10);
  EXPECT_EQ(last.camera.latencyS, 0.12);
  EXPECT_EQ(last.field.goalCentreM, -0.2);  // right of the start: y is negative
  EXPECT_EQ(robot::scenarioJson(last)["field"]["goal_right_m"], 0.2);
  EXPECT_EQ(last.run.firmware, dir + "/images/board.elf");
  EXPECT_EQ(last.steer.options, (std::vector<std::string>{"--band", "40", "--turn-power", "25"}));
}

// out_of_view's names; a sweep of 100 x 100 runs is taken, one of 100 x 101 refused.
TEST(RobotScenario, SearchSidesByNameAndASweepsSizeLimit) {
  const std::string dir = folder();
  std::vector<robot::Scenario> runs;
  std::string why;
  for (const auto& [name, side] : {std::pair{"search-left", robot::OutOfView::searchLeft},
                                   std::pair{"search-right", robot::OutOfView::searchRight}}) {
    const std::string file = "[camera]\nout_of_view = \"" + std::string(name) + "\"\n";
    ASSERT_TRUE(robot::loadScenarios(saved(dir, "side.toml", file), runs, why)) << why;
    EXPECT_EQ(runs.at(0).camera.outOfView, side) << name;
  }
  std::string hundred = "[1";
  for (int i = 2; i <= 100; ++i) hundred += "," + std::to_string(i);
  const std::string file = "[field]\nball_distance_m = " + hundred + "]\nball_radius_m = ";
  ASSERT_TRUE(robot::loadScenarios(saved(dir, "most.toml", file + hundred + "]\n"), runs, why));
  EXPECT_EQ(runs.size(), 10000U);
  const std::string path = saved(dir, "more.toml", file + hundred + ",101]\n");
  EXPECT_FALSE(robot::loadScenarios(path, runs, why));
  EXPECT_EQ(why, path + ": more than 10000 runs; list fewer values");
}

// A list of seeds repeats a run with other errors; the camera's errors say their units.
TEST(RobotScenario, ASweepOverSeedsAndCamerasWithErrors) {
  const std::string dir = folder();
  const std::string file = R"(
[[camera]]
noise_sd_px = 2
missed_share = 0.05
false_ball_share = 0.01
[[camera]]
[run]
seed = [3, 4]
)";
  std::vector<robot::Scenario> runs;
  std::string why;
  ASSERT_TRUE(robot::loadScenarios(saved(dir, "seeds.toml", file), runs, why)) << why;
  ASSERT_EQ(runs.size(), 4U);
  EXPECT_EQ(runs[0].label, "camera=2px+missed5%+false_ball1% seed=3");  // the file's order
  // A sweep's summary takes each camera over the seeds, as over the places of the ball.
  ASSERT_EQ(runs[0].varied.size(), 2U);
  EXPECT_FALSE(runs[0].varied[0].situation);
  EXPECT_TRUE(runs[0].varied[1].situation);
  EXPECT_EQ(runs[3].label, "camera=defaults seed=4");
  EXPECT_EQ(runs[1].run.seed, 4);
  EXPECT_EQ(runs[1].camera.missedShare, 0.05);
  EXPECT_EQ(runs[3].camera.noiseSdPx, 0);
}

TEST(RobotScenario, TheExamplesSpellOutTheDefaultsAndTheGrid) {
  std::vector<robot::Scenario> runs;
  std::string why;
  ASSERT_TRUE(robot::loadScenarios(EXAMPLES_DIR "/scenarios/ball-ahead.toml", runs, why)) << why;
  robot::Scenario defaults;
  defaults.name = "ball-ahead";
  EXPECT_EQ(robot::scenarioJson(runs.at(0)), robot::scenarioJson(defaults));
  ASSERT_TRUE(robot::loadScenarios(EXAMPLES_DIR "/scenarios/grid.toml", runs, why)) << why;
  ASSERT_EQ(runs.size(), 20U);
  EXPECT_EQ(runs[1].label,
            "ball_bearing_deg=0 top_speed_m_per_s=0.3 camera=10Hz+120ms+search-right");
  EXPECT_EQ(runs[19].label,
            "ball_bearing_deg=150 top_speed_m_per_s=0.8 camera=10Hz+120ms+search-right");
  std::vector<std::string> warnings;
  ASSERT_TRUE(robot::loadScenarios(EXAMPLES_DIR "/scenarios/settings.toml", runs, why, &warnings))
      << why;
  EXPECT_EQ(runs.size(), 45U);
  EXPECT_EQ(runs[44].label, "ball_bearing_deg=150 band=100 turn_power=50");
  EXPECT_EQ(warnings, std::vector<std::string>{});
}

// Values in range but unusual for their unit are told with their line, and still read.
TEST(RobotScenario, WarnsOfUnusualValuesNamingKeyValueAndUnit) {
  const Refusal cases[] = {
      {"[camera]\nlatency_s = 50\n", "2: warning: camera.latency_s = 50 s is unusual"},
      {"[robot]\n\nwheel_base_m = 15\n", "3: warning: robot.wheel_base_m = 15 m is unusual"},
      {"[camera]\nfield_of_view_deg = 1.08\n",
       "2: warning: camera.field_of_view_deg = 1.08 degrees is unusual"},
      {"[steer]\nstale_after_ms = [1000, 1]\n",
       "2: warning: steer.stale_after_ms = 1 ms is unusual"},
      {"[camera]\nlatency_s = 0.05\nfield_of_view_deg = 62.2\n[robot]\nwheel_base_m = 0.15\n", ""},
  };
  const std::string dir = folder();
  for (const Refusal& c : cases) {
    const std::string path = saved(dir, "odd.toml", c.file);
    std::vector<robot::Scenario> runs;
    std::vector<std::string> warnings;
    std::string why;
    EXPECT_TRUE(robot::loadScenarios(path, runs, why, &warnings)) << why;
    EXPECT_FALSE(runs.empty());
    const std::string expected = *c.told == '\0' ? "" : path + ":" + c.told;
    ASSERT_EQ(warnings.size(), expected.empty() ? 0U : 1U) << c.file;
    for (const std::string& warning : warnings)
      EXPECT_EQ(warning.rfind(expected, 0), 0U) << warning;
  }
}

// Each varied setting in the label with its unit, in a column of its own, and marked when it is
// a place of the ball rather than a setting; steer's keys become its options before the others.
TEST(RobotScenario, VariedSettingsCarryTheirUnitsAndSteersKeysBecomeOptions) {
  const std::string dir = folder();
  const std::string path = saved(dir, "steer.toml", R"(
[[robot]]
top_speed_m_per_s = 0.3
[[robot]]
top_speed_m_per_s = 0.8
lag_s = 0.12
[field]
ball_bearing_deg = [0, 45]
[steer]
band = [50, 100]
turn_power = 12
options = "--stale-after 500"
)");
  std::vector<robot::Scenario> runs;
  std::string why;
  ASSERT_TRUE(robot::loadScenarios(path, runs, why)) << why;
  ASSERT_EQ(runs.size(), 8U);
  EXPECT_EQ(runs[7].label, "robot=0.8m/s+120ms ball_bearing_deg=45 band=100");
  std::vector<std::string> columns;
  for (const robot::Varied& v : runs[7].varied)
    columns.push_back(v.setting + "=" + v.value + (v.situation ? " (situation)" : ""));
  EXPECT_EQ(columns, (std::vector<std::string>{"robot=0.8m/s+120ms",
                                               "ball_bearing_deg=45 (situation)", "band=100"}));
  EXPECT_EQ(
      robot::steerArguments(runs[1].steer),
      (std::vector<std::string>{"--band", "100", "--turn-power", "12", "--stale-after", "500"}));
  EXPECT_EQ(robot::steerArguments(robot::SteerSettings{}), std::vector<std::string>{});
  const nlohmann::json steer = robot::scenarioJson(runs[1])["steer"];
  EXPECT_EQ(steer["band"], 100);
  EXPECT_TRUE(steer["drive_power"].is_null()) << steer;  // steer's default
}

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// 13 ms: the ball enters the band (an edge column) at 4 ms, leaves it twice (once as b.txt is
// removed), and crosses the goal line between the posts at 5 ms.
robot::Run handMade() {
  robot::Run run;
  run.scenario.run.durationS = 0.011;  // the last sample, after it, is out of the band measures
  const double us[] = {kNone, kNone, 400, 331, 330, 315, kNone, 310, 320, 330.5, 331, 320, 330.5};
  for (size_t i = 0; i < std::size(us); ++i) {
    robot::Sample sample;
    sample.t = static_cast<double>(i) * 0.001;
    sample.u = us[i];
    sample.x = 1.7;
    sample.goalColumn = 412.25;
    sample.ballX = i < 5 ? 1.9 : 2.1;
    sample.ballY = 0.3 * static_cast<double>(i) / 12;
    run.samples.push_back(sample);
  }
  run.events = {{0.0005, 1, 50}, {0.0035, 5, 100}, {0.006, 5, 100}, {0.0125, 0, 0}};
  return run;
}

TEST(RobotMeasures, AHandMadeRun) {
  const robot::Measures m = robot::measure(handMade());
  EXPECT_EQ(m.firstInBandS, 0.004);
  EXPECT_EQ(m.bandExits, 2);
  EXPECT_EQ(m.shareInBand, 5.0 / 8);
  EXPECT_EQ(m.firstAlignedS, 0.0035);
  EXPECT_EQ(std::vector<int>(std::begin(m.frames), std::end(m.frames)),
            (std::vector<int>{1, 1, 0, 0, 0, 2}));
  EXPECT_TRUE(m.scored);
  EXPECT_EQ(m.scoredS, 0.005);
  EXPECT_DOUBLE_EQ(m.finalBallDistanceM, 0.5);  // from (1.7, 0) to (2.1, 0.3)

  // Each frame in the row of the first sample at or after it; the stop, after the end, last.
  const std::string path = folder() + "/trace.csv";
  std::string why;
  ASSERT_TRUE(robot::writeTrace(handMade(), path, why)) << why;
  std::ifstream in(path);
  std::vector<std::string> rows;
  for (std::string row; std::getline(in, row);) rows.push_back(row);
  ASSERT_EQ(rows.size(), 14U);
  EXPECT_EQ(rows[2].substr(rows[2].size() - 5), ",1,50");
  EXPECT_EQ(rows[5],
            "0.004,1.7000,0.0000,0.0000,0.0000,0.0000,1.9000,0.1000,330.00,412.25,0,0,5,100");
  EXPECT_EQ(rows[7], "0.006,1.7000,0.0000,0.0000,0.0000,0.0000,2.1000,0.1500,,412.25,0,0,5,100");
  EXPECT_EQ(rows[12].substr(rows[12].size() - 5), "0,0,,");
  EXPECT_EQ(rows[13].substr(rows[13].size() - 4), ",0,0");
}

// Every report tells the measures from their one definition, what the robot achieved first.
TEST(RobotMeasures, ReportsLeadWithWhatTheRobotAchieved) {
  robot::Run run = handMade();
  run.measures = robot::measure(run);
  std::vector<std::string> keys;
  for (const robot::MeasureDefinition& measure : robot::measureDefinitions())
    keys.emplace_back(measure.key);
  EXPECT_EQ(std::vector<std::string>(keys.begin(), keys.begin() + 4),
            (std::vector<std::string>{"scored", "time_to_goal_s", "final_ball_distance_m",
                                      "first_in_band_s"}));
  const nlohmann::json json = robot::summaryJson(run)["measures"];
  EXPECT_EQ(json.size(), keys.size());
  EXPECT_EQ(json["scored"], true);
  EXPECT_EQ(json["time_to_goal_s"], 0.005);
  EXPECT_EQ(json["frames_code_5"], 2);
  EXPECT_TRUE(robot::summaryJson(robot::Run{})["measures"]["time_to_goal_s"].is_null());

  std::string text = robot::summaryText(run);
  EXPECT_NE(text.find("columns\n  clock   lockstep"), std::string::npos) << text;
  run.realTime = true;
  text = robot::summaryText(run);
  EXPECT_NE(text.find("columns\n  clock   real time"), std::string::npos) << text;
  EXPECT_EQ(robot::summaryJson(run)["clock"], "real time");
  EXPECT_NE(text.find("\n  goal    scored yes, time to goal 0.005 s, ball at end 0.500 m\n"
                      "  band    first in band 0.004 s, band exits 2, in band after 62.5%\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.back(), '\n');
  // A share is not rounded away: 0.6% stays 0.6%, not 1%.
  robot::Measures m;
  m.firstInBandS = 1;
  m.shareInBand = 0.006;
  EXPECT_EQ(robot::headline(m, " · "),
            "scored no · time to goal never · ball at end 0.000 m · first in band 1.000 s · "
            "in band after 0.6%");
}

// A sweep of two settings lines, each over three bearings, one run of which failed: a line per
// run, and the lines ranked by goals over the runs done; a run that never scored or never entered
// the band counts as the worst in a median.
TEST(RobotSweepReport, SummarisesEachSettingsLineOverTheBallsPlaces) {
  std::vector<robot::SweepRow> rows;
  const double goals[2][3] = {{-1, -1, 4.5}, {2.0, 3.0, 9.0}};  // -1: not scored
  for (int band : {10, 100}) {
    for (int bearing = 0; bearing < 3; ++bearing) {
      robot::SweepRow row;
      row.scenario.varied = {{"band", std::to_string(band), false},
                             {"ball_bearing_deg", std::to_string(bearing * 45), true}};
      row.scenario.label = "band=" + std::to_string(band);
      row.done = !(band == 100 && bearing == 2);
      row.measures.scoredS = goals[band == 100 ? 1 : 0][bearing];
      row.measures.scored = row.measures.scoredS >= 0;
      row.measures.finalBallDistanceM = 0.1 * (bearing + 1);
      rows.push_back(row);
    }
  }
  EXPECT_EQ(robot::runLine(5, rows), "run 6 of 6 (band=100): failed\n");
  EXPECT_EQ(robot::runLine(0, rows).substr(0, 50),
            "run 1 of 6 (band=10): scored no, time to goal neve");
  EXPECT_EQ(robot::settingsSummary(rows),
            "| band | runs | scored | median time to goal (s) | median ball at end (m) | "
            "median first in band (s) | median in band after |\n"
            "| --- | --: | --: | --: | --: | --: | --: |\n"
            "| 100 | 3 | 2 of 2 | 2.500 | 0.150 | never | 0.0% |\n"
            "| 10 | 3 | 1 of 3 | never | 0.200 | never | 0.0% |\n");

  const std::string dir = folder();
  std::string why;
  ASSERT_TRUE(robot::writeSweepTables(rows, dir, why)) << why;
  std::ifstream table(dir + "/table.md");
  std::string head;
  std::getline(table, head);
  EXPECT_EQ(head.rfind("| run | band | ball_bearing_deg | scored | time to goal (s) |", 0), 0U)
      << head;
  std::ifstream summary(dir + "/summary.csv");
  std::vector<std::string> lines;
  for (std::string line; std::getline(summary, line);) lines.push_back(line);
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "band,runs,runs_done,share_scored,median_time_to_goal_s,"
                "median_final_ball_distance_m,median_first_in_band_s,median_share_in_band",
                "\"100\",3,2,1.0000,2.500,0.1500,,0.0000", "\"10\",3,3,0.3333,,0.2000,,0.0000"}));
}

struct Shot {
  std::vector<double> xs, ys;
  double scoredS;  // -1: no goal
};

TEST(RobotMeasures, AGoalIsTheBallCrossingTheLineForwardsBetweenThePosts) {
  const Shot shots[] = {
      {{1.9, 2.1}, {0.29, 0.29}, 0.001},                // just inside the left post
      {{1.9, 2.1}, {-0.31, -0.31}, -1},                 // wide of the right post
      {{2.1, 1.9, 2.1}, {0.4, 0, 0}, 0.002},            // back over the line, then in
      {{1.9, 2.1, 1.9, 2.1}, {0.5, 0.5, 0, 0}, 0.003},  // wide first, then in
  };
  for (const Shot& shot : shots) {
    robot::Run run;  // the goal: line at x = 2, posts at y = -0.3 and 0.3
    for (size_t i = 0; i < shot.xs.size(); ++i) {
      robot::Sample sample;
      sample.t = static_cast<double>(i) * 0.001;
      sample.ballX = shot.xs[i];
      sample.ballY = shot.ys[i];
      run.samples.push_back(sample);
    }
    const robot::Measures m = robot::measure(run);
    EXPECT_EQ(m.scored, shot.scoredS >= 0) << shot.scoredS;
    EXPECT_EQ(m.scoredS, shot.scoredS);
  }
}

}  // namespace
