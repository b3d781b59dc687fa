// The robot in the loop on one simulated clock: the board's firmware in the simulator, fed the
// line's bytes at the times the line brings them; its motor outputs turning the world's wheels;
// and the camera's producer writing the position files. Records a sample every millisecond (at
// the first physics step in it) and each frame or stop that reaches the board.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "board/line_feed.h"
#include "firmware/sim/board_sim.h"
#include "firmware/steer_board/frame_decoder.h"
#include "robot/camera.h"
#include "robot/trace.h"
#include "robot/world.h"
#include "serial/line_speeds.h"

namespace robot {

// One byte on the line as steer sets it.
inline constexpr Nanos lineByteNanos = wire::byteNanos(wire::boardBaud);

class Engine {
 public:
  // Null, with the reason in `why`, when the image cannot be loaded. The producer writes into
  // `dir`, from which stale position files are removed first.
  static std::unique_ptr<Engine> load(const Scenario& s, const std::string& elf,
                                      const std::string& dir, std::string& why);

  // A byte whose last bit reaches the board at `arrives`.
  void lineByte(std::uint8_t byte, Nanos arrives) { line_.add(byte, boardsim::SimTime(arrives)); }
  // The line's bytes from a thread that watches it, for takeArrived() in the engine's thread.
  board::LineFeed& line() { return line_; }
  // Steps everything up to `t`; false, with the reason in why(), when the firmware's processor
  // stopped for good or a position file could not be written.
  bool runTo(Nanos t);

  Nanos now() const { return now_; }
  // Whether every byte given has gone onto the simulated line and through its queue.
  bool lineEmpty() const { return line_.empty(); }
  const std::string& why() const { return why_; }
  // What was recorded; the engine is spent.
  Run takeRun();

 private:
  Engine(const Scenario& s, std::unique_ptr<boardsim::Board> board, const std::string& dir);
  void handOver();
  void stepWorld();

  std::unique_ptr<boardsim::Board> board_;
  World world_;
  Producer producer_;
  board::FrameDecoder decoder_;
  board::LineFeed line_;
  Nanos now_ = 0;
  Nanos stepNanos_;
  std::int64_t steps_ = 0;
  Nanos nextSample_ = 0;
  std::string why_;
  Run run_;
};

}  // namespace robot
