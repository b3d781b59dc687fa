#include "robot/camera.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <system_error>
#include <utility>

namespace robot {

Camera::Camera(const CameraSettings& c, double aheadOfCentreM)
    : focal_(pictureWidth / 2 / std::tan(c.fieldOfViewDeg / 2 * std::numbers::pi / 180)),
      heightM_(c.heightM),
      aheadM_(aheadOfCentreM) {}

Seen Camera::look(const Pose& robot, double x, double y, double z) const {
  const double c = std::cos(robot.heading);
  const double s = std::sin(robot.heading);
  const double dx = x - (robot.x + aheadM_ * c);
  const double dy = y - (robot.y + aheadM_ * s);
  const double ahead = dx * c + dy * s;
  const double right = dx * s - dy * c;  // the field's y is to the left
  if (ahead <= 0) return {};
  return {true, pictureWidth / 2 + focal_ * right / ahead,
          pictureHeight / 2 + focal_ * (heightM_ - z) / ahead};
}

Producer::Producer(const Scenario& s, std::string dir)
    : scenario_(s),
      camera_(s.camera, s.robot.radiusM),
      errors_(s.camera, s.run.seed),
      dir_(std::move(dir)),
      u_(std::numeric_limits<double>::quiet_NaN()),
      goalColumn_(std::numeric_limits<double>::quiet_NaN()) {}

Nanos Producer::nextTake() const {
  return std::llround(static_cast<double>(taken_) * 1e9 / scenario_.camera.frameRateHz);
}

Nanos Producer::nextWrite() const {
  return waiting_.empty() ? std::numeric_limits<Nanos>::max() : waiting_.front().writeAt;
}

namespace {

bool inColumns(double u) { return u >= 0 && u < pictureWidth; }

// A column or row as a detector reports it: nothing beyond the picture's edge, 0 or size - 1.
double inPicture(double value, double size) {
  return value >= 0 && value < size ? value : std::clamp(value, 0.0, size - 1);
}

}  // namespace

void Producer::take(const World& w) {
  Picture p{};
  p.writeAt = nextTake() + std::llround(scenario_.camera.latencyS * 1e9);
  ++taken_;
  if (errors_.missed()) return;
  findBall(w, p);
  findGoal(w, p);
  waiting_.push_back(p);
}

void Producer::findBall(const World& w, Picture& p) {
  if (errors_.falseBall()) {
    p.ballSeen = true;
    p.u = errors_.anywhere(pictureWidth);
    p.v = errors_.anywhere(pictureHeight);
    return;
  }
  const Seen ball = camera_.look(w.pose(), w.ballX(), w.ballY(), scenario_.field.ballRadiusM);
  p.ballSeen = ball.inFront && inColumns(ball.u);
  if (!p.ballSeen) return;
  p.u = inPicture(errors_.noisy(ball.u), pictureWidth);
  p.v = errors_.noisy(ball.v);
}

// The goal is found when both posts are: each in front of the lens, in the picture's columns and
// with some of it in its rows. A post's ends are where it leaves the picture, if it does.
void Producer::findGoal(const World& w, Picture& p) {
  const FieldSettings& f = scenario_.field;
  const double postY[2] = {f.goalCentreM + f.goalWidthM / 2, f.goalCentreM - f.goalWidthM / 2};
  for (size_t post = 0; post < 2; ++post) {
    const Seen top = camera_.look(w.pose(), f.goalDistanceM, postY[post], f.goalPostHeightM);
    const Seen foot = camera_.look(w.pose(), f.goalDistanceM, postY[post], 0);
    // A post stands upright, so its top and foot share their column and being in front.
    if (!foot.inFront || !inColumns(foot.u) || top.v >= pictureHeight || foot.v < 0) return;
    p.points[4 * post] = top.u;
    p.points[4 * post + 1] = inPicture(top.v, pictureHeight);
    p.points[4 * post + 2] = foot.u;
    p.points[4 * post + 3] = inPicture(foot.v, pictureHeight);
  }
  p.goalSeen = true;
  for (size_t i = 0; i < 8; ++i)
    p.points[i] = inPicture(errors_.noisy(p.points[i]), i % 2 == 0 ? pictureWidth : pictureHeight);
}

bool Producer::replace(const char* name, const std::string& text, std::string& why) const {
  const std::string path = dir_ + "/" + name;
  const std::string fresh = path + ".new";
  std::FILE* file = std::fopen(fresh.c_str(), "w");
  bool written = file != nullptr && std::fputs(text.c_str(), file) >= 0;
  if (file != nullptr) written = std::fclose(file) == 0 && written;
  if (written && std::rename(fresh.c_str(), path.c_str()) == 0) return true;
  return failed(why, "cannot write " + path + ": " + std::generic_category().message(errno));
}

bool Producer::writeBall(const Picture& p, std::string& why) {
  const OutOfView unseen = scenario_.camera.outOfView;
  if (!p.ballSeen && unseen != OutOfView::searchLeft && unseen != OutOfView::searchRight) {
    if (unseen == OutOfView::remove) (void)std::remove((dir_ + "/b.txt").c_str());
    return true;
  }
  if (p.ballSeen) lastSeenRight_ = p.u >= pictureWidth / 2;
  // Searching: the edge of the side the ball was last seen on, or the side named.
  const bool right = lastSeenRight_.value_or(unseen == OutOfView::searchRight);
  const double u = p.ballSeen ? p.u : right ? pictureWidth - 1 : 0;
  const double v = p.ballSeen ? p.v : pictureHeight / 2;
  char text[64];
  (void)std::snprintf(text, sizeof text, "(%.1f, %.1f)\n", u, v);
  if (!replace("b.txt", text, why)) return false;
  u_ = std::round(u * 10) / 10;  // as steer reads it
  return true;
}

bool Producer::write(Nanos now, std::string& why) {
  char text[128];
  while (!waiting_.empty() && waiting_.front().writeAt <= now) {
    const Picture p = waiting_.front();
    waiting_.pop_front();
    if (!writeBall(p, why)) return false;
    if (!p.goalSeen) continue;
    const double* q = p.points;
    (void)std::snprintf(text, sizeof text, "%.1f %.1f\n%.1f %.1f\n%.1f %.1f\n%.1f %.1f\n", q[0],
                        q[1], q[2], q[3], q[4], q[5], q[6], q[7]);
    if (!replace("t.txt", text, why)) return false;
    goalColumn_ = (std::round(q[2] * 10) / 10 + std::round(q[6] * 10) / 10) / 2;
  }
  return true;
}

}  // namespace robot
