// virtual-robot's picture of a run and a sweep's chart: PNGs (a run's also SVG and PDF) of the
// size they promise, or the reason there are none; what a run's picture marks; how the chart
// groups a sweep's runs.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "robot/picture.h"
#include "robot/sweep_chart.h"

namespace {

// A few hundred samples of a robot turning on the spot while the ball's column swings across the
// band, with gaps in the goal column and frames of every code.
robot::Run huntingRun() {
  robot::Run run;
  run.scenario.name = "hunting";
  run.scenario.run.durationS = 0.4;
  for (int i = 0; i < 400; ++i) {
    robot::Sample s;
    s.t = i * 0.001;
    s.heading = std::sin(s.t * 20);
    s.ballX = 1;
    s.u = 320 + 200 * std::sin(s.t * 40);
    s.goalColumn = i % 100 < 50 ? 100.0 + i : std::nan("");
    run.samples.push_back(s);
    if (i % 33 == 0) run.events.push_back({s.t, i / 33 % 6, 50});
  }
  return run;
}

TEST(RobotPicture, DrawsItsSizeInTheFormatItsNameSaysOrSaysWhyNot) {
  const std::string png = testing::TempDir() + "robot_picture_test.png";
  std::string why = "stale";
  ASSERT_TRUE(robot::drawPicture(huntingRun(), png, why)) << why;
  EXPECT_EQ(why, "");
  std::ifstream file(png, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(file), {}};
  std::filesystem::remove(png);
  // The signature, then the header chunk: width and height, 4 bytes each, most significant first.
  ASSERT_GE(bytes.size(), 24U);
  EXPECT_EQ(bytes.substr(0, 16), std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16));
  EXPECT_EQ(bytes.substr(16, 8), std::string("\0\0\x03\xe8\0\0\x04\x92", 8));  // 1000 x 1170

  // SVG and PDF, each with its own signature and the picture's size in points.
  const std::pair<const char*, const char*> vectors[] = {
      {".svg", "width=\"1000pt\" height=\"1170pt\""}, {".pdf", "/MediaBox [ 0 0 1000 1170 ]"}};
  for (const auto& [suffix, size] : vectors) {
    const std::string path = testing::TempDir() + "robot_picture_test" + suffix;
    ASSERT_TRUE(robot::drawPicture(huntingRun(), path, why)) << why;
    std::ifstream in(path, std::ios::binary);
    const std::string drawn{std::istreambuf_iterator<char>(in), {}};
    std::filesystem::remove(path);
    EXPECT_EQ(drawn.substr(0, 5), std::string(suffix) == ".svg" ? "<?xml" : "%PDF-");
    EXPECT_NE(drawn.find(size), std::string::npos) << suffix;
  }

  for (const char* path : {"/no/such/folder/run.png", "/no/such/folder/run.svg"}) {
    EXPECT_FALSE(robot::drawPicture(huntingRun(), path, why));
    EXPECT_EQ(why, std::string("cannot write the picture ") + path +
                       ": error while writing to output stream");
  }
}

