#include "steer/approach.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace steer {

namespace {

constexpr float degree = std::numbers::pi_v<float> / 180;

// Into (-180, 180].
float wrap(float deg) {
  const float r = std::remainder(deg, 360.0F);
  return r == -180 ? 180 : r;
}

// Degrees a second to the right that `c` turns the robot, from the firmware's code table: a spin
// at the spin rate (at full power), an arc, one wheel at half the other's speed, at a quarter.
float turnRate(const Settings& s, Command c) {
  const float rate =
      static_cast<float>(s.spinRate) * static_cast<float>(std::min(c.power, 100)) / 100;
  switch (c.nap) {
    case 1:
      return rate;
    case 2:
      return -rate;
    case 3:
      return -rate / 4;
    case 4:
      return rate / 4;
    default:
      return 0;
  }
}

struct Lens {
  float width;
  float focal;  // in columns
  float edge;   // the bearing of the picture's edge
  float lag;    // degrees turned while a picture reaches the files
  float bearing(float column) const {
    return std::atan((column - width / 2) / focal) / degree - lag;
  }
  float angle(int columns) const { return std::atan(static_cast<float>(columns) / focal) / degree; }
};

// Turns what is kept by what has turned since the last pass, and takes in what the files show.
void track(const Settings& s, const Positions& p, std::int64_t nowMs, const Lens& lens,
           ApproachMemory& m) {
  if (m.atMs >= 0) {
    const float turned = turnRate(s, m.sent) * static_cast<float>(nowMs - m.atMs) / 1000;
    // A circling arc carries the robot round the ball as it turns: the ball stays abeam and
    // the goal comes round toward it.
    if (m.circling && (m.sent.nap == 3 || m.sent.nap == 4)) {
      m.apart = wrap(m.apart - turned);
    } else {
      m.ball = wrap(m.ball - turned);
    }
    m.goal = wrap(m.goal - turned);
  }
  m.atMs = nowMs;
  const float x = p.b[0];
  // A column at the picture's edge may be a searching producer's, not a sighting.
  const bool ballSeen = x > 0 && x < lens.width - 1;
  if (ballSeen) {
    m.ball = lens.bearing(x);
    m.ballRow = p.b[1];
  } else if (m.ballKnown && std::abs(m.ball) < lens.edge) {
    m.ball = x > 0 ? lens.edge : -lens.edge;  // just beyond the edge the producer names
  }
  const float goal = (p.m[2] + p.m[6]) / 2;
  if (p.goalRead && goal == goal && (!m.goalKnown || goal != m.goalColumn)) {
    m.goalKnown = true;
    m.goal = lens.bearing(goal);
    m.goalColumn = goal;
    if (ballSeen) {
      m.apartKnown = true;
      m.apart = wrap(m.goal - m.ball);
    }
  }
  // The first sighting of the ball, after the goal's: from the goal's bearing as turned since.
  if (ballSeen && !m.ballKnown && m.goalKnown && !m.apartKnown) {
    m.apartKnown = true;
    m.apart = wrap(m.goal - m.ball);
  }
  m.ballKnown = m.ballKnown || ballSeen;
}

}  // namespace

Decision approach(const Settings& s, const Positions& p, std::int64_t nowMs,
                  ApproachMemory& memory) {
  Decision d;
  if (!p.objectRead) {
    d.waiting = Waiting::object;
    return d;
  }
  if (p.b[0] != p.b[0]) return d;
  const auto width = static_cast<float>(s.width);
  const float half = static_cast<float>(s.viewDeg) / 2;
  const Lens lens{width, width / 2 / std::tan(half * degree), half,
                  turnRate(s, memory.sent) * static_cast<float>(s.latencyMs) / 1000};
  track(s, p, nowMs, lens, memory);
  // Before the ball is first seen, the producer's edge column says which way to search.
  const float ball = memory.ballKnown ? memory.ball : lens.bearing(p.b[0]);
  const float apart = memory.apartKnown ? memory.apart : 0;
  const bool near = memory.ballKnown && memory.ballRow >= static_cast<float>(s.nearRow);
  const auto lineUp = static_cast<float>(s.lineUp);
  if (!near || std::abs(apart) <= lineUp) memory.circling = false;
  if (near && std::abs(apart) > 3 * lineUp) memory.circling = true;
  // Circling holds the ball abeam on the goal's side; otherwise the ball is held toward the
  // goal's side of the picture, so that the robot comes round behind it.
  const float limit = lens.angle(s.aimLimit);
  const float target = memory.circling
                           ? std::copysign(90.0F, apart)
                           : std::clamp(apart * static_cast<float>(s.aimGain) / 100, -limit, limit);
  const float error = wrap(ball - target);
  // Near the ball a spin swings it across the picture: arcs turn gently and carry it round; a
  // ball out of the picture is spun toward, fast while it has never been seen.
  const bool arc = near && !memory.circling && std::abs(ball) < lens.edge;
  const int power = arc ? s.arcPower : memory.ballKnown ? s.pwr : s.drivePower;
  const float band = lens.angle(s.band);
  if (error > band) {
    d.command = {arc ? 4 : 1, power};
  } else if (error < -band) {
    d.command = {arc ? 3 : 2, power};
  } else if (memory.circling) {
    d.command = {apart > 0 ? 4 : 3, s.arcPower};
  } else {
    d.command = {5, s.drivePower};
  }
  memory.sent = d.command;
  return d;
}

}  // namespace steer
