// What the tool tells about the line: a line when what the line carries changes, the line
// settings when they change, and at the end a summary, on a terminal or as JSON.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "board/line_settings.h"
#include "board/receiver.h"
#include "firmware/steer_board/frame_decoder.h"

namespace board {

struct Tally {
  std::uint64_t bytes = 0;
  double firstByteAt = -1;  // when the first and the last byte arrived; -1 before any
  double lastByteAt = -1;
  std::uint64_t frames[FrameDecoder::lastCode + 1] = {};  // by direction code; [0] unused
  std::uint64_t stops = 0;
  std::uint64_t cutOff = 0;  // frames whose power byte came and then, at once, a stop
  std::uint64_t lonePowerBytes = 0;
  std::uint64_t strayBytes = 0;  // bytes that fit no frame, lone direction bytes among them
  LineSettings line;
  bool paced = false;
  std::uint64_t mostWaiting = 0;  // of a paced line: the most bytes that waited for the wire
  double duration = 0;
  std::string motors;      // the simulated board's at the end; empty without one
  std::string simulation;  // how closely the simulated board followed the line

  std::uint64_t allFrames() const;
};

// Tells each event as it comes unless it repeats the one before; a run's length is told when it
// ends.
class Report final : public Receiver {
 public:
  // `line` holds the settings before the program starts; only changes are told.
  Report(std::FILE* out, const LineSettings& line, bool paced);

  void settings(const LineSettings& s, double at) override;
  void arrived(std::uint8_t byte, double at) override;
  void quiet(double at) override;
  // What the simulated board's motors were at the end, for the summary.
  void simulated(const std::string& motors, const std::string& how);
  // Tells how the program ended and the summary.
  // The end is told no earlier than `lastEventAt`, the last event told of a simulated board.
  void end(double at, int exitStatus, std::uint64_t mostWaiting, double lastEventAt = 0);

  const Tally& tally() const { return tally_; }

 private:
  void event(const Event& e, double at);
  void tellEvent(const Event& e, double at, bool cutOff);
  void tell(double at, const std::string& bytes, const std::string& text);

  std::FILE* out_;
  Tally tally_;
  FrameDecoder decoder_;
  Event last_{};
  std::uint64_t run_ = 0;  // how many times in a row last_ came
  // A lone power byte is told once the next event shows whether a stop cut its frame off.
  bool holding_ = false;
  Event held_{};
  double heldAt_ = 0;
};

// The summary as one JSON object.
std::string summaryJson(const Tally& t, int exitStatus);

}  // namespace board
