// How --approach picks a command: the ball held off centre on the goal's side by the goal's
// bearing less the ball's, a near ball circled until the goal is beyond it, and both bearings
// turned by what the robot's own commands turn it.
#include "steer/approach.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>

#include "steer/options.h"

namespace {
constexpr float none = std::numeric_limits<float>::quiet_NaN();
constexpr float far = 300;   // the ball's row: far off
constexpr float near = 450;  // at the near row or below
}  // namespace

// One row of the table. Before: the ball's column and row as read, the goal's column as read
// (its two feet alike; none: t.txt never read whole) and whether that is a new sighting; what
// is kept (the goal's bearing less the ball's, none: unknown; circling; the ball's bearing,
// none: never seen); the command sent `ms` before. After: the command, what is kept.
struct ApproachRow {
  float x, y, goal;
  bool fresh;
  float apart;
  bool circling;
  float ball;
  int sentNap, sentPower, ms;
  int nap, power;
  float apartAfter, ballAfter;
  bool circlingAfter;
  int latencyMs = 0;
};

void PrintTo(const ApproachRow& r, std::ostream* os) {
  *os << "ball (" << r.x << ", " << r.y << "), goal " << r.goal << (r.fresh ? " new" : " old")
      << ", kept apart " << r.apart << (r.circling ? " circling" : "") << " ball " << r.ball
      << ", sent " << r.sentNap << "," << r.sentPower << " " << r.ms << " ms ago -> " << r.nap
      << "," << r.power << ", apart " << r.apartAfter << ", ball " << r.ballAfter
      << (r.circlingAfter ? " circling" : "") << " (latency " << r.latencyMs << " ms)";
}

class Approach : public testing::TestWithParam<ApproachRow> {};

TEST_P(Approach, PicksTheCommandAndKeepsTheBearings) {
  const ApproachRow row = GetParam();
  steer::Settings s;  // a focal length of 532.6 columns: the band is 4.3 degrees, the limit 20.6
  s.band = 40;
  s.pwr = 30;
  s.drivePower = 100;
  s.arcPower = 100;
  s.aimLimit = 200;
  s.nearRow = 400;
  s.lineUp = 10;
  s.spinRate = 200;
  s.viewDeg = 62;
  s.latencyMs = row.latencyMs;
  steer::Positions p;
  p.objectRead = true;
  p.goalRead = row.goal == row.goal;
  p.b[0] = row.x;
  p.b[1] = row.y;
  p.m[2] = p.m[6] = row.goal;
  steer::ApproachMemory m;
  m.atMs = 0;
  m.sent = {row.sentNap, row.sentPower};
  m.ballKnown = row.ball == row.ball;
  m.ball = row.ball;
  m.ballRow = row.y;
  m.goalKnown = p.goalRead;
  m.goalColumn = row.fresh ? -1 : row.goal;
  m.apartKnown = row.apart == row.apart;
  m.apart = row.apart;
  m.circling = row.circling;
  const steer::Command c = steer::approach(s, p, row.ms, m).command;
  EXPECT_EQ(c.nap, row.nap);
  EXPECT_EQ(c.power, row.power);
  if (row.apartAfter == row.apartAfter) {
    EXPECT_NEAR(m.apart, row.apartAfter, 0.05);
  }
  if (row.ballAfter == row.ballAfter) {
    EXPECT_NEAR(m.ball, row.ballAfter, 0.05);
  }
  EXPECT_EQ(m.circling, row.circlingAfter);
}

