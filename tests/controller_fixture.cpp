#include "controller_fixture.h"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fstream>

#include "recording_serial.h"
#include "steer.h"

namespace {
bool clockHeld = false;
std::int64_t heldMs = 0;
std::int64_t shiftMs = 0;  // from the real clock, once a held one has run ahead of it
}  // namespace

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the linker's names
extern "C" std::int64_t __real__ZN5steer11monotonicMsEv();
extern "C" std::int64_t __wrap__ZN5steer11monotonicMsEv() {
  return clockHeld ? heldMs : __real__ZN5steer11monotonicMsEv() + shiftMs;
}

void ControllerTest::holdClock() {
  heldMs = __wrap__ZN5steer11monotonicMsEv();
  clockHeld = true;
}

void ControllerTest::advanceClock(int ms) { heldMs += ms; }

void ControllerTest::SetUp() {
  std::string pattern = (std::filesystem::temp_directory_path() / "steer-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
  previous_ = std::filesystem::current_path();
  std::filesystem::current_path(dir_);

  steer::width = 640;
  steer::pwr = 50;
  steer::band = 10;
  steer::drivePower = 100;
  steer::objectRead = true;  // as after a first whole read; the safe start has a test of its own
  steer::goalRead = true;
  steer::goal = 0;
  std::fill(std::begin(steer::m), std::end(steer::m), 0.0F);
  std::fill(std::begin(steer::b), std::end(steer::b), 0.0F);
  steer::exit = 0;
  steer::stopsPending = 0;
  steer::suspendPending = 0;
  steer::stopMissed = 0;
  steer::endingByMs = 0;
  steer::staleAfter = 0;
  steer::link = LinkReport{"steer", "/dev/ttyUSB0", "commands",
                           "steer decides and echoes only until it appears", 500};
  steer::goalFile = steer::FileReport{"t.txt", "eight numbers"};
  steer::objectFile = steer::FileReport{"b.txt", "\"(x, y\""};
  recording::reset();
}

void ControllerTest::TearDown() {
  if (clockHeld) shiftMs = heldMs - __real__ZN5steer11monotonicMsEv();
  clockHeld = false;
  // NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
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
