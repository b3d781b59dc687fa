// The field as the robot meets it: a differential-drive robot whose wheels follow the motors'
// duties with a lag, a ball its body pushes, and a goal that counts the ball crossing its line.
// Field frame and settings: scenario.h.
#pragma once

#include "robot/scenario.h"

namespace robot {

struct Pose {
  double x = 0, y = 0, heading = 0;
};

class World {
 public:
  explicit World(const Scenario& s);

  // Advances by one physics step with the motors' duties, -255 (backward) to 255.
  void step(int leftDuty, int rightDuty);

  double time() const { return t_; }
  double stepS() const { return dt_; }
  const Pose& pose() const { return pose_; }
  double leftSpeed() const { return left_; }
  double rightSpeed() const { return right_; }
  double ballX() const { return ballX_; }
  double ballY() const { return ballY_; }
  double scoredAt() const { return scoredAt_; }  // -1 until the ball crosses the goal line

 private:
  double wheelTarget(int duty) const;
  void moveBall();
  void push();
  void countGoal(double fromX, double fromY);

  RobotSettings robot_;
  FieldSettings field_;
  double dt_;
  double t_ = 0;
  Pose pose_;
  double left_ = 0, right_ = 0;  // wheels' ground speeds, m/s
  double ballX_, ballY_;
  double ballVx_ = 0, ballVy_ = 0;
  double scoredAt_ = -1;
};

}  // namespace robot
