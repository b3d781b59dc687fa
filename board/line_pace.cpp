#include "board/line_pace.h"

#include <algorithm>
#include <cmath>

#include "serial/line_speeds.h"

namespace board {

double byteTime(const LineSettings& s) {
  const int bits = wire::bitsPerByte(s.dataBits, s.parity != 'N', s.stopBits);
  return bits / static_cast<double>(s.baud == 0 ? unsetRateBaud : s.baud);
}

double Transmitter::send(double at, double time) {
  lastStart_ = std::max(at, lastEnd_);
  lastEnd_ = lastStart_ + time;
  return lastEnd_;
}

std::uint64_t Transmitter::waiting(double at, double time) const {
  // Rounding must not make a whole number of byte times one more.
  const double times = (lastStart_ - at) / time - 1e-6;
  return times <= 0 ? 0 : static_cast<std::uint64_t>(std::ceil(times));
}

}  // namespace board
