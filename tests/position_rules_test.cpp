// How the position files are read and how the centre-band rules pick a command.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "steer/decide.h"
#include "tests/controller_fixture.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {
constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();
constexpr float infinity = std::numeric_limits<float>::infinity();

// What the operator is told once a file has read the same for longer than a passing state lasts.
std::string toldOfTwoReads(steer::Controller& c, void (steer::Controller::*read)(),
                           steer::FileReport& report) {
  (c.*read)();
  report.sinceMs -= 1000;
  CaptureStderr();
  (c.*read)();
  return GetCapturedStderr();
}

const std::string objectLacks =
    "steer: b.txt holds less than \"(x, y\"; keeping the last values of the rest\n";
const std::string goalLacks =
    "steer: t.txt holds less than eight numbers; keeping the last values of the rest\n";
}  // namespace

// One "b.txt", the object position it leaves, starting from (-1, -2), and what is told of it.
struct ObjectCase {
  const char* text;
  float x;
  float y;
  bool whole;
};

class ObjectFile : public ControllerTest, public testing::WithParamInterface<ObjectCase> {};

TEST_P(ObjectFile, LeavesThePosition) {
  controller.positions.b[0] = -1;
  controller.positions.b[1] = -2;
  write("b.txt", GetParam().text);
  EXPECT_EQ(
      toldOfTwoReads(controller, &steer::Controller::readObjectPosition, controller.objectFile),
      GetParam().whole ? "" : objectLacks);
  EXPECT_EQ(controller.positions.b[0], GetParam().x);
  EXPECT_EQ(controller.positions.b[1], GetParam().y);
}

INSTANTIATE_TEST_SUITE_P(
    ScanRules, ObjectFile,
    testing::Values(ObjectCase{"(412.5, 233.0)\n", 412.5F, 233, true},
                    ObjectCase{"( 7,8", 7, 8, true},      // blanks after "(" and "," are optional
                    ObjectCase{"(7 , 8)", 7, -2, false},  // a blank before the comma stops the scan
                    ObjectCase{" (7, 8)", -1, -2, false},   // so does one before the parenthesis
                    ObjectCase{"(5, left)", 5, -2, false},  // and text in place of a number
                    ObjectCase{"(400", 400, -2, false},     // and the file's end
                    ObjectCase{"", -1, -2, false},          // an empty file changes nothing
                    ObjectCase{"(0x1.4p8, -INFINITY)", 320, -infinity, true},
                    ObjectCase{"(1e2, InF)", 100, infinity, true}));

TEST_F(ControllerTest, ObjectThatIsNotANumberIsReadAsSuch) {
  write("b.txt", "(nan, 3)");
  controller.readObjectPosition();
  EXPECT_TRUE(std::isnan(controller.positions.b[0]));
}

TEST_F(ControllerTest, MissingObjectFileKeepsTheEarlierValues) {
  controller.positions.b[0] = 412;
  EXPECT_EQ(
      toldOfTwoReads(controller, &steer::Controller::readObjectPosition, controller.objectFile),
      "steer: b.txt is missing; keeping its last values\n");
  EXPECT_EQ(controller.positions.b[0], 412.0F);
  EXPECT_EQ(files.f, nullptr);
  write("b.txt", "(1, 2)");
  CaptureStderr();
  controller.readObjectPosition();
  EXPECT_EQ(GetCapturedStderr(), "steer: b.txt reads whole again\n");
}

class GoalFile : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    for (int i = 0; i < 8; ++i) controller.positions.m[i] = static_cast<float>(-1 - i);
  }
  void read(const std::string& text) {
    write("t.txt", text);
    controller.readGoalPoints();
  }
  std::string told() {
    return toldOfTwoReads(controller, &steer::Controller::readGoalPoints, controller.goalFile);
  }
  void expectM(std::initializer_list<float> want) {
    int i = 0;
    for (float v : want) EXPECT_EQ(controller.positions.m[i++], v) << "m[" << i - 1 << "]";
  }
};

