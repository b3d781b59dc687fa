#include "steer/signals.h"

namespace steer {

volatile std::sig_atomic_t exit = 0;
std::atomic<int> stopsPending{0};
volatile std::sig_atomic_t suspendPending = 0;
volatile std::sig_atomic_t writingOutput = 0;

static_assert(std::atomic<int>::is_always_lock_free,
              "the signal handler needs a lock-free counter");

void signalHandler(int sig) {
  // Only async-signal-safe work here; the loop sends the stop at its next safe point.
  if (sig == SIGTSTP) {
    suspendPending = 1;
    return;
  }
  // Once stopping, a write of our own that finds its reader gone is no new reason to stop.
  if (sig == SIGPIPE && exit != 0 && writingOutput != 0) return;
  exit = 2;
  stopsPending.fetch_add(1);
}

bool commandGivenUp() { return exit != 0 || suspendPending != 0 || stopsPending.load() > 0; }

}  // namespace steer
