#include "robot/detection_errors.h"

#include <cmath>

namespace robot {
namespace {

std::mt19937_64 stream(int seed, int which) {
  std::seed_seq sequence{seed, which};  // seed_seq's output is fixed by the standard too
  return std::mt19937_64(sequence);
}

// Uniform in [0, 1), from the generator's top 53 bits.
double uniformDraw(std::mt19937_64& bits) { return static_cast<double>(bits() >> 11) * 0x1p-53; }

// Normal with mean 0 and standard deviation 1, by the polar method.
double normalDraw(std::mt19937_64& bits) {
  for (;;) {
    const double x = 2 * uniformDraw(bits) - 1;
    const double y = 2 * uniformDraw(bits) - 1;
    const double r = x * x + y * y;
    if (r > 0 && r < 1) return x * std::sqrt(-2 * std::log(r) / r);
  }
}

}  // namespace

DetectionErrors::DetectionErrors(const CameraSettings& c, int seed)
    : noiseSdPx_(c.noiseSdPx),
      missedShare_(c.missedShare),
      falseBallShare_(c.falseBallShare),
      missing_(stream(seed, 0)),
      falses_(stream(seed, 1)),
      noise_(stream(seed, 2)) {}

bool DetectionErrors::missed() { return missedShare_ > 0 && uniformDraw(missing_) < missedShare_; }

bool DetectionErrors::falseBall() {
  return falseBallShare_ > 0 && uniformDraw(falses_) < falseBallShare_;
}

double DetectionErrors::anywhere(double size) { return uniformDraw(falses_) * size; }

double DetectionErrors::noisy(double value) {
  return noiseSdPx_ > 0 ? value + noiseSdPx_ * normalDraw(noise_) : value;
}

}  // namespace robot
