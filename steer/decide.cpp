#include "steer/decide.h"

namespace steer {

int goalFromMean(float mean) {
  // 2^31 is exact in single precision; every float below it truncates into int's range.
  constexpr float intEnd = 2147483648.0F;
  if (mean != mean) return 0;
  if (mean >= intEnd) return 2147483647;
  if (mean < -intEnd) return -2147483647 - 1;
  return static_cast<int>(mean);
}

Decision decide(const Settings& s, const Positions& p) {
  Decision d;
  if (!p.objectRead) {
    d.waiting = Waiting::object;
    return d;
  }
  const int hi = s.width / 2 + s.band;
  const int lo = s.width / 2 - s.band;
  const float x = p.b[0];
  if (x > static_cast<float>(hi)) {
    d.command = {1, s.pwr};
  } else if (x < static_cast<float>(lo)) {
    d.command = {2, s.pwr};
  } else if (static_cast<float>(lo) <= x && x <= static_cast<float>(hi)) {
    if (!p.goalRead) {
      d.waiting = Waiting::goal;
      return d;
    }
    d.centred = true;
    d.goal = goalFromMean((p.m[2] + p.m[6]) / 2);
    if (d.goal > hi) {
      d.command = {4, s.pwr};
    } else if (d.goal < lo) {
      d.command = {3, s.pwr};
    } else {
      d.command = {5, s.drivePower};
    }
  }
  return d;  // x is not a number: no command
}

}  // namespace steer
