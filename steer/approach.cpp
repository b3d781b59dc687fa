#include "steer/approach.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstdio>
#include <cstdlib>

namespace steer {

namespace {

constexpr float degree = std::numbers::pi_v<float> / 180;

// Into (-180, 180].
float wrap(float deg) {
  while (deg > 180) deg -= 360;
  while (deg <= -180) deg += 360;
  return deg;
}

// Degrees a second to the right that `c` turns the robot: a spin turns at the spin rate at full
// power, an arc (one wheel at half the other's speed) at a quarter of a spin's.
float turnRate(const Settings& s, Command c) {
  const float rate = static_cast<float>(s.spinRate) * static_cast<float>(std::min(c.power, 100)) / 100;
  switch (c.nap) {
    case 1: return rate;
    case 2: return -rate;
    case 3: return -rate / 4;
    case 4: return rate / 4;
    default: return 0;
  }
}

}  // namespace

Decision approach(const Settings& s, const Positions& p, std::int64_t nowMs,
                  ApproachMemory& memory) {
  Decision d;
  if (!p.objectRead) {
    d.waiting = Waiting::object;
    return d;
  }
  const float x = p.b[0];
  if (x != x) return d;
  // What has turned since the last pass moves the bearings the other way; a circling arc
  // carries the robot round the ball as it turns, so the ball stays abeam and the goal comes
  // round toward it.
  if (memory.atMs >= 0) {
    const float turned = turnRate(s, memory.sent) * static_cast<float>(nowMs - memory.atMs) / 1000;
    const bool circled = memory.circling && (memory.sent.nap == 3 || memory.sent.nap == 4);
    if (circled) {
      memory.apart = wrap(memory.apart - turned);
    } else {
      memory.ball = wrap(memory.ball - turned);
    }
    memory.goal = wrap(memory.goal - turned);
  }
  memory.atMs = nowMs;
  const auto width = static_cast<float>(s.width);
  const float focal = width / 2 / std::tan(static_cast<float>(s.viewDeg) * degree / 2);
  const auto bearing = [&](float column) { return std::atan((column - width / 2) / focal) / degree; };
  // A column at the picture's edge may be a searching producer's, not a sighting.
  const bool ballSeen = x > 0 && x < width - 1;
  if (ballSeen) {
    memory.ball = bearing(x);
    memory.ballRow = p.b[1];
  } else if (memory.ballKnown) {
    // Out of the picture, but believed in it: just beyond the edge the producer names.
    const float edge = static_cast<float>(s.viewDeg) / 2;
    if (std::abs(memory.ball) < edge) memory.ball = x > 0 ? edge : -edge;
  }
  const float goal = (p.m[2] + p.m[6]) / 2;
  if (p.goalRead && goal == goal && (!memory.goalKnown || goal != memory.goalColumn)) {
    memory.goalKnown = true;
    memory.goal = bearing(goal);
    memory.goalColumn = goal;
    if (ballSeen) {
      memory.apartKnown = true;
      memory.apart = memory.goal - memory.ball;
    }
  }
  if (ballSeen && !memory.ballKnown && memory.goalKnown && !memory.apartKnown) {
    memory.apartKnown = true;
    memory.apart = wrap(memory.goal - memory.ball);
  }
  memory.ballKnown = memory.ballKnown || ballSeen;
  const float band = std::atan(static_cast<float>(s.band) / focal) / degree;
  const float ball = memory.ballKnown ? memory.ball : bearing(x);
  // The goal's bearing less the ball's: 0 once the robot is behind the ball.
  const float apart = memory.apartKnown ? memory.apart : 0;
  const bool near = memory.ballKnown && memory.ballRow >= static_cast<float>(s.nearRow);
  if (near && std::abs(apart) > static_cast<float>(s.circleFrom)) memory.circling = true;
  if (!near || std::abs(apart) <= static_cast<float>(s.lineUp)) memory.circling = false;
  float target = 0;
  if (memory.circling) {
    target = apart > 0 ? 90.0F : -90.0F;
  } else {
    const float limit = std::atan(static_cast<float>(s.aimLimit) / focal) / degree;
    target = std::clamp(apart * static_cast<float>(s.aimGain) / 100, -limit, limit);
  }
  const float error = wrap(ball - target);
  // Near the ball a spin swings it across the picture: arcs turn gently and carry it round; one
  // out of the picture is spun back into it.
  const bool arc = near && !memory.circling && std::abs(ball) < static_cast<float>(s.viewDeg) / 2;
  const int turnPower = arc ? s.arcPower : memory.ballKnown ? s.pwr : s.searchPower;
  if (error > band) {
    d.command = {arc ? 4 : 1, turnPower};
  } else if (error < -band) {
    d.command = {arc ? 3 : 2, turnPower};
  } else if (memory.circling) {
    d.command = {apart > 0 ? 4 : 3, s.circlePower};
  } else {
    d.command = {5, s.drivePower};
  }
  memory.sent = d.command;
  static const bool dbg = std::getenv("APPROACH_DEBUG") != nullptr;
  static std::int64_t lastDbg = -1000;
  if (dbg && nowMs - lastDbg >= (std::getenv("APPROACH_ALL") ? 0 : 100)) {
    lastDbg = nowMs;
    std::fprintf(stderr, "%lld x=%.0f row=%.0f ball=%.1f goal=%.1f apart=%.1f near=%d circ=%d -> %d,%d\n",
                 (long long)nowMs, x, memory.ballRow, memory.ball, memory.goal, apart, near, memory.circling, d.command.nap, d.command.power);
  }
  return d;
}

}  // namespace steer
