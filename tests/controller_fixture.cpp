#include "tests/controller_fixture.h"

#include <csignal>
#include <cstdlib>
#include <fstream>

#include "steer/signals.h"
#include "tests/recording_serial.h"

void ControllerTest::SetUp() {
  std::string pattern = (std::filesystem::temp_directory_path() / "steer-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
  previous_ = std::filesystem::current_path();
  std::filesystem::current_path(dir_);

  // As after a first whole read of each file; the safe start has a test of its own.
  controller.positions.objectRead = true;
  controller.positions.goalRead = true;
  steer::exit = 0;
  steer::stopsPending = 0;
  steer::suspendPending = 0;
  recording::reset();
}

void ControllerTest::TearDown() {
  // The loop ends with its signals blocked: drop any that wait, then put them back as they were.
  sigset_t ours;
  sigemptyset(&ours);
  for (const int sig : steer::endingSignals) sigaddset(&ours, sig);
  sigaddset(&ours, SIGTSTP);
  for (const int sig : steer::endingSignals) EXPECT_NE(std::signal(sig, SIG_IGN), SIG_ERR);
  EXPECT_NE(std::signal(SIGTSTP, SIG_IGN), SIG_ERR);
  pthread_sigmask(SIG_UNBLOCK, &ours, nullptr);
  for (const int sig : steer::endingSignals) EXPECT_NE(std::signal(sig, SIG_DFL), SIG_ERR);
  EXPECT_NE(std::signal(SIGTSTP, SIG_DFL), SIG_ERR);
  recording::reset();
  std::filesystem::current_path(previous_);
  std::filesystem::remove_all(dir_);
}

void ControllerTest::write(const std::string& name, const std::string& text) {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << text;
}
