// The steering controller: reads the position files, picks a command, sends it to the board,
// and stops the board whenever it stops steering: on an ending signal, on Ctrl-Z, and (when asked
// to) once the position files have stopped changing. Time, the positions and the board's line
// reach it through the three interfaces below, so that the program, the tests and the simulator
// run the same passes.
#pragma once

#include <cstdint>
#include <cstdio>

#include "steer/decide.h"
#include "steer/file_report.h"

namespace steer {

// Milliseconds of a clock that only moves forward.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t nowMs() = 0;
};

// What one read of a position file came to.
struct FileRead {
  int values = 0;  // how many numbers it held, in order
  FileProblem problem = FileProblem::none;
  int error = 0;  // errno, for a file that cannot be read
};

// "t.txt" and "b.txt". A read that cannot open its file, or that finds less than the format asks
// for, leaves the values it did not reach as they were.
class PositionSource {
 public:
  virtual ~PositionSource() = default;
  virtual FileRead readGoalPoints(float (&m)[8]) = 0;
  virtual FileRead readObjectPosition(float (&b)[2]) = 0;
  // Whether either file differs from the last look; the first look only takes note.
  virtual bool changed() = 0;
};

// How one byte's cycle on the line ended, for a stop sequence that must say whether it reached
// the board.
enum class ByteFate { sent, noDevice, notSent };

// The board's serial line.
class Line {
 public:
  virtual ~Line() = default;
  // Sends `byte` in a cycle of its own, and returns once it has gone or been given up. A command
  // byte (not `isStop`) is given up once a stop has been asked for. `endingByMs`: when the stops
  // of the end must be done by, 0 before the end.
  virtual ByteFate send(int byte, bool isStop, std::int64_t endingByMs) = 0;
  // The wait between the stop sequence's two bytes.
  virtual void pause() = 0;
  // Throws away what a line known to hold bytes back holds, so that a stop overtakes it.
  virtual void clearForStop() = 0;
  // Tells the operator what has become of the line: what may be told by now, or all that waits.
  virtual void tell(bool now) = 0;
  // The line's name, and why its last byte did not go out.
  virtual const char* name() const = 0;
  virtual const char* whyNotSent() const = 0;
};

class Controller {
 public:
  // `out` takes the echo of each command and the farewells, `told` the messages to the operator;
  // either may be null, for none.
  Controller(const Settings& settings, Clock& clock, PositionSource& source, Line& line,
             std::FILE* out = stdout, std::FILE* told = stderr);

  Settings settings;
  Positions positions;
  int goal = 0;  // the goal's column, as last computed while the object was centred
  FileReport goalFile{"t.txt", "eight numbers"};
  FileReport objectFile{"b.txt", "\"(x, y\""};
  bool stopMissed = false;      // a stop sequence of the end did not reach the board
  std::int64_t endingByMs = 0;  // when the stops of the end must be done by; 0 until the first

  // One pass: tells the line's news, looks whether the files have gone stale, reads both files,
  // decides and sends. Stops asked for meanwhile go out at the safe points between the steps;
  // returns whether one did (the pass then sends nothing more).
  bool pass();

  // Passes until an ending signal has stopped the controller; returns with the ending signals
  // blocked, so that none can arrive unanswered between its last look and the process's end:
  // 0 when every stop sequence reached the board (or there never was a device), 1 otherwise.
  int run();

  // Reads "t.txt" into positions.m and "b.txt" into positions.b, telling what the reads came to.
  void readGoalPoints();
  void readObjectPosition();

  // decide() on what has been read; keeps the goal's column, and says once on `told` which file
  // it waits for.
  Command decide();

  // Sends one command frame, each byte in its own cycle, and echoes it. Once a stop has been
  // asked for it sends no further byte of the frame and no echo.
  void toArduino(int nap, int pwr);

  // The stop sequence; a line known to hold bytes back is emptied first. Returns whether both
  // bytes reached the board, or there has never been a device to stop; tells why not.
  bool sendStop();

  // Sends every pending stop sequence, each followed by the farewell, and stops the board and
  // suspends for a pending Ctrl-Z. Returns whether a stop went out.
  bool sendPendingStops();

  // Whether the position files have gone unchanged for settings.staleAfter milliseconds. Going
  // stale sends the stop sequence once; both changes of state are told.
  bool positionsStale();

 private:
  void say(const char* text);
  void flushOutput();
  bool finished();

  Clock& clock_;
  PositionSource& source_;
  Line& line_;
  std::FILE* out_;
  std::FILE* told_;
  bool toldObject_ = false;
  bool toldGoal_ = false;
  bool quiet_ = false;             // stale, and the board stopped for it
  bool looked_ = false;            // the freshness has been looked at
  std::int64_t lastChangeMs_ = 0;  // when either file last changed
};

}  // namespace steer
