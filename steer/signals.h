// What the signal handler touches, and so the only state of steer's that is program-wide.
#pragma once

#include <atomic>
#include <csignal>

namespace steer {

// Stop flag: 0 while running, 2 once an ending signal has arrived.
extern volatile std::sig_atomic_t exit;

// Stop sequences asked for by ending signals and not yet sent to the board.
extern std::atomic<int> stopsPending;

// Set by Ctrl-Z: the loop stops the board, then suspends itself until it is continued.
extern volatile std::sig_atomic_t suspendPending;

// Set while steer writes to standard output, so that a reader who has gone ends it once and the
// farewell that can no longer be written does not start another round of stops.
extern volatile std::sig_atomic_t writingOutput;

// The signals that end the controller, each with a stop sequence and a farewell.
inline constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

// Handler of the ending signals and of SIGTSTP: records what was asked for; the loop sends it.
void signalHandler(int sig);

// Whether a command byte is to be given up: a stop or a suspension has been asked for.
bool commandGivenUp();

}  // namespace steer
