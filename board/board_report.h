// What the tool tells about the line: a line when what the line carries changes, the line
// settings when they change, and at the end a summary, on a terminal or as JSON.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "frame_decoder.h"
#include "line_settings.h"

namespace board {

struct Tally {
  std::uint64_t bytes = 0;
  std::uint64_t frames[FrameDecoder::lastCode + 1] = {};  // by direction code; [0] unused
  std::uint64_t stops = 0;
  std::uint64_t lonePowerBytes = 0;
  std::uint64_t strayBytes = 0;  // bytes that fit no frame, lone direction bytes among them
  LineSettings line;

  std::uint64_t allFrames() const;
};

class Report {
 public:
  // `line` holds the settings before the program starts; only changes are told.
  Report(std::FILE* out, const LineSettings& line) : out_(out) { tally_.line = line; }

  void received(std::uint64_t bytes) { tally_.bytes += bytes; }
  void settings(const LineSettings& s, double at);
  // Tells an event unless it repeats the one before; a run's length is told when it ends.
  void event(const Event& e, double at);
  // Tells how the program ended and the summary.
  void end(double at, int exitStatus);

  const Tally& tally() const { return tally_; }

 private:
  void tell(double at, const std::string& bytes, const std::string& text);

  std::FILE* out_;
  Tally tally_;
  Event last_{};
  std::uint64_t run_ = 0;  // how many times in a row last_ came
};

// The summary as one JSON object.
std::string summaryJson(const Tally& t, int exitStatus);

}  // namespace board
