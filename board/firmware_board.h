// The board's firmware image in the simulator, run alongside the program and paced to the wall
// clock: it gets each byte at the time the line brings it, and the motors' states are told as
// they change, once they have settled (one frame passes through a few states within ~80 us).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "board/receiver.h"
#include "firmware/sim/board_sim.h"

namespace board {

// "off", or each motor's direction and duty and what the two make the robot do, such as
// "left forward 50%, right backward 50% (spin right)".
std::string describeMotors(const boardsim::Motors& m);

class FirmwareBoard final : public Receiver {
 public:
  // Null, with the reason in `why`, when the image cannot be loaded.
  static std::unique_ptr<FirmwareBoard> load(const std::string& elf, std::FILE* out,
                                             std::string& why);
  ~FirmwareBoard();
  FirmwareBoard(const FirmwareBoard&) = delete;
  FirmwareBoard& operator=(const FirmwareBoard&) = delete;

  // Starts the simulation; its time zero is `zero`, the program's start.
  void start(std::chrono::steady_clock::time_point zero);

  void settings(const LineSettings& /*s*/, double /*at*/) override {}  // the firmware sets its own
  void arrived(std::uint8_t byte, double at) override;
  void quiet(double /*at*/) override {}

  // Once the program has ended: simulates on until the firmware has had every byte and its
  // motors are off, or for half a second after the last byte reached it, so that its own
  // time-out shows; then stops. Returns the summary's line about it.
  std::string finish();
  const std::string& motors() const { return told_; }
  // When the last change of the motors that it told happened, seconds from the start.
  double lastToldAt() const { return toldAt_; }

 private:
  struct Byte {
    std::uint8_t value;
    double at;  // when the line brings it, seconds from the start
  };

  explicit FirmwareBoard(std::unique_ptr<boardsim::Board> sim, std::FILE* out);
  void run();
  bool done() const;
  void feed();
  void runTo(boardsim::SimTime target);
  double wall() const;
  double now() const;

  std::unique_ptr<boardsim::Board> sim_;
  std::FILE* out_;
  std::chrono::steady_clock::time_point zero_;
  std::thread thread_;
  std::mutex lock_;
  std::deque<Byte> arriving_;  // from the program's side, under lock_
  bool ending_ = false;        // under lock_
  // The simulation's own, in its thread.
  std::deque<Byte> due_;       // not yet handed to the simulated line
  std::deque<double> onLine_;  // handed over, not yet gone onto the simulated line
  double lastArrival_ = 0;     // when the last byte reached the firmware
  double mostLate_ = 0;        // the most a byte reached it after the line brought it
  double mostBehind_ = 0;      // the most the simulation fell behind the wall clock
  bool stopped_ = false;       // the processor stopped for good
  std::string told_ = "off";
  double toldAt_ = 0;
};

}  // namespace board
