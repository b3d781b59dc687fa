// What one run of a scenario recorded, and the measures taken from it (see measures.h).
#pragma once

#include <string>
#include <vector>

#include "robot/measures.h"
#include "robot/scenario.h"

namespace robot {

// The world every millisecond of simulated time (field frame, see scenario.h).
struct Sample {
  double t = 0;                          // seconds since steer started
  double x = 0, y = 0, heading = 0;      // robot: m, m, rad
  double leftSpeed = 0, rightSpeed = 0;  // wheels' ground speeds, m/s
  double ballX = 0, ballY = 0;           // m
  double u = 0;                          // the ball's column in the b.txt last written; NaN: none
  double goalColumn = 0;                 // steer's goal column, (x1 + x3) / 2, of the t.txt last
                                         // written; NaN: none
  int leftDuty = 0, rightDuty = 0;       // the firmware's motor outputs, -255 (backward) to 255
};

// A frame or a stop sequence reaching the board, as its decoder tells it.
struct LineEvent {
  double t = 0;  // when its last byte arrived
  int code = 0;  // 1 to 5 for a frame, 0 for a stop
  int power = 0;
};

struct Run {
  Scenario scenario;
  int band = 10;          // steer's band half-width, in columns, that this run used
  bool realTime = false;  // the real steer on the wall clock; false: lockstep
  std::vector<Sample> samples;
  std::vector<LineEvent> events;
  Measures measures;
};

}  // namespace robot
