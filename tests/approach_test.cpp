// How --approach picks a command: the ball held off centre, away from the goal's side, by the
// goal's offset from it as last seen together.
#include "steer/approach.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>

#include "steer/options.h"

namespace {
constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();
constexpr float far = 300;   // the ball's row: far off
constexpr float near = 400;  // below the near row
}  // namespace

// One row of the table: the memory before (offset; none when `known` is false), the goal's
// column as read (its two feet alike; not a number: t.txt never read whole), the ball's column
// and row, the command and the offset after; and the aim's gain and limit.
struct ApproachRow {
  bool known;
  float offset;
  float goal;
  float x;
  float y;
  int nap;
  int power;
  float offsetAfter;
  int gain = 100;
  int limit = 200;
};

void PrintTo(const ApproachRow& r, std::ostream* os) {
  *os << (r.known ? "offset " : "no offset ") << r.offset << ", goal " << r.goal << ", ball ("
      << r.x << ", " << r.y << ") -> " << r.nap << ", " << r.power << ", offset " << r.offsetAfter
      << " (gain " << r.gain << "%, limit " << r.limit << ")";
}

class Approach : public testing::TestWithParam<ApproachRow> {};

TEST_P(Approach, PicksTheCommandAndKeepsTheOffset) {
  const ApproachRow row = GetParam();
  steer::Settings s;
  s.band = 40;
  s.pwr = 30;
  s.drivePower = 100;
  s.aimGain = row.gain;
  s.aimLimit = row.limit;
  s.nearRow = 360;
  steer::Positions p;
  p.objectRead = true;
  p.goalRead = row.goal == row.goal;
  p.b[0] = row.x;
  p.b[1] = row.y;
  p.m[2] = row.goal;
  p.m[6] = row.goal;
  // A memory made from the same goal column: that file is an old sighting, not a new one.
  steer::ApproachMemory memory{row.known, row.goal, row.offset};
  const steer::Command c = steer::approach(s, p, memory).command;
  EXPECT_EQ(c.nap, row.nap);
  if (row.nap != 0) {
    EXPECT_EQ(c.power, row.power);
  }
  if (row.known || p.goalRead) {
    EXPECT_EQ(memory.offset, row.offsetAfter);
  }
}

constexpr float none = notANumber;

INSTANTIATE_TEST_SUITE_P(
    DecisionTable, Approach,
    testing::Values(
        // No goal ever seen: the ball is centred and driven at.
        ApproachRow{false, 0, none, 320, far, 5, 100, 0},
        ApproachRow{false, 0, none, 361, far, 1, 30, 0},
        ApproachRow{false, 0, none, 279, far, 2, 30, 0},
        ApproachRow{false, 0, none, 279, near, 3, 30, 0},  // near: arcs, not spins
        ApproachRow{false, 0, none, 361, near, 4, 30, 0},
        // Goal 100 columns left of the ball: the ball is held at 220, right of the band.
        ApproachRow{false, 0, 200, 300, far, 1, 30, -100},
        ApproachRow{false, 0, 130, 230, far, 5, 100, -100},
        ApproachRow{false, 0, 130, 230, near, 5, 100, -100},
        ApproachRow{false, 0, 130, 300, near, 4, 30, -170},
        ApproachRow{false, 0, 130, 170, far, 2, 30, -40},
        // And mirrored: goal right of the ball.
        ApproachRow{false, 0, 510, 410, far, 5, 100, 100},
        ApproachRow{false, 0, 510, 330, near, 3, 30, 180},
        ApproachRow{false, 0, 510, 330, far, 2, 30, 180},
        // Lined up: pushed, near or not.
        ApproachRow{false, 0, 320, 320, near, 5, 100, 0},
        ApproachRow{false, 0, 345, 330, 470, 5, 100, 15},
        // The limit: a far-off goal holds the ball 200 columns off centre, no more.
        ApproachRow{false, 0, 100, 600, far, 1, 30, -500},
        ApproachRow{true, -500, 100, 130, far, 5, 100, -500},
        ApproachRow{true, -500, 100, 130, far, 2, 30, -500, 100, 100},
        // The gain: half the offset.
        ApproachRow{false, 0, 200, 300, far, 5, 100, -100, 50},
        ApproachRow{false, 0, 200, 300, far, 1, 30, -100, 150},
        // An old t.txt keeps the offset it was seen with while the ball moves on.
        ApproachRow{true, -100, 200, 400, far, 1, 30, -100},
        ApproachRow{true, -100, 200, 400, near, 4, 30, -100},
        // A ball at the picture's edge is a searching producer's, not a sighting.
        ApproachRow{false, 0, 320, 0, far, 2, 30, 0},
        ApproachRow{true, 50, 320, 639, far, 1, 30, 50},
        // A ball column that is not a number: nothing.
        ApproachRow{true, 50, 320, notANumber, far, 0, 0, 50}));

TEST(Approach, ANewSightingReplacesTheOffsetAndNoneWaitsForAGoal) {
  steer::Settings s;
  steer::Positions p;
  steer::ApproachMemory memory;
  EXPECT_EQ(steer::approach(s, p, memory).waiting, steer::Waiting::object);
  p.objectRead = true;
  p.goalRead = true;
  p.b[0] = 300;
  p.m[2] = p.m[6] = 250;
  EXPECT_EQ(steer::approach(s, p, memory).waiting, steer::Waiting::nothing);
  EXPECT_EQ(memory.offset, -50);
  p.m[2] = 450;  // the goal's mean moves to 350
  steer::approach(s, p, memory);
  EXPECT_EQ(memory.offset, 50);
  EXPECT_EQ(memory.goal, 350);
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
  EXPECT_EQ(a.aimLimit, 260);
  EXPECT_EQ(a.nearRow, 300);
  const char* given[] = {"steer", "--band=12", "--approach", "--near-row", "280"};
  const steer::Settings g = steer::readOptions(5, given).settings;
  EXPECT_EQ(g.band, 12);
  EXPECT_EQ(g.pwr, 30);
  EXPECT_EQ(g.nearRow, 280);
  const char* without[] = {"steer", "--near-row", "280"};
  const steer::Settings w = steer::readOptions(3, without).settings;
  EXPECT_FALSE(w.approach);
  EXPECT_EQ(w.band, 10);
  EXPECT_EQ(w.pwr, 50);
}
