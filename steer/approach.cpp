#include "steer/approach.h"

#include <algorithm>

namespace steer {

Decision approach(const Settings& s, const Positions& p, ApproachMemory& memory) {
  Decision d;
  if (!p.objectRead) {
    d.waiting = Waiting::object;
    return d;
  }
  const float x = p.b[0];
  if (x != x) return d;
  const auto width = static_cast<float>(s.width);
  // A column at the picture's edge may be a searching producer's, not a sighting.
  const bool ballSeen = x > 0 && x < width - 1;
  const float goal = (p.m[2] + p.m[6]) / 2;
  if (p.goalRead && ballSeen && goal == goal && (!memory.goalKnown || goal != memory.goal)) {
    memory = {true, goal, goal - x};
  }
  const auto limit = static_cast<float>(s.aimLimit);
  const float aim =
      memory.goalKnown
          ? std::clamp(memory.offset * static_cast<float>(s.aimGain) / 100, -limit, limit)
          : 0;
  const float error = x - (width / 2 + aim);
  const auto band = static_cast<float>(s.band);
  // Near the ball a spin swings it across the picture: arcs turn gently and carry it round.
  const bool near = p.b[1] >= static_cast<float>(s.nearRow);
  if (error > band) {
    d.command = {near ? 4 : 1, s.pwr};
  } else if (error < -band) {
    d.command = {near ? 3 : 2, s.pwr};
  } else {
    d.command = {5, s.drivePower};
  }
  return d;
}

}  // namespace steer
