// The steering controller: reads the position files, picks a command, sends it to the board,
// and stops the board whenever it stops steering: on an ending signal, on Ctrl-Z, and (when asked
// to) once the position files have stopped changing.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdio>

#include "file_report.h"
#include "link_report.h"

namespace steer {

// Frame geometry and the power of every command but the aligned one (the turning power).
extern int width;
extern int height;
extern int pwr;

// The centre band's half-width round the centre column, and the aligned command's power.
extern int band;
extern int drivePower;

// Whether "b.txt" and "t.txt" have been read whole at least once: no command rests on a position
// that was never read.
extern bool objectRead;
extern bool goalRead;

// The goal's horizontal position, as last computed while the object was centred.
extern int goal;

// The position file being read; no file stays open between reads.
extern std::FILE* f;

// Goal points from "t.txt": point k is (m[2k], m[2k+1]).
extern float m[8];

// Object position from "b.txt": (b[0], b[1]).
extern float b[2];

// The descriptor that the last port open returned.
extern int fd;

// Stop flag: 0 while running, 2 once an ending signal has arrived.
extern volatile std::sig_atomic_t exit;

// Stop sequences asked for by ending signals and not yet sent to the board.
extern std::atomic<int> stopsPending;

// Set by Ctrl-Z: the loop stops the board, then suspends itself until it is continued.
extern volatile std::sig_atomic_t suspendPending;

// Set while the controller writes to standard output, so that a reader who has gone ends it once
// and the farewell that can no longer be written does not start another round of stops.
extern volatile std::sig_atomic_t writingOutput;

// Milliseconds without a change to either position file after which the board is stopped and
// left alone until a file changes; 0 steers on unchanged files.
extern int staleAfter;

// The board's serial device.
extern const char* device;

// Set when a stop sequence asked for by an ending signal did not reach the board; the
// controller then exits with status 1.
extern volatile std::sig_atomic_t stopMissed;

// What the operator has been told of the line and of the two position files.
extern LinkReport link;
extern FileReport goalFile;
extern FileReport objectFile;

// When the stop sequences of the end must be done by (monotonic ms), 0 until the first of them.
extern long long endingByMs;

// The signals that end the controller, each with a stop sequence and a farewell.
inline constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

// A command for the board: direction code `nap` (1 to 5) and power; nap 0 means none.
struct Command {
  int nap;
  int power;
};

// Reads "t.txt" into m and "b.txt" into b. A file that cannot be opened, or that holds less
// than its format asks for, leaves the values it did not reach as they were.
void readGoalPoints();
void readObjectPosition();

// The goal's column from the mean of two x coordinates: toward zero, saturating at the ends
// of int, and 0 for a mean that is not a number.
int goalFromMean(float mean);

// The centre-band rules for the object at b[0] and, once it is centred, the goal; stores goal
// when the object is in the band. Returns nap 0 when b[0] is not a number, before b.txt has been
// read whole, and for a centred object before t.txt has been read whole; says once on standard
// error which file it waits for.
Command decide(int cx);

// Sends one command frame, each byte in its own port cycle, and echoes it on standard output.
// Once a stop has been asked for it sends no further byte of the frame and no echo. A byte that
// the line does not take within half a second is given up, and told once on standard error.
void toArduino(int nap, int pwr);

// Busy-waits for n ticks of the processor-time clock.
void delay(int n);

// Handler of the ending signals and of SIGTSTP: records what was asked for; the loop sends it.
void signalHandler(int sig);

// Sends every pending stop sequence, each followed by the farewell, and stops the board and
// suspends for a pending Ctrl-Z. Returns whether a stop went out: the pass then sends nothing more.
bool sendPendingStops();

// Whether the position files have gone unchanged for staleAfter milliseconds. Going stale sends
// the stop sequence once; both changes of state are told on standard error.
bool positionsStale();

// The steering loop; returns once an ending signal has stopped it, with the ending signals
// blocked, so that none can arrive unanswered between its last look and the process's end:
// 0 when every stop sequence reached the board (or there never was a device), 1 otherwise.
int run();

}  // namespace steer
