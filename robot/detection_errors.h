// The producer's detection errors: noise on every column and row it writes, pictures it misses
// and balls it finds where there is none. Drawn from std::mt19937_64, whose output the standard
// fixes, through transforms of our own (the standard library's distributions differ between
// implementations), so that a seed gives the same run with any compiler.
#pragma once

#include <cstdint>
#include <random>

#include "robot/scenario.h"

namespace robot {

class DetectionErrors {
 public:
  DetectionErrors(const CameraSettings& c, int seed);
  bool missed();                 // the picture gives no file
  bool falseBall();              // the picture's ball is a false one
  double anywhere(double size);  // a false ball's column or row: uniform in [0, size)
  double noisy(double value);    // a detected column or row, with the noise added

 private:
  double noiseSdPx_, missedShare_, falseBallShare_;
  // A stream for each error, so that turning one on leaves the others' draws as they were.
  std::mt19937_64 missing_, falses_, noise_;
};

}  // namespace robot
