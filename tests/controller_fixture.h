// A fixture for tests of the controller's own code: start-up state, a recording serial line, and
// a fresh working directory for the position files.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Replaces a file in the working directory.
  static void write(const std::string& name, const std::string& text);

  // The controller's monotonic clock, held still from now until the test ends; it moves only by
  // `ms` at a time, and never back.
  static void holdClock();
  static void advanceClock(int ms);

 private:
  std::filesystem::path dir_;
  std::filesystem::path previous_;
};
