// virtual-robot's simulation, deterministic on its simulated clock: the camera and steer's answer
// to it, the firmware's codes turning the robot, a ball driven into the goal, lockstep runs that
// repeat exactly, and one real-time run of the real steer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string_view>

#include "robot/command_line.h"
#include "robot/engine.h"
#include "robot/lockstep.h"
#include "robot/measures.h"
#include "robot/realtime.h"
#include "steer/position_files.h"
#include "tests/folder.h"

namespace {

namespace fs = std::filesystem;
using robot::Nanos;
constexpr double degrees = std::numbers::pi / 180;

std::string contents(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Where the ball's centre crossed the goal line between the posts; -1 when it never did.
double scoredAt(const robot::Run& run) {
  const robot::FieldSettings& f = run.scenario.field;
  for (const robot::Sample& s : run.samples) {
    if (s.ballX >= f.goalDistanceM && std::abs(s.ballY - f.goalCentreM) <= f.goalWidthM / 2) {
      return s.t;
    }
  }
  return -1;
}

// The camera sees the ball at `bearing` (degrees right of its axis) and the goal straight ahead;
// the producer writes both files, and steer reads them and decides as its program does.
struct CameraCase {
  const char* what;
  double bearingDeg;
  int code;
};

void PrintTo(const CameraCase& c, std::ostream* os) { *os << c.what; }

class CameraAndSteer : public testing::TestWithParam<CameraCase> {};

TEST_P(CameraAndSteer, PutsTheBallWhereThePinholeModelSaysAndSteerAnswers) {
  const CameraCase c = GetParam();
  robot::Scenario s;
  s.robot.radiusM = 0;  // the camera at the robot's centre, where the bearing is taken
  s.field.ballBearingDeg = c.bearingDeg;
  const robot::World world(s);
  Folder folder;
  robot::Producer producer(s, folder.path);
  producer.take(world);
  std::string why;
  ASSERT_TRUE(producer.write(producer.nextWrite(), why)) << why;

  const double f = 320 / std::tan(s.camera.fieldOfViewDeg / 2 * degrees);
  EXPECT_NEAR(producer.u(), 320 + f * std::tan(c.bearingDeg * degrees), 0.05) << c.what;
  EXPECT_DOUBLE_EQ(producer.goalColumn(), 320) << c.what;
  steer::PositionFiles files(folder.path);
  steer::Positions seen;
  seen.goalRead = files.readGoalPoints(seen.m).values == 8;
  seen.objectRead = files.readObjectPosition(seen.b).values == 2;
  const steer::Command command = steer::decide(steer::Settings{}, seen).command;
  EXPECT_EQ(command.nap, c.code) << c.what << ": u = " << producer.u();
}

// The band is 10 columns either side of 320, its edges included.
const double bandEdgeDeg = std::atan(10 / (320 / std::tan(31.1 * degrees))) / degrees;

INSTANTIATE_TEST_SUITE_P(
    Bearings, CameraAndSteer,
    testing::Values(CameraCase{"20 degrees right: spin right", 20, 1},
                    CameraCase{"20 degrees left: spin left", -20, 2},
                    CameraCase{"at the band's right edge: aligned", bandEdgeDeg, 5},
                    CameraCase{"just past the band's right edge", bandEdgeDeg + 0.05, 1},
                    CameraCase{"just past the band's left edge", -bandEdgeDeg - 0.05, 2}));

// A ball that leaves the picture: the producer keeps b.txt or removes it as the scenario says,
// and the u last written stays the sample's; a goal behind the camera leaves t.txt alone.
TEST(Producer, BallOutOfViewKeepsOrRemovesBTxt) {
  for (const robot::OutOfView out : {robot::OutOfView::keep, robot::OutOfView::remove}) {
    robot::Scenario s;
    s.camera.outOfView = out;
    const robot::World ahead(s);
    robot::World away(s);
    while (away.pose().heading < 2) away.step(-255, 255);  // ball and goal behind it now
    Folder folder;
    robot::Producer producer(s, folder.path);
    std::string why;
    producer.take(ahead);
    ASSERT_TRUE(producer.write(producer.nextWrite(), why)) << why;
    const std::string goal = contents(folder.path + "/t.txt");
    producer.take(away);
    ASSERT_TRUE(producer.write(producer.nextWrite(), why)) << why;
    EXPECT_EQ(fs::exists(folder.path + "/b.txt"), out == robot::OutOfView::keep);
    EXPECT_DOUBLE_EQ(producer.u(), 320);
    EXPECT_EQ(contents(folder.path + "/t.txt"), goal);
  }
}

// The robot drives straight into a ball; the ball scores only between the posts.
TEST(World, PushedBallScoresOnlyBetweenThePosts) {
  for (const double goalCentre : {0.0, 0.35, -0.35}) {
    robot::Run run;
    const robot::FieldSettings& f = run.scenario.field;
    run.scenario.field.goalCentreM = goalCentre;
    robot::World world(run.scenario);
    while (world.time() < 8) {
      world.step(255, 255);
      robot::Sample& s = run.samples.emplace_back();
      s.t = world.time();
      s.ballX = world.ballX();
      s.ballY = world.ballY();
    }
    const bool between = std::abs(goalCentre) < f.goalWidthM / 2;
    EXPECT_EQ(robot::measure(run).scored, between) << "goal centred at y = " << goalCentre;
    EXPECT_GT(world.ballX(), f.goalDistanceM - 0.01) << "the ball was pushed to the line";
  }
}

// With no lag a wheel takes its duty's speed at once: none below the dead band (30), then the
// duty's share of 255 of the top speed (0.3 m/s); with a lag of 50 ms, 1 - 1/e of it after 50 ms.
TEST(World, WheelsAtTheDeadBandAndAboveItAndTheirLag) {
  robot::Scenario s;
  s.robot.lagS = 0;
  const std::pair<int, double> duties[] = {
      {29, 0}, {-29, 0}, {30, 0.035294}, {-200, -0.235294}, {255, 0.3}};
  for (const auto& [duty, speed] : duties) {
    robot::World world(s);
    world.step(duty, 0);
    EXPECT_NEAR(world.leftSpeed(), speed, 1e-6) << "duty " << duty;
  }
  s.robot.lagS = 0.05;
  robot::World lagging(s);
  for (int i = 0; i < 50; ++i) lagging.step(255, 255);
  EXPECT_NEAR(lagging.leftSpeed(), 0.3 * 0.632121, 1e-6);
}

// The robot at 0.3 m/s holds the ball it pushes 0.1 + 0.033 m off; stopped, it leaves the ball
// rolling v^2 / 2a = 0.3^2 / (2 x 0.5) = 0.09 m. A ball 30 degrees right a metre away: y = -0.5.
TEST(World, PushedBallRollsTheDistanceItsSpeedAndDecelerationGive) {
  robot::Scenario s;
  s.robot.lagS = 0;
  s.field.ballDistanceM = 0.5;
  s.field.goalDistanceM = 5;
  robot::World world(s);
  while (world.time() < 1.5) world.step(255, 255);  // contact after (0.5 - 0.133) / 0.3 s
  EXPECT_NEAR(world.ballX() - world.pose().x, 0.133, 1e-9);
  const double stoppedAt = world.ballX();
  while (world.time() < 3) world.step(0, 0);
  EXPECT_NEAR(world.ballX() - stoppedAt, 0.09, 1e-6);
  s.field.ballDistanceM = 1;
  s.field.ballBearingDeg = 30;
  EXPECT_NEAR(robot::World(s).ballY(), -0.5, 1e-12);
}

// A 90 degree camera (focal length 320), 0.1 m up at the front of a body of radius 0.1, 10 frames/s
// and 50 ms late. A ball of radius 0.05 at (0.6, -0.25): 0.5 ahead of the lens, 0.25 right, 0.05
// below. The goal 0.9 ahead, 0.8 wide: its feet 0.8 ahead, 0.4 to either side, its tops 0.2 above.
robot::Scenario cameraScenario(double ballRightM) {
  robot::Scenario s;
  s.camera.fieldOfViewDeg = 90;
  s.camera.frameRateHz = 10;
  s.field.ballRadiusM = 0.05;
  s.field.ballDistanceM = std::hypot(0.6, ballRightM);
  s.field.ballBearingDeg = std::atan2(ballRightM, 0.6) / degrees;
  s.field.goalDistanceM = 0.9;
  s.field.goalWidthM = 0.8;
  return s;
}

TEST(Producer, ColumnsAndRowsFromTheCamerasPlaceOnTheBody) {
  const robot::Scenario s = cameraScenario(0.25);
  Folder folder;
  robot::Producer producer(s, folder.path);
  producer.take(robot::World(s));
  EXPECT_EQ(producer.nextWrite(), 50'000'000);
  EXPECT_EQ(producer.nextTake(), 100'000'000);
  std::string why;
  ASSERT_TRUE(producer.write(49'999'999, why)) << why;
  EXPECT_FALSE(fs::exists(folder.path + "/b.txt")) << "written before the latency";
  ASSERT_TRUE(producer.write(50'000'000, why)) << why;
  EXPECT_EQ(contents(folder.path + "/b.txt"), "(480.0, 272.0)\n");
  EXPECT_EQ(contents(folder.path + "/t.txt"),
            "160.0 160.0\n160.0 280.0\n480.0 160.0\n480.0 280.0\n");
}

// Searching, the producer writes the named side's edge until it has seen the ball, then the edge
// of the side it last saw it on. The ball: behind, then seen on the other side, then behind.
TEST(Producer, SearchesTheSideNamedThenWhereTheBallWasLastSeen) {
  const struct {
    robot::OutOfView out;
    double ballRightM;
    const char *before, *seen, *after;
  } cases[] = {{robot::OutOfView::searchLeft, 0.25, "(0.0, 240.0)\n", "(480.0, 272.0)\n",
                "(639.0, 240.0)\n"},
               {robot::OutOfView::searchRight, -0.25, "(639.0, 240.0)\n", "(160.0, 272.0)\n",
                "(0.0, 240.0)\n"}};
  for (const auto& c : cases) {
    robot::Scenario s = cameraScenario(c.ballRightM);
    s.camera.outOfView = c.out;
    robot::Scenario behind = s;
    behind.field.ballBearingDeg = 180;
    Folder folder;
    robot::Producer producer(s, folder.path);
    std::string why;
    for (const auto& [scenario, told] :
         {std::pair{behind, c.before}, std::pair{s, c.seen}, std::pair{behind, c.after}}) {
      producer.take(robot::World(scenario));
      ASSERT_TRUE(producer.write(producer.nextWrite(), why)) << why;
      EXPECT_EQ(contents(folder.path + "/b.txt"), told) << c.seen;
    }
  }
}

// The command line: steer's options after --, a program named there, and what is refused, also
// for files that could not be written after the run.
struct CommandLineCase {
  std::vector<std::string> args;
  std::string program;                 // when taken
  std::vector<std::string> steerArgs;  // when taken
  std::string refusal;                 // part of the reason; empty when taken
  int jobs = robot::defaultJobs();     // when taken
};

void PrintTo(const CommandLineCase& c, std::ostream* os) {
  for (const std::string& a : c.args) *os << a << ' ';
}

class CommandLine : public testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLine, TakesOrRefuses) {
  const CommandLineCase& c = GetParam();
  robot::Options o;
  std::string why;
  const bool taken = robot::parseOptions(c.args, o, why) && robot::outputsWritable(o, "", why);
  ASSERT_EQ(taken, c.refusal.empty()) << why;
  if (!taken) {
    EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
    return;
  }
  EXPECT_EQ(o.scenario, "s.toml");
  EXPECT_EQ(o.program, c.program);
  EXPECT_EQ(o.steerArgs, c.steerArgs);
  EXPECT_EQ(o.jobs, c.jobs);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLine,
    testing::Values(
        CommandLineCase{{"--lockstep", "--jobs=3", "s.toml", "--", "--band", "40"},
                        "",
                        {"--band", "40"},
                        "",
                        3},
        CommandLineCase{{"s.toml", "--", "./steer", "--turn-power", "25"},
                        "./steer",
                        {"--turn-power", "25"},
                        ""},
        CommandLineCase{{"--keep", "run", "s.toml"}, "", {}, ""},
        CommandLineCase{{"--jobs", "0", "s.toml"}, "", {}, "--jobs takes a whole number"},
        CommandLineCase{{"s.toml", "--keep"}, "", {}, "--keep needs a value"},
        CommandLineCase{{"s.toml", "t.toml"}, "", {}, "one scenario file at a time"},
        CommandLineCase{{"--band", "40", "s.toml"}, "", {}, "unknown option '--band'"},
        CommandLineCase{{"--", "--band", "40"}, "", {}, "no scenario file"},
        CommandLineCase{
            {"--picture", testing::TempDir() + "run.svg", "--json=run.json", "s.toml"}, "", {}, ""},
        CommandLineCase{{"--picture", "run.jpg", "s.toml"}, "", {}, "must end in .png, .svg or"},
        CommandLineCase{{"--json", "/no/such/folder/run.json", "s.toml"},
                        "",
                        {},
                        "--json /no/such/folder/run.json: there is no folder /no/such/folder"},
        CommandLineCase{{"--trace", "/", "s.toml"}, "", {}, "--trace /: it is a folder"}));

// Each code's frame, sent as steer sends it, gives the wheel speeds the firmware's duties and the
// top speed make, and turns the robot at the rate they and the wheel base give.
struct DriveCase {
  int code;
  int power;
  int leftDuty, rightDuty;  // the firmware's code table at that power
};

void PrintTo(const DriveCase& c, std::ostream* os) {
  *os << "code " << c.code << " at power " << c.power;
}

class FirmwareDrives : public testing::TestWithParam<DriveCase> {};

TEST_P(FirmwareDrives, TheRobotAtTheRateItsDutiesGive) {
  const DriveCase c = GetParam();
  robot::Scenario s;
  s.field.ballBearingDeg = 180;  // behind, out of the way
  s.field.ballDistanceM = 5;
  Folder folder;
  std::string why;
  std::unique_ptr<robot::Engine> engine = robot::Engine::load(s, STEER_BOARD_ELF, folder.path, why);
  ASSERT_NE(engine, nullptr) << why;
  const Nanos frameEvery = 20'000'000;
  for (Nanos t = 0; t < 1'000'000'000; t += frameEvery) {
    engine->lineByte(static_cast<std::uint8_t>(c.power), t + robot::lineByteNanos);
    engine->lineByte(static_cast<std::uint8_t>(0x80 | c.code), t + 2 * robot::lineByteNanos);
    ASSERT_TRUE(engine->runTo(t + frameEvery)) << engine->why();
  }
  const robot::Run run = engine->takeRun();
  const robot::Sample& a = run.samples.at(600);  // the lag has settled
  const robot::Sample& b = run.samples.at(900);
  EXPECT_EQ(b.leftDuty, c.leftDuty);
  EXPECT_EQ(b.rightDuty, c.rightDuty);
  // Below the dead band a wheel does not turn.
  const auto speed = [&](int duty) {
    return std::abs(duty) < s.robot.deadBandDuty ? 0 : duty / 255.0 * s.robot.topSpeedMPerS;
  };
  const double left = speed(c.leftDuty);
  const double right = speed(c.rightDuty);
  const double turnRate = (b.heading - a.heading) / (b.t - a.t);
  EXPECT_NEAR(turnRate, (right - left) / s.robot.wheelBaseM, 1e-3) << "code " << c.code;
  const double moved = std::hypot(b.x - a.x, b.y - a.y) / (b.t - a.t);
  const double arc = std::abs(turnRate) * (b.t - a.t);  // a chord, not the arc, for turns
  EXPECT_NEAR(moved, std::abs(left + right) / 2 * (arc > 0.01 ? std::sin(arc / 2) / (arc / 2) : 1),
              1e-3)
      << "code " << c.code;
}

INSTANTIATE_TEST_SUITE_P(Codes, FirmwareDrives,
                         testing::Values(DriveCase{1, 50, 127, -127}, DriveCase{2, 50, -127, 127},
                                         DriveCase{3, 50, 63, 127}, DriveCase{4, 50, 127, 63},
                                         DriveCase{5, 100, 255, 255}, DriveCase{5, 11, 28, 28}));

// At one instant the sample sees the files then written: at 10 frames/s and 50 ms late, the sample
// of 49 ms has no column yet and that of 50 ms the first picture's.
TEST(Engine, TheSampleOfAnInstantSeesTheFilesWrittenThen) {
  robot::Scenario s;
  s.camera.frameRateHz = 10;
  Folder folder;
  std::string why;
  std::unique_ptr<robot::Engine> engine = robot::Engine::load(s, STEER_BOARD_ELF, folder.path, why);
  ASSERT_NE(engine, nullptr) << why;
  ASSERT_TRUE(engine->runTo(60'000'000)) << engine->why();
  const robot::Run run = engine->takeRun();
  EXPECT_TRUE(std::isnan(run.samples.at(49).u));
  EXPECT_DOUBLE_EQ(run.samples.at(50).u, 320);
}

robot::RunPlan aheadPlan(double durationS) {
  robot::RunPlan plan;
  plan.firmware = STEER_BOARD_ELF;
  plan.scenario.run.durationS = durationS;
  return plan;
}

// The ball straight ahead: steer goes straight from its first frame, and the ball scores when the
// robot's top speed says it must: the robot closes on the ball, then pushes it to the line.
TEST(Lockstep, BallAheadIsDrivenIntoTheGoalInTheTimeTheSpeedGives) {
  const robot::RunPlan plan = aheadPlan(7);
  robot::Run run;
  std::string why;
  ASSERT_TRUE(robot::runLockstep(plan, run, why)) << why;
  ASSERT_FALSE(run.events.empty());
  const robot::Scenario& s = plan.scenario;
  for (const robot::LineEvent& e : run.events) {
    if (e.t < s.run.durationS) {
      ASSERT_EQ(e.code, 5) << "at " << e.t << " s";
    }
  }
  const double travel = (s.field.ballDistanceM - s.robot.radiusM - s.field.ballRadiusM) +
                        (s.field.goalDistanceM - s.field.ballDistanceM);
  const double predicted = run.events.front().t + s.robot.lagS + travel / s.robot.topSpeedMPerS;
  EXPECT_NEAR(scoredAt(run), predicted, predicted * 0.05);
  EXPECT_EQ(run.events.back().code, 0) << "the stop at the end";
  EXPECT_EQ(run.samples.back().leftDuty, 0);
  EXPECT_EQ(run.samples.back().rightDuty, 0);
}

// Two runs of one scenario, the ball off to the side so that steer turns and the files change
// often, and the camera erring, record the very same samples and events.
TEST(Lockstep, TwoRunsOfOneScenarioRecordTheSame) {
  robot::RunPlan plan = aheadPlan(2);
  plan.scenario.field.ballBearingDeg = 45;
  plan.scenario.camera.noiseSdPx = 2;
  plan.scenario.camera.missedShare = 0.05;
  plan.scenario.camera.falseBallShare = 0.01;
  robot::Run first;
  robot::Run second;
  std::string why;
  ASSERT_TRUE(robot::runLockstep(plan, first, why)) << why;
  ASSERT_TRUE(robot::runLockstep(plan, second, why)) << why;
  ASSERT_EQ(first.samples.size(), second.samples.size());
  ASSERT_EQ(first.events.size(), second.events.size());
  EXPECT_EQ(std::memcmp(first.samples.data(), second.samples.data(),
                        first.samples.size() * sizeof(robot::Sample)),
            0);
  EXPECT_EQ(std::memcmp(first.events.data(), second.events.data(),
                        first.events.size() * sizeof(robot::LineEvent)),
            0);
}

// Why steer takes --band and --turn-power: a robot whose camera lags (30 frames/s, 50 ms) turns
// past the default band, 2 degrees wide, at the default power, and holds the ball in the band with
// the settings that the simulator recommends for it.
TEST(Lockstep, RecommendedSettingsHoldTheBallWhereTheDefaultsHunt) {
  robot::RunPlan plan = aheadPlan(12);
  plan.scenario.field.ballBearingDeg = 15;
  robot::Run hunting;
  robot::Run holding;
  std::string why;
  ASSERT_TRUE(robot::runLockstep(plan, hunting, why)) << why;
  plan.steerArgs = {"--band", "100", "--turn-power", "30"};
  ASSERT_TRUE(robot::runLockstep(plan, holding, why)) << why;
  EXPECT_LT(robot::measure(hunting).shareInBand, 0.1);
  EXPECT_EQ(holding.band, 100);
  EXPECT_GE(robot::measure(holding).shareInBand, 0.8);
}

// virtual-robot: a sweep's runs, two at a time, each filed under its own number whichever ends
// first; the ball behind never gets a code 5, its times null. --out makes one run a sweep of one.
TEST(Program, SweepsFileEachRunUnderItsOwnNumber) {
  Folder folder;
  const std::string dir = folder.path;
  std::ofstream(dir + "/s.toml") << "[field]\nball_bearing_deg = [0, 180, -40]\n"
                                 << "[run]\nduration_s = 0.3\n";
  std::ofstream(dir + "/lsan.supp") << contents(ROBOT_LSAN) << contents(BOARD_SIM_LSAN);
  const std::string program =
      "LSAN_OPTIONS=suppressions=" + dir + "/lsan.supp " VIRTUAL_ROBOT_PROGRAM " --lockstep ";
  // NOLINTNEXTLINE(cert-env33-c,concurrency-mt-unsafe): the program, run as its users run it
  const auto run = [&](const std::string& args) { return std::system((program + args).c_str()); };
  ASSERT_EQ(run("--jobs 2 --out " + dir + "/out " + dir + "/s.toml >" + dir + "/told 2>&1"), 0)
      << contents(dir + "/told");
  std::ifstream table(dir + "/out/table.csv");
  std::string row;
  std::getline(table, row);
  for (const char* const n : {"01", "02", "03"}) {
    const std::string json = contents(dir + "/out/run-" + n + ".json");
    const std::string bearing = n[1] == '1' ? "0" : n[1] == '2' ? "180" : "-40";
    EXPECT_NE(json.find("\"label\": \"ball_bearing_deg=" + bearing + "\""), std::string::npos) << n;
    std::getline(table, row);
    std::string start = std::to_string(n[1] - '0');  // number, label, bearing, band
    for (const std::string_view field :
         {std::string_view(",\"ball_bearing_deg="), std::string_view(bearing),
          std::string_view("\",\""), std::string_view(bearing), std::string_view("\",10,")})
      start += field;
    EXPECT_EQ(row.rfind(start, 0), 0U) << row;
    EXPECT_EQ(std::count(row.begin(), row.end(), ','), 17) << row;
  }
  const std::string behind = contents(dir + "/out/run-02.json");
  for (const char* const never : {"first_in_band_s", "first_code_5_s", "time_to_goal_s"})
    EXPECT_NE(behind.find("\"" + std::string(never) + "\": null"), std::string::npos) << never;
  std::ofstream(dir + "/one.toml") << "[run]\nduration_s = 0.1\n";
  ASSERT_EQ(run("--out " + dir + "/one " + dir + "/one.toml >/dev/null 2>&1"), 0);
  EXPECT_TRUE(fs::exists(dir + "/one/run-01.json"));
}

// The ball out of the picture and the goal ahead: steer's centring rules never line up;
// --approach finds the ball, circles it in arcs until the goal is beyond it, and pushes it in, on
// the slow robot with its defaults and on the fast one with the settings its example gives.
TEST(Lockstep, ApproachScoresFromOffToTheSide) {
  std::vector<robot::Scenario> fast;
  std::string why;
  ASSERT_TRUE(robot::loadScenarios(EXAMPLES_DIR "/scenarios/approach-fast-robot.toml", fast, why))
      << why;
  const struct {
    double bearingDeg, topSpeed;
    std::vector<std::string> options;
    double scoredS;
  } cases[] = {
      {90, 0.3, {"--approach"}, 16.8},
      {45, 0.8, robot::steerArguments(fast.at(0).steer), 8.8},
  };
  for (const auto& c : cases) {
    robot::RunPlan plan = aheadPlan(20);
    plan.scenario.field.ballBearingDeg = c.bearingDeg;
    plan.scenario.robot.topSpeedMPerS = c.topSpeed;
    plan.scenario.camera.outOfView = robot::OutOfView::searchRight;
    plan.steerArgs = c.options;
    robot::Run run;
    ASSERT_TRUE(robot::runLockstep(plan, run, why)) << why;
    const robot::Measures m = robot::measure(run);
    EXPECT_TRUE(m.scored) << c.topSpeed;
    EXPECT_NEAR(m.scoredS, c.scoredS, 0.5) << c.topSpeed;
    EXPECT_GT(m.frames[3], 0) << c.topSpeed << ": no arc round the ball";
  }
}

// Every example scenario loads without a warning, and steer takes the options of each of its runs.
TEST(Examples, LoadWithoutWarningAndSteerTakesTheirOptions) {
  for (const auto& entry : fs::directory_iterator(EXAMPLES_DIR "/scenarios")) {
    std::vector<robot::Scenario> runs;
    std::string why;
    std::vector<std::string> warnings;
    const std::string path = entry.path().string();
    ASSERT_TRUE(robot::loadScenarios(path, runs, why, &warnings)) << path << ": " << why;
    EXPECT_EQ(warnings, std::vector<std::string>{}) << path;
    for (const robot::Scenario& r : runs) {
      steer::Settings settings;
      EXPECT_TRUE(robot::steerSettings(robot::steerArguments(r.steer), settings, false))
          << path << ": " << r.label;
    }
  }
}

// The real steer in real time, with the ball ahead and the goal close: it scores, and the Ctrl-C
// at the end stops the motors.
TEST(RealTime, RealSteerScoresAndItsCtrlCStopsTheMotors) {
  robot::RunPlan plan = aheadPlan(1.5);
  robot::Scenario& s = plan.scenario;
  s.field.ballDistanceM = 0.3;
  s.field.goalDistanceM = 0.8;
  s.robot.topSpeedMPerS = 0.8;
  plan.steerArgs = {"--band", "40"};
  plan.steerCommand = {STEER_PROGRAM, "--band", "40"};
  robot::Run run;
  std::string why;
  const robot::RealTimeEnd end = robot::runRealTime(plan, run, why);
  if (end == robot::RealTimeEnd::refused) GTEST_SKIP() << why;
  if (end == robot::RealTimeEnd::failed && why.find("behind the wall clock") != std::string::npos) {
    GTEST_SKIP() << "a busy machine: " << why;
  }
  ASSERT_EQ(end, robot::RealTimeEnd::done) << why;
  EXPECT_EQ(run.band, 40);
  EXPECT_GT(scoredAt(run), 0);
  ASSERT_FALSE(run.events.empty());
  EXPECT_EQ(run.events.back().code, 0) << "the stop at the end";
  EXPECT_GT(run.events.back().t, s.run.durationS);
  EXPECT_EQ(run.samples.back().leftDuty, 0);
  EXPECT_EQ(run.samples.back().rightDuty, 0);
}

// A run whose steer cannot be started leaves no temporary folder behind.
TEST(RealTime, ProgramThatCannotRunLeavesNoFolder) {
  const Folder temporary;
  const char* before = std::getenv("TMPDIR");  // NOLINT(concurrency-mt-unsafe): one thread
  const std::string restore = before != nullptr ? before : "";
  setenv("TMPDIR", temporary.path.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
  robot::RunPlan plan = aheadPlan(1);
  plan.steerCommand = {"/nonexistent/steer"};
  robot::Run run;
  std::string why;
  EXPECT_NE(robot::runRealTime(plan, run, why), robot::RealTimeEnd::done);
  if (before != nullptr)
    setenv("TMPDIR", restore.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
  else
    unsetenv("TMPDIR");  // NOLINT(concurrency-mt-unsafe)
  EXPECT_TRUE(std::filesystem::is_empty(temporary.path)) << why;
}

// steer's options work alike on both clocks, since lockstep runs steer's own controller. A
// camera at 2 pictures a second leaves the files unchanged for 500 ms after each picture, so
// that --stale-after 100 stops the board after each of the six in 3 s, and its Ctrl-C once more;
// every frame between carries --drive-power's 70.
TEST(BothClocks, SteerHonoursItsOptionsAsTheProgramDoes) {
  robot::RunPlan plan = aheadPlan(3);
  plan.scenario.camera.frameRateHz = 2;
  plan.steerArgs = {"--stale-after", "100", "--drive-power", "70"};
  plan.steerCommand = {STEER_PROGRAM, "--stale-after", "100", "--drive-power", "70"};
  for (const bool lockstep : {true, false}) {
    robot::Run run;
    std::string why;
    const bool ran = lockstep ? robot::runLockstep(plan, run, why)
                              : robot::runRealTime(plan, run, why) == robot::RealTimeEnd::done;
    if (!lockstep && !ran) {
      GTEST_SKIP() << "real time: " << why;
    }
    ASSERT_TRUE(ran) << why;
    int stops = 0;
    int others = 0;  // frames but code 5 at 70
    for (const robot::LineEvent& e : run.events) {
      stops += e.code == 0 ? 1 : 0;
      others += e.code != 0 && (e.code != 5 || e.power != 70) ? 1 : 0;
    }
    EXPECT_EQ(others, 0);
    EXPECT_EQ(stops, 7) << (lockstep ? "lockstep" : "real time");
  }
}

}  // namespace
