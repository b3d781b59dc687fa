// A fixture for tests of the controller's own code: a controller with steer's defaults, its line
// the board's device through a recording serial layer, its clock one that a test may hold still,
// and a fresh working directory for the position files.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "steer/controller.h"
#include "steer/device_line.h"
#include "steer/position_files.h"

// The machine's clock until a test holds it still; then it moves only by hand, and never back.
class TestClock : public steer::Clock {
 public:
  std::int64_t nowMs() override { return held_ ? heldMs_ : real_.nowMs(); }
  void hold() {
    heldMs_ = nowMs();
    held_ = true;
  }
  void advance(int ms) { heldMs_ += ms; }

 private:
  steer::MonotonicClock real_;
  bool held_ = false;
  std::int64_t heldMs_ = 0;
};

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Replaces a file in the working directory.
  static void write(const std::string& name, const std::string& text);

  TestClock clock;
  steer::PositionFiles files;
  steer::DeviceLine line{"/dev/ttyUSB0", clock};
  steer::Controller controller{steer::Settings{}, clock, files, line};

 private:
  std::filesystem::path dir_;
  std::filesystem::path previous_;
};
