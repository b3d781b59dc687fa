// virtual-robot's picture of a run: a PNG of the size it promises, or the reason it has none.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "picture.h"

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

TEST(RobotPicture, DrawsAPngOfItsSizeOrSaysWhyNot) {
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
  EXPECT_EQ(bytes.substr(16, 8), std::string("\0\0\x03\xe8\0\0\x03\x84", 8));  // 1000 x 900

  EXPECT_FALSE(robot::drawPicture(huntingRun(), "/no/such/folder/run.png", why));
  EXPECT_EQ(
      why,
      "cannot write the picture /no/such/folder/run.png: error while writing to output stream");
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

}  // namespace