INSTANTIATE_TEST_SUITE_P(
    DecisionTable, Approach,
    testing::Values(
        // No goal ever seen: the ball is centred and driven at; near, turned toward in arcs.
        ApproachRow{320, far, none, false, none, false, 0, 0, 0, 0, 5, 100, none, 0, false},
        ApproachRow{361, far, none, false, none, false, 0, 0, 0, 0, 1, 30, none, 4.40F, false},
        ApproachRow{279, near, none, false, none, false, 0, 0, 0, 0, 3, 100, none, -4.40F, false},
        // Never seen: the searching producer's edge column, spun toward at the driving power.
        ApproachRow{639, far, none, false, none, false, none, 0, 0, 0, 1, 100, none, none, false},
        ApproachRow{0, far, 320, true, none, false, none, 0, 0, 0, 2, 100, none, none, false},
        // A new sighting of both: the goal 100 columns left of the ball, 10.5 degrees; the ball
        // is held that far left, so the robot passes right of it. Mirrored: the other way.
        ApproachRow{300, far, 200, true, none, false, 0, 0, 0, 0, 1, 30, -10.55F, -2.15F, false},
        ApproachRow{230, far, 130, true, none, false, 0, 0, 0, 0, 5, 100, -10.04F, -9.59F, false},
        ApproachRow{340, far, 440, true, none, false, 0, 0, 0, 0, 2, 30, 10.55F, 2.15F, false},
        // An old t.txt keeps the bearing apart while the ball moves; the aim stops at the limit.
        ApproachRow{130, far, 100, false, -60, false, 0, 0, 0, 0, 5, 100, -60, -19.63F, false},
        ApproachRow{320, far, 100, false, -60, false, 0, 0, 0, 0, 1, 30, -60, 0, false},
        // Near and 30 degrees or more off the line: the ball is spun abeam, on the goal's side,
        // and circled in arcs, the goal coming round 50 degrees a second (a quarter of the
        // spin rate) while the ball stays abeam; within 10 degrees the robot spins to face it.
        ApproachRow{320, near, 100, false, -60, false, 0, 0, 0, 0, 1, 30, -60, 0, true},
        ApproachRow{0, near, 100, false, -60, true, -88, 1, 30, 0, 3, 100, -60, -88, true},
        ApproachRow{0, near, 100, false, -60, true, -88, 3, 100, 100, 3, 100, -55, -88, true},
        ApproachRow{0, near, 100, false, -12, true, -88, 3, 100, 100, 2, 30, -7, -88, false},
        ApproachRow{639, near, 600, false, 40, true, 95, 4, 100, 200, 1, 30, 30, 95, true},
        // Near but not circling, up to 30 degrees off: no circling; the ball is held off centre.
        ApproachRow{320, near, 100, false, -20, false, 0, 0, 0, 0, 4, 100, -20, 0, false},
        // A spin turns the kept ball: 60 degrees a second at power 30, so 100 ms move it 6; past
        // 180 degrees it is turned toward the shorter way.
        ApproachRow{0, far, 100, false, 0, false, -40, 1, 30, 100, 2, 30, 0, -46, false},
        ApproachRow{0, far, 100, false, 0, false, -170, 1, 30, 500, 1, 30, 0, 160, false},
        // A ball believed in the picture that has left it: just beyond the edge named.
        ApproachRow{0, far, 100, false, 0, false, -20, 0, 0, 0, 2, 30, 0, -31, false},
        // A picture 100 ms old while spinning right at 60 degrees a second: the ball has
        // moved 6 degrees left since.
        ApproachRow{320, far, none, false, none, false, 0, 1, 30, 0, 2, 30, none, -6, false, 100},
        // A ball column that is not a number: nothing, and nothing kept changes.
        ApproachRow{none, far, 320, true, 5, false, 3, 0, 0, 0, 0, 0, 5, 3, false}));

// The goal seen before the ball (the producer searching for it): the goal's bearing, turned as
// the robot spins, gives the first bearing apart.
TEST(Approach, TheGoalSeenFirstIsTurnedUntilTheBallIsFound) {
  steer::Settings s;
  s.spinRate = 200;
  s.latencyMs = 0;
  steer::Positions p;
  steer::ApproachMemory m;
  EXPECT_EQ(steer::approach(s, p, 0, m).waiting, steer::Waiting::object);
  p.objectRead = true;
  p.goalRead = true;
  p.b[0] = 639;
  p.m[2] = p.m[6] = 320;
  EXPECT_EQ(steer::approach(s, p, 0, m).command.nap, 1);  // searching right at power 100
  EXPECT_EQ(steer::approach(s, p, 300, m).command.nap, 1);
  EXPECT_NEAR(m.goal, -60, 0.05);  // 200 degrees a second for 0.3 s
  p.b[0] = 320;
  steer::approach(s, p, 300, m);
  EXPECT_TRUE(m.apartKnown);
  EXPECT_NEAR(m.apart, -60, 0.05);
}

// --approach alone steers with the band and powers chosen for it; any given stays as given, and
// without --approach nothing changes.
TEST(Approach, OptionsDefaultTheBandAndPowersUnlessGiven) {
  const char* alone[] = {"steer", "--approach"};
  const steer::Settings a = steer::readOptions(2, alone).settings;
  EXPECT_TRUE(a.approach);
  EXPECT_EQ(a.band, 40);
  EXPECT_EQ(a.pwr, 30);
  EXPECT_EQ(a.drivePower, 100);
  EXPECT_EQ(a.aimGain, 100);
  EXPECT_EQ(a.aimLimit, 200);
  EXPECT_EQ(a.nearRow, 450);
  EXPECT_EQ(a.lineUp, 10);
  EXPECT_EQ(a.spinRate, 229);
  EXPECT_EQ(a.latencyMs, 80);
  const char* given[] = {"steer",      "--band=12", "--approach",
                         "--near-row", "280",       "--spin-rate=600"};
  const steer::Settings g = steer::readOptions(6, given).settings;
  EXPECT_EQ(g.band, 12);
  EXPECT_EQ(g.pwr, 30);
  EXPECT_EQ(g.nearRow, 280);
  EXPECT_EQ(g.spinRate, 600);
  const char* without[] = {"steer", "--near-row", "280"};
  const steer::Settings w = steer::readOptions(3, without).settings;
  EXPECT_FALSE(w.approach);
  EXPECT_EQ(w.band, 10);
  EXPECT_EQ(w.pwr, 50);
}