TEST_F(GoalFile, FourLinesAndOneLineReadTheSame) {
  read("1 2\n3 4\n5 6\n7 8\n");
  EXPECT_EQ(told(), "");
  expectM({1, 2, 3, 4, 5, 6, 7, 8});
  read("8 7 6 5 4 3 2 1");
  expectM({8, 7, 6, 5, 4, 3, 2, 1});
}

TEST_F(GoalFile, TakesAnyNumberFormAndSignsNeedNoBlankBefore) {
  read("1-2+3-4 0x10 6e1 7 8");
  expectM({1, -2, 3, -4, 16, 60, 7, 8});
}

TEST_F(GoalFile, FewerNumbersLeaveTheRestAsTheyWere) {
  read("8 7 6 5 4 3 2");
  EXPECT_EQ(told(), goalLacks);
  expectM({8, 7, 6, 5, 4, 3, 2, -8});
  read("1 2\n3 4\n5");
  EXPECT_EQ(told(), "") << "told again of a file that still lacks numbers";
  expectM({1, 2, 3, 4, 5, 3, 2, -8});
}

TEST_F(GoalFile, EmptyMissingOrUnreadableFileChangesNothing) {
  read("");
  EXPECT_EQ(told(), goalLacks);
  expectM({-1, -2, -3, -4, -5, -6, -7, -8});
  std::filesystem::remove("t.txt");
  EXPECT_EQ(told(), "steer: t.txt is missing; keeping its last values\n");
  expectM({-1, -2, -3, -4, -5, -6, -7, -8});
  std::filesystem::create_directory("t.txt");
  EXPECT_EQ(told(), "steer: cannot read t.txt: Is a directory; keeping its last values\n");
  expectM({-1, -2, -3, -4, -5, -6, -7, -8});
  EXPECT_EQ(files.f, nullptr);
}

// One row of the decision table: object x, goal points' x (m[2], m[6]), the command expected,
// and the options: band, turning and driving power.
struct Row {
  float x;
  float m2;
  float m6;
  int nap;
  int power;
  int band = 10;
  int turn = 50;
  int drive = 100;
};

void PrintTo(const Row& r, std::ostream* os) {
  *os << "x " << r.x << ", goal x " << r.m2 << " and " << r.m6 << " -> " << r.nap << ", " << r.power
      << " (band " << r.band << ", powers " << r.turn << " " << r.drive << ")";
}

class CentreBand : public testing::TestWithParam<Row> {};

TEST_P(CentreBand, PicksTheCommand) {
  const Row row = GetParam();
  steer::Settings s;
  s.band = row.band;
  s.pwr = row.turn;
  s.drivePower = row.drive;
  steer::Positions p;
  p.objectRead = true;
  p.goalRead = true;
  p.b[0] = row.x;
  p.m[2] = row.m2;
  p.m[6] = row.m6;
  const steer::Command c = steer::decide(s, p).command;
  EXPECT_EQ(c.nap, row.nap);
  if (row.nap != 0) {
    EXPECT_EQ(c.power, row.power);
  }
}