// x from -0.26 to 2.26 m (goal line at 2, margins 0.26) spans 960 pixels, 380.95 a metre, x = 1 at
// 500, y = 0 at row 290, +y up: the ball (1, 0.2) at (500, 214), the robot (0.5, -0.1) at (310,
// 328) with a radius of 38, the goal line at 881.
TEST(RobotPicture, DrawsTheRobotBallAndGoalWhereTheyAre) {
  robot::Run run;
  run.samples = {robot::Sample{.x = 0.5, .y = -0.1, .ballX = 1, .ballY = 0.2}};
  const std::string png = testing::TempDir() + "robot_picture_places.png";
  std::string why;
  ASSERT_TRUE(robot::drawPicture(run, png, why)) << why;
  cairo_surface_t* picture = cairo_image_surface_create_from_png(png.c_str());
  std::filesystem::remove(png);
  ASSERT_EQ(cairo_surface_status(picture), CAIRO_STATUS_SUCCESS);
  // Within 2 of the colour in each of red, green and blue.
  const auto near = [&](int x, int y, std::uint32_t colour) {
    const unsigned char* row =
        cairo_image_surface_get_data(picture) +
        static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(picture);
    const std::uint32_t pixel = reinterpret_cast<const std::uint32_t*>(row)[x];
    const auto channel = [](std::uint32_t c, unsigned shift) {
      return static_cast<int>((c >> shift) & 0xffU);
    };
    return std::ranges::all_of(std::array{0U, 8U, 16U}, [&](unsigned shift) {
      return std::abs(channel(pixel, shift) - channel(colour, shift)) <= 2;
    });
  };
  EXPECT_TRUE(near(500, 214, 0xf2800d)) << "the ball, orange";
  EXPECT_TRUE(near(880, 250, 0x731a8c)) << "the goal, purple";
  EXPECT_TRUE(near(310, 345, 0xadb7c7)) << "the robot's body, 0.08 then 0.35 of its blue";
  cairo_surface_destroy(picture);
}

// A picture's pixels, as cairo reads them back: 0xRRGGBB.
class Pixels {
 public:
  explicit Pixels(const std::string& png)
      : surface_(cairo_image_surface_create_from_png(png.c_str()), cairo_surface_destroy) {}
  [[nodiscard]] int width() const { return cairo_image_surface_get_width(surface_.get()); }
  [[nodiscard]] int height() const { return cairo_image_surface_get_height(surface_.get()); }
  [[nodiscard]] unsigned at(int x, int y) const {
    const unsigned char* row =
        cairo_image_surface_get_data(surface_.get()) +
        static_cast<ptrdiff_t>(y) * cairo_image_surface_get_stride(surface_.get());
    unsigned pixel = 0;
    std::memcpy(&pixel, row + static_cast<ptrdiff_t>(x) * 4, 4);
    return pixel & 0xffffffU;
  }
  // How many pixels of exactly `colour` lie in columns [x0, x1) and rows [y0, y1).
  [[nodiscard]] int count(unsigned colour, int x0, int x1, int y0, int y1) const {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += at(x, y) == colour ? 1 : 0;
    return n;
  }

 private:
  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface_;
};

constexpr unsigned kRobotBlue = 0x334c73;   // the robot's path
constexpr unsigned kGoalPurple = 0x73198c;  // the goal line
constexpr unsigned kCodeFiveGreen = 0x2ba12b;

// The robot drives straight at 0.25 m/s, the ball 0.15 m ahead of it, through the goal 2 m
// ahead at 7.4 s and on for 4.6 s more; code 5 reaches the board once, for a millisecond.
robot::Run scoringRun() {
  robot::Run run;
  run.scenario.name = "scoring";
  run.scenario.run.durationS = 12;
  for (int i = 0; i <= 12000; ++i) {
    robot::Sample s;
    s.t = i * 0.001;
    s.x = 0.25 * s.t;
    s.ballX = s.x + 0.15;
    s.u = 320;
    run.samples.push_back(s);
  }
  run.events = {{0.05, 1, 50}, {0.65, 5, 100}, {0.651, 1, 50}};
  run.measures.scored = true;
  run.measures.scoredS = 7.4;
  run.measures.firstAlignedS = 0.65;
  return run;
}

