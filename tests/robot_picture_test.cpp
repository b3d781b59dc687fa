// virtual-robot's picture of a run: a PNG, SVG or PDF of the size it promises, or the reason it
// has none.
#include <gtest/gtest.h>

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
  EXPECT_EQ(bytes.substr(16, 8), std::string("\0\0\x03\xe8\0\0\x03\x84", 8));  // 1000 x 900

  // SVG and PDF, each with its own signature and the picture's size in points.
  const std::pair<const char*, const char*> vectors[] = {
      {".svg", "width=\"1000pt\" height=\"900pt\""}, {".pdf", "/MediaBox [ 0 0 1000 900 ]"}};
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

}  // namespace
