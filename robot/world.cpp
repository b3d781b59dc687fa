#include "robot/world.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace robot {

World::World(const Scenario& s)
    : robot_(s.robot), field_(s.field), dt_(s.run.stepS > 0 ? s.run.stepS : 0.001) {
  // The bearing is to the right, and the field's y is to the left.
  const double bearing = -s.field.ballBearingDeg * std::numbers::pi / 180;
  ballX_ = s.field.ballDistanceM * std::cos(bearing);
  ballY_ = s.field.ballDistanceM * std::sin(bearing);
}

double World::wheelTarget(int duty) const {
  if (std::abs(duty) < robot_.deadBandDuty) return 0;
  return duty / 255.0 * robot_.topSpeedMPerS;
}

void World::step(int leftDuty, int rightDuty) {
  // The lag's exact response over one step, so that it holds for any step and time constant.
  const double follow = robot_.lagS > 0 ? 1 - std::exp(-dt_ / robot_.lagS) : 1;
  left_ += (wheelTarget(leftDuty) - left_) * follow;
  right_ += (wheelTarget(rightDuty) - right_) * follow;
  const double v = (left_ + right_) / 2;
  const double omega = (right_ - left_) / robot_.wheelBaseM;
  // The heading halfway through the step keeps an arc's chord close to the arc.
  const double mid = pose_.heading + omega * dt_ / 2;
  pose_.x += v * std::cos(mid) * dt_;
  pose_.y += v * std::sin(mid) * dt_;
  pose_.heading += omega * dt_;
  moveBall();
  push();
  t_ += dt_;
}

void World::moveBall() {
  const double speed = std::hypot(ballVx_, ballVy_);
  if (speed > 0) {
    const double slower = std::max(0.0, speed - field_.ballDecelerationMPerS2 * dt_) / speed;
    ballX_ += (ballVx_ * (1 + slower) / 2) * dt_;
    ballY_ += (ballVy_ * (1 + slower) / 2) * dt_;
    ballVx_ *= slower;
    ballVy_ *= slower;
  }
}

// The body, a disc round the axle's middle, moves the ball out of itself along the normal and
// gives it at least the body's own speed along that normal.
void World::push() {
  const double dx = ballX_ - pose_.x;
  const double dy = ballY_ - pose_.y;
  const double reach = robot_.radiusM + field_.ballRadiusM;
  const double distance = std::hypot(dx, dy);
  if (distance >= reach || distance == 0) return;
  const double nx = dx / distance;
  const double ny = dy / distance;
  ballX_ = pose_.x + nx * reach;
  ballY_ = pose_.y + ny * reach;
  const double v = (left_ + right_) / 2;
  const double bodyAlong = v * (std::cos(pose_.heading) * nx + std::sin(pose_.heading) * ny);
  const double ballAlong = ballVx_ * nx + ballVy_ * ny;
  if (ballAlong >= bodyAlong) return;
  ballVx_ += (bodyAlong - ballAlong) * nx;
  ballVy_ += (bodyAlong - ballAlong) * ny;
}

}  // namespace robot
