// The field as the robot meets it: a differential-drive robot whose wheels follow the motors'
// duties with a lag, and a ball its body pushes (a goal is counted from the trace: measures.h).
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

 private:
  double wheelTarget(int duty) const;
  void moveBall();
  void push();

  RobotSettings robot_;
  FieldSettings field_;
  double dt_;
  double t_ = 0;
  Pose pose_;
  double left_ = 0, right_ = 0;  // wheels' ground speeds, m/s
  double ballX_, ballY_;
  double ballVx_ = 0, ballVy_ = 0;
};

}  // namespace robot
