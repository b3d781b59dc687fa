#include "steer/controller.h"

#include <signal.h>

#include "firmware/steer_board/frame_encoder.h"
#include "steer/signals.h"

namespace steer {

namespace {

constexpr const char* farewell = "\n\n\nbye bye";

// All the stop sequences of the end must be done within this time of the first, however many
// signals ask for them and whatever the line does.
constexpr int endingBoundMs = 1500;

// Stops as a job stopped from its terminal does, and comes back here when continued.
void suspend() {
  // Setting an action for these signals cannot fail, nor can raising one.
  (void)std::signal(SIGTSTP, SIG_DFL);
  (void)std::raise(SIGTSTP);
  (void)std::signal(SIGTSTP, signalHandler);
}

void installHandlers() {
  for (const int sig : endingSignals) (void)std::signal(sig, signalHandler);
  (void)std::signal(SIGTSTP, signalHandler);
}

void tellOnce(std::FILE* to, const char* file, const char* before, bool& told) {
  if (!told && to != nullptr)
    (void)std::fprintf(to, "steer: waiting for %s before %s\n", file, before);
  told = true;
}

}  // namespace

Controller::Controller(const Settings& settings, Clock& clock, PositionSource& source, Line& line,
                       std::FILE* out, std::FILE* told)
    : settings(settings), clock_(clock), source_(source), line_(line), out_(out), told_(told) {
  goalFile.to = told;
  objectFile.to = told;
}

void Controller::readGoalPoints() {
  const FileRead r = source_.readGoalPoints(positions.m);
  fileRead(goalFile, r.problem, r.error, clock_.nowMs(), positions.goalRead);
  positions.goalRead = positions.goalRead || r.values == 8;
}

void Controller::readObjectPosition() {
  const FileRead r = source_.readObjectPosition(positions.b);
  fileRead(objectFile, r.problem, r.error, clock_.nowMs(), positions.objectRead);
  positions.objectRead = positions.objectRead || r.values == 2;
}

Command Controller::decide() {
  const Decision d = settings.approach
                         ? approach(settings, positions, clock_.nowMs(), approachMemory)
                         : steer::decide(settings, positions);
  if (d.waiting == Waiting::object) tellOnce(told_, "b.txt", "steering", toldObject_);
  if (d.waiting == Waiting::goal) tellOnce(told_, "t.txt", "lining up with the goal", toldGoal_);
  if (d.centred) goal = d.goal;
  return d.command;
}

void Controller::toArduino(int nap, int pwr) {
  if (exit != 0) return;
  const board::FrameBytes frame = board::encodeFrame(nap, pwr);
  line_.send(frame.bytes[0], false, endingByMs);
  if (sendPendingStops() || exit != 0) return;  // the direction byte of a stopped command stays
  line_.send(frame.bytes[1], false, endingByMs);
  if (sendPendingStops() || exit != 0) return;
  if (out_ == nullptr) return;
  writingOutput = 1;
  (void)std::fprintf(out_, "nap = %d, pwr = %d", nap, pwr);
  writingOutput = 0;
}

bool Controller::sendStop() {
  line_.clearForStop();
  const ByteFate first = line_.send(board::stopSequence.bytes[0], true, endingByMs);
  line_.pause();
  const ByteFate second = line_.send(board::stopSequence.bytes[1], true, endingByMs);
  if (first == ByteFate::noDevice && second == ByteFate::noDevice) return true;
  if (first == ByteFate::sent && second == ByteFate::sent) return true;
  line_.tell(true);
  if (told_ != nullptr) {
    (void)std::fprintf(told_,
                       "steer: the stop sequence did not reach %s: %s; the board may still be "
                       "driving\n",
                       line_.name(), line_.whyNotSent());
  }
  return false;
}

// Our own output; a write that fails because its reader has gone is simply lost.
void Controller::say(const char* text) {
  if (out_ == nullptr) return;
  writingOutput = 1;
  (void)std::fputs(text, out_);
  (void)std::fputc('\n', out_);
  writingOutput = 0;
}

void Controller::flushOutput() {
  if (out_ == nullptr) return;
  writingOutput = 1;
  (void)std::fflush(out_);
  writingOutput = 0;
}

bool Controller::sendPendingStops() {
  bool sent = false;
  for (;;) {
    if (stopsPending.load() > 0) {
      stopsPending.fetch_sub(1);
      if (endingByMs == 0) endingByMs = clock_.nowMs() + endingBoundMs;
      if (!sendStop()) stopMissed = true;
      say(farewell);
    } else if (suspendPending != 0) {
      suspendPending = 0;
      if (exit != 0) continue;  // ending anyway: its stop has gone out
      sendStop();
      // An ending signal that came meanwhile gets its own stop, and ends rather than suspends.
      if (stopsPending.load() == 0 && exit == 0) {
        flushOutput();
        suspend();
      }
    } else {
      return sent;
    }
    sent = true;
  }
}

bool Controller::positionsStale() {
  const std::int64_t now = clock_.nowMs();
  if (!looked_) lastChangeMs_ = now;
  looked_ = true;
  if (settings.staleAfter <= 0) return false;
  if (source_.changed()) {
    lastChangeMs_ = now;
    if (quiet_ && told_ != nullptr) {
      (void)std::fputs("steer: positions changed; steering again\n", told_);
    }
    quiet_ = false;
  } else if (!quiet_ && now - lastChangeMs_ >= settings.staleAfter) {
    quiet_ = true;
    const bool stopped = exit != 0 || sendStop();
    if (told_ != nullptr) {
      (void)std::fprintf(told_, "steer: no new positions for %d ms; %s\n", settings.staleAfter,
                         stopped ? "board stopped" : "steering paused");
    }
  }
  return quiet_;
}

bool Controller::pass() {
  line_.tell(false);
  // Looked at before the reads, so that a change it sees is one that the reads will get.
  const bool stale = positionsStale();
  readGoalPoints();
  if (sendPendingStops()) return true;
  readObjectPosition();
  if (sendPendingStops()) return true;
  if (!stale) {
    const Command c = decide();
    if (c.nap != 0) toArduino(c.nap, c.power);
  }
  return sendPendingStops();
}

// Whether the loop may end: an ending signal came and every stop asked for has gone out. It
// ends with the ending signals blocked, after a last look for any that came meanwhile.
bool Controller::finished() {
  if (exit == 0) return false;
  sigset_t ours;
  sigemptyset(&ours);
  for (const int sig : endingSignals) sigaddset(&ours, sig);
  sigaddset(&ours, SIGTSTP);
  for (;;) {
    sendPendingStops();
    flushOutput();
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &ours, &before);
    sigset_t waiting;
    sigpending(&waiting);
    bool more = stopsPending.load() > 0;
    for (const int sig : endingSignals) more = more || sigismember(&waiting, sig) == 1;
    if (!more) return true;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);  // each one that waits runs the handler here
  }
}

int Controller::run() {
  // Stops go out at the safe points between the steps of a pass and after each byte's cycle; a
  // pass that has sent one sends nothing more, and a pass after a Ctrl-Z starts afresh.
  while (!finished()) {
    if (pass()) continue;
    installHandlers();
    sendPendingStops();
  }
  line_.tell(true);
  return stopMissed ? 1 : 0;
}

}  // namespace steer
