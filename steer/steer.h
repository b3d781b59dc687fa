// The steering controller: reads the position files, picks a command, sends it to the board,
// and stops the board when the operator interrupts it.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdio>

namespace steer {

// Frame geometry and the power of every command but the aligned one.
extern int width;
extern int height;
extern int pwr;

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

// Stop flag: 0 while running, 2 once the operator has interrupted.
extern volatile std::sig_atomic_t exit;

// Stop sequences asked for by interrupts and not yet sent to the board.
extern std::atomic<int> stopsPending;

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
// when the object is in the band. Returns nap 0 when b[0] is not a number.
Command decide(int cx);

// Sends one command frame, each byte in its own port cycle, and echoes it on standard output.
// Once a stop has been asked for it sends no further byte of the frame and no echo.
void toArduino(int nap, int pwr);

// Busy-waits for n ticks of the processor-time clock.
void delay(int n);

// SIGINT handler: raises exit and records one pending stop; the loop sends it.
void signalHandler(int sig);

// Sends every pending stop sequence, each followed by the farewell.
void sendPendingStops();

// The steering loop; returns 0 once an interrupt has stopped it.
int run();

}  // namespace steer