INSTANTIATE_TEST_SUITE_P(
    DecisionTable, CentreBand,
    testing::Values(Row{400, 0, 0, 1, 50}, Row{330.5F, 0, 0, 1, 50}, Row{309.9F, 0, 0, 2, 50},
                    Row{0, 0, 0, 2, 50}, Row{-infinity, 0, 0, 2, 50}, Row{infinity, 0, 0, 1, 50},
                    Row{310, 320, 320, 5, 100}, Row{330, 320, 320, 5, 100},
                    Row{320, 330, 331, 5, 100},      // mean 330.5 truncates into the band
                    Row{320, 331, 331, 4, 50},       // mean 331 is just right of it
                    Row{320, 309, 310, 3, 50},       // mean 309.5 truncates to 309
                    Row{320, 310, 310, 5, 100},      // mean 310 is the band's left end
                    Row{320, notANumber, 0, 3, 50},  // not a number counts as 0
                    Row{320, infinity, 0, 4, 50}, Row{320, -infinity, 0, 3, 50},
                    Row{320, 3e38F, 3e38F, 4, 50},    // the sum overflows to infinity
                    Row{notANumber, 320, 320, 0, 0},  // an object that is not a number: nothing
                    // A wider band, and the powers the options set.
                    Row{360, 320, 320, 5, 100, 40}, Row{280, 320, 320, 5, 100, 40},
                    Row{360.5F, 320, 320, 1, 50, 40}, Row{320, 361, 361, 4, 50, 40},
                    Row{320, 320, 320, 5, 100, 0}, Row{320.5F, 320, 320, 1, 50, 0},
                    Row{400, 0, 0, 1, 25, 10, 25}, Row{0, 0, 0, 2, 127, 10, 127},
                    Row{320, 320, 320, 5, 70, 10, 50, 70}, Row{320, 0, 0, 3, 0, 10, 0},
                    Row{641, 0, 0, 1, 50, 320}));  // no column of the frame is out of the band

// No command rests on a position never read: none before b.txt has been read whole, and none
// that lines up with the goal before t.txt has; each wait told once.
TEST_F(ControllerTest, SendsNothingOnPositionsNeverRead) {
  controller.positions.objectRead = false;
  controller.positions.goalRead = false;
  CaptureStderr();
  EXPECT_EQ(controller.decide().nap, 0);
  write("b.txt", "(400");
  controller.readObjectPosition();
  EXPECT_EQ(controller.decide().nap, 0) << "read in part";
  write("b.txt", "(400, 200)");
  controller.readObjectPosition();
  EXPECT_EQ(controller.decide().nap, 1) << "turning needs no goal";
  write("b.txt", "(320, 200)");
  controller.readObjectPosition();
  EXPECT_EQ(controller.decide().nap, 0);
  write("t.txt", "0 0 320 0 0 0 320");
  controller.readGoalPoints();
  EXPECT_EQ(controller.decide().nap, 0) << "t.txt read in part";
  write("t.txt", "0 0 320 0 0 0 320 0");
  controller.readGoalPoints();
  EXPECT_EQ(controller.decide().nap, 5);
  std::filesystem::remove("t.txt");
  std::filesystem::remove("b.txt");
  controller.readGoalPoints();
  controller.readObjectPosition();
  EXPECT_EQ(controller.decide().nap, 5) << "a file gone keeps its last values";
  EXPECT_EQ(GetCapturedStderr(),
            "steer: waiting for b.txt before steering\n"
            "steer: waiting for t.txt before lining up with the goal\n");
}

TEST_F(ControllerTest, GoalIsStoredOnlyWhileTheObjectIsCentred) {
  controller.positions.m[2] = 500;
  controller.positions.m[6] = 500;
  controller.positions.b[0] = 320;
  controller.decide();
  EXPECT_EQ(controller.goal, 500);
  controller.positions.m[2] = 0;
  controller.positions.b[0] = 100;
  controller.decide();
  EXPECT_EQ(controller.goal, 500);
}

TEST(GoalFromMean, TruncatesTowardZeroAndSaturates) {
  EXPECT_EQ(steer::goalFromMean(2.9F), 2);
  EXPECT_EQ(steer::goalFromMean(-2.9F), -2);
  EXPECT_EQ(steer::goalFromMean(2147483520.0F), 2147483520);  // largest float below 2^31
  EXPECT_EQ(steer::goalFromMean(2147483648.0F), INT_MAX);
  EXPECT_EQ(steer::goalFromMean(-2147483648.0F), INT_MIN);
  EXPECT_EQ(steer::goalFromMean(-1e30F), INT_MIN);
  EXPECT_EQ(steer::goalFromMean(infinity), INT_MAX);
  EXPECT_EQ(steer::goalFromMean(-infinity), INT_MIN);
  EXPECT_EQ(steer::goalFromMean(notANumber), 0);
  EXPECT_EQ(steer::goalFromMean(-notANumber), 0);
}