TEST(RobotPicture, EndsAtTheGoalAndMarksTheFirstCodeFiveHoweverBrief) {
  const std::string png = testing::TempDir() + "robot_picture_scoring.png";
  std::string why;
  ASSERT_TRUE(robot::drawPicture(scoringRun(), png, why)) << why;
  const Pixels pixels(png);
  std::filesystem::remove(png);
  ASSERT_EQ(pixels.width(), 1000);
  // The field's goal line: the column with the most purple in the field's box.
  int goalX = 0;
  int most = 0;
  for (int x = 20; x < 980; ++x) {
    const int purple = pixels.count(kGoalPurple, x, x + 1, 82, 518);
    if (purple > most) most = purple, goalX = x;
  }
  ASSERT_GT(most, 20);
  // The robot's path and body stop short of the goal line: the run ended when the ball went in.
  EXPECT_GT(pixels.count(kRobotBlue, 20, goalX - 10, 82, 518), 100);
  EXPECT_EQ(pixels.count(kRobotBlue, goalX + 3, 980, 82, 518), 0);
  // A millisecond of code 5 in 7.4 s is a sliver of the timeline, but its mark runs down every
  // panel, a few hundred pixels of its green.
  EXPECT_GT(pixels.count(kCodeFiveGreen, 60, 980, 554, 1100), 300);
}

robot::SweepRow row(const std::string& label, double bearing, bool scored) {
  robot::SweepRow r;
  r.scenario.name = "sweep";
  r.scenario.label = label;
  r.scenario.field.ballBearingDeg = bearing;
  r.measures.scored = scored;
  r.measures.scoredS = scored ? 6.33 : -1;
  r.measures.finalBallDistanceM = 0.4;
  return r;
}

TEST(RobotSweepChart, GroupsRunsBySettingsLineAndBearing) {
  const std::vector<robot::SweepRow> rows = {
      row("ball_bearing_deg=45 options=\"\"", 45, false),
      row("ball_bearing_deg=0 options=\"\"", 0, true),
      row("ball_bearing_deg=45 options=\"--band 40\"", 45, false),
      row("options=\"--band 40\" ball_bearing_deg=0", 0, true),
      row("camera=10Hz ball_bearing_deg=90 options=\"\"", 90, false),
      row("ball_bearing_deg=0 options=\"\"", 0, false),  // a second of the same: left out
  };
  const robot::SweepGrid grid = robot::sweepGrid(rows);
  EXPECT_EQ(grid.bearings, (std::vector<double>{0, 45, 90}));
  EXPECT_EQ(grid.lines, (std::vector<std::string>{"options=\"\"", "options=\"--band 40\"",
                                                  "camera=10Hz options=\"\""}));
  const robot::SweepRow* r = rows.data();
  const std::vector<std::vector<const robot::SweepRow*>> cells = {
      {r + 1, r, nullptr}, {r + 3, r + 2, nullptr}, {nullptr, nullptr, r + 4}};
  EXPECT_EQ(grid.cells, cells);

  // Nothing varied but the bearing: one line; nothing varied at all: one cell.
  EXPECT_EQ(
      robot::sweepGrid({row("ball_bearing_deg=0", 0, true), row("ball_bearing_deg=15", 15, true)})
          .lines,
      std::vector<std::string>{"all settings alike"});
  EXPECT_EQ(robot::sweepGrid({row("", 0, true)}).cells.size(), 1U);
}

TEST(RobotSweepChart, DrawsAPngWideEnoughForEveryBearingOrSaysWhyNot) {
  std::vector<robot::SweepRow> rows;
  for (const double bearing : {0, 15, 45, 90, 150, 170, -30})
    rows.push_back(row("ball_bearing_deg=" + std::to_string(bearing), bearing, bearing < 10));
  const std::string png = testing::TempDir() + "robot_sweep_chart.png";
  std::string why = "stale";
  ASSERT_TRUE(robot::drawSweepChart(rows, true, png, why)) << why;
  EXPECT_EQ(why, "");
  const Pixels pixels(png);
  std::filesystem::remove(png);
  EXPECT_EQ(pixels.width(), 20 + 330 + 8 * 96 + 20);  // the labels, 7 bearings, the scored count
  EXPECT_EQ(pixels.height(), 96 + 30 + 50);           // one settings line
  EXPECT_FALSE(robot::drawSweepChart(rows, false, "/no/such/folder/chart.png", why));
  EXPECT_EQ(
      why,
      "cannot write the chart /no/such/folder/chart.png: error while writing to output stream");
}

}  // namespace
