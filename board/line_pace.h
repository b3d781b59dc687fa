// A serial line in time, so that a pseudo-terminal can pace its writer as a UART does: each byte
// takes the time of its bits on the wire, one after the other. While one byte is on the wire the
// next may wait in the transmit register; a writer with yet another byte to give is held.
#pragma once

#include <cstdint>

#include "board/line_settings.h"
#include "serial/line_speeds.h"

namespace board {

// The rate a line is paced at while the program has set none.
inline constexpr unsigned unsetRateBaud = wire::boardBaud;

// Seconds one byte takes on the wire: its start bit, data bits, parity bit and stop bits.
double byteTime(const LineSettings& s);

class Transmitter {
 public:
  // Takes a byte handed over at `at` (seconds) that takes `time` on the wire; returns when its
  // last bit reaches the far end.
  double send(double at, double time);

  // The writer is held until then: the last byte taken waits for the wire till that moment.
  double heldUntil() const { return lastStart_; }

  // How many of the bytes taken have not gone on the wire at `at`.
  std::uint64_t waiting(double at, double time) const;

 private:
  double lastStart_ = 0;
  double lastEnd_ = 0;
};

}  // namespace board
