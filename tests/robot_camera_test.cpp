// virtual-robot's producer finds only what is in the picture, exactly while its errors are off;
// with them on it errs as the scenario says, the same way for the same seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "robot/camera.h"
#include "robot/lockstep.h"
#include "tests/folder.h"

namespace {

namespace fs = std::filesystem;

// A file's text, taken away so that the next picture's shows; "" when there is none.
std::string takeFile(const std::string& path) {
  std::ifstream in(path);
  std::string text{std::istreambuf_iterator<char>(in), {}};
  fs::remove(path);
  return text;
}

// The numbers in a position file: "(u, v)" or the goal's eight.
std::vector<double> numbersIn(std::string text) {
  for (char& c : text)
    if (c == '(' || c == ',' || c == ')') c = ' ';
  std::istringstream words(text);
  std::vector<double> numbers;
  for (double n = 0; words >> n;) numbers.push_back(n);
  return numbers;
}

struct Written {
  std::string ball, goal;
};

// What the producer writes for each of `count` pictures of the robot at its start.
std::vector<Written> pictures(const robot::Scenario& s, int count) {
  const robot::World world(s);
  Folder folder;
  robot::Producer producer(s, folder.path);
  std::vector<Written> written;
  std::string why;
  for (int i = 0; i < count; ++i) {
    producer.take(world);
    EXPECT_TRUE(producer.write(producer.nextWrite(), why)) << why;
    written.push_back({takeFile(folder.path + "/b.txt"), takeFile(folder.path + "/t.txt")});
  }
  return written;
}

// With a 90 degree field of view the focal length is 320 columns: from the lens at (0, 0), 0.1 m
// up, a point d m ahead and s m right lands at column 320 + 320 s / d, and a post 0.3 m high at
// rows 240 - 64 / d (top) and 240 + 32 / d (foot).
robot::Scenario handWorked() {
  robot::Scenario s;
  s.robot.radiusM = 0;  // the lens at the robot's centre
  s.camera.fieldOfViewDeg = 90;
  s.run.seed = 7;  // the errors are off: the seed changes nothing
  return s;
}

struct PictureCase {
  const char* what;
  double goalDistanceM, goalCentreM, goalWidthM;
  const char* written;  // t.txt; "" for none
  double ballBearingDeg = 0;
  const char* ball = "(320.0, 261.4)\n";  // 240 + 320 x 0.067 m / 1 m; "" for none
};

TEST(Producer, FindsOnlyWhatIsInThePicture) {
  const char* goalAhead = "272.0 208.0\n272.0 256.0\n368.0 208.0\n368.0 256.0\n";
  const PictureCase cases[] = {
      {"the right post just inside the right edge", 2, -1.699, 0.6,
       "543.8 208.0\n543.8 256.0\n639.8 208.0\n639.8 256.0\n"},
      {"the right post just outside it", 2, -1.701, 0.6, ""},
      {"the left post just inside the left edge", 2, 1.6995, 0.6,
       "0.1 208.0\n0.1 256.0\n96.1 208.0\n96.1 256.0\n"},
      {"the left post just outside it", 2, 1.701, 0.6, ""},
      {"posts at the lens, cut off by the picture's top and bottom", 0.1, 0, 0.1,
       "160.0 0.0\n160.0 479.0\n480.0 0.0\n480.0 479.0\n"},
      // 320 + 320 tan 44 degrees; 0.719 m ahead of the lens.
      {"the ball just inside the right edge", 2, 0, 0.6, goalAhead, 44, "(629.0, 269.8)\n"},
      {"the ball just outside it", 2, 0, 0.6, goalAhead, 46, ""},
  };
  for (const PictureCase& c : cases) {
    robot::Scenario s = handWorked();
    s.field.goalDistanceM = c.goalDistanceM;
    s.field.goalCentreM = c.goalCentreM;
    s.field.goalWidthM = c.goalWidthM;
    s.field.ballBearingDeg = c.ballBearingDeg;
    const Written w = pictures(s, 1).at(0);
    EXPECT_EQ(w.goal, c.written) << c.what;
    EXPECT_EQ(w.ball, c.ball) << c.what;
  }
}

double mean(const std::vector<double>& values) {
  double sum = 0;
  for (const double v : values) sum += v;
  return sum / static_cast<double>(values.size());
}

double deviation(const std::vector<double>& values) {
  const double m = mean(values);
  double sum = 0;
  for (const double v : values) sum += (v - m) * (v - m);
  return std::sqrt(sum / static_cast<double>(values.size()));
}

// The ball 1 m ahead at column 320, the goal's right post at 320 + 320 x 0.3 / 2 = 368.
TEST(Producer, ErrsAsSetAndTheSameWayForTheSameSeed) {
  robot::Scenario s = handWorked();
  s.camera.noiseSdPx = 2;
  s.camera.missedShare = 0.2;
  s.camera.falseBallShare = 0.1;
  const std::vector<Written> first = pictures(s, 1000);
  const std::vector<Written> again = pictures(s, 1000);
  s.run.seed = 8;
  const std::vector<Written> other = pictures(s, 1000);
  size_t same = 0;
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first[i].ball, again[i].ball);
    EXPECT_EQ(first[i].goal, again[i].goal);
    same += static_cast<size_t>(first[i].ball == other[i].ball);
  }
  EXPECT_LT(same, first.size() / 4) << "another seed, other errors";

  int missed = 0;
  int falseBalls = 0;
  std::vector<double> balls;
  std::vector<double> posts;
  for (const Written& w : first) {
    missed += static_cast<int>(w.ball.empty());
    ASSERT_EQ(w.ball.empty(), w.goal.empty()) << "a missed picture writes neither file";
    if (w.ball.empty()) continue;
    const std::vector<double> ball = numbersIn(w.ball);
    ASSERT_EQ(ball.size(), 2U) << w.ball;
    ASSERT_TRUE(ball[0] >= 0 && ball[0] < 640 && ball[1] >= 0 && ball[1] < 480) << w.ball;
    if (std::abs(ball[0] - 320) > 12) ++falseBalls;  // 6 standard deviations
    if (std::abs(ball[0] - 320) <= 12) balls.push_back(ball[0]);
    posts.push_back(numbersIn(w.goal).at(4));  // the right post's top
  }
  EXPECT_NEAR(missed / 1000.0, 0.2, 0.04);
  EXPECT_NEAR(falseBalls / 800.0, 0.1, 0.03);  // of the pictures not missed; a few land near 320
  EXPECT_NEAR(mean(balls), 320, 0.3);
  EXPECT_NEAR(deviation(balls), 2, 0.2);
  const auto wide =
      std::count_if(balls.begin(), balls.end(), [](double u) { return std::abs(u - 320) > 4; });
  EXPECT_NEAR(static_cast<double>(wide) / static_cast<double>(balls.size()), 0.0455, 0.025)
      << "a normal distribution's tails, beyond 2 standard deviations";
  EXPECT_NEAR(mean(posts), 368, 0.3);
  EXPECT_NEAR(deviation(posts), 2, 0.2);

  // Missing every picture, the producer writes nothing, not even the edge it searches with.
  s.camera.missedShare = 1;
  s.camera.outOfView = robot::OutOfView::searchRight;
  s.field.ballBearingDeg = 90;
  for (const Written& w : pictures(s, 100)) EXPECT_EQ(w.ball + w.goal, "");
}

}  // namespace
