// How steer picks a command: the centre-band rules, a pure function of its settings and the
// positions it has read.
#pragma once

namespace steer {

// What the command line sets; the defaults are steer's own.
struct Settings {
  const char* device = "/dev/ttyUSB0";  // the board's serial device
  int width = 640;                      // the picture's columns and rows
  int height = 480;
  int pwr = 50;          // the power of every command but the aligned one (the turning power)
  int band = 10;         // the centre band's half-width round the centre column
  int drivePower = 100;  // the aligned command's power
  int staleAfter = 0;    // ms without a change to either file before the board is stopped; 0: never
  bool approach = false;  // bring the ball into the goal, settings below
  int aimGain = 100;   // percent of the goal's bearing less the ball's to hold the ball off centre
  int aimLimit = 200;  // columns: the most the ball is held off centre
  int nearRow = 450;   // a ball at this row or lower in the picture is near
  int lineUp = 10;     // degrees: a near ball is circled from 3 times this off the goal's line
                       // until this close to it
  int arcPower = 100;  // the power of the arcs near the ball
  int spinRate = 229;  // degrees a second the robot spins at full power
  int viewDeg = 62;    // degrees the picture's columns span
  int latencyMs = 80;  // from a picture to its files, and half a picture's interval
};

// The positions as last read: goal point k is (m[2k], m[2k+1]) from "t.txt", the object (b[0],
// b[1]) from "b.txt"; and whether each file has been read whole at least once, so that no command
// rests on a position that was never read.
struct Positions {
  float m[8] = {};
  float b[2] = {};
  bool objectRead = false;
  bool goalRead = false;
};

// A command for the board: direction code `nap` (1 to 5) and power; nap 0 means none.
struct Command {
  int nap = 0;
  int power = 0;
};

// Which file a command waits for: one never yet read whole.
enum class Waiting { nothing, object, goal };

struct Decision {
  Command command;
  Waiting waiting = Waiting::nothing;
  bool centred = false;  // the object is in the band; then `goal` is the goal's column
  int goal = 0;
};

// The centre-band rules for the object at b[0] and, once it is centred, the goal. No command
// when b[0] is not a number, before b.txt has been read whole, and for a centred object before
// t.txt has been read whole.
Decision decide(const Settings& settings, const Positions& positions);

// The goal's column from the mean of two x coordinates: toward zero, saturating at the ends of
// int, and 0 for a mean that is not a number.
int goalFromMean(float mean);

}  // namespace steer
