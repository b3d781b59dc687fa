#include "board/watched_program.h"

#include <termios.h>
#include <unistd.h>

namespace board {

WatchedProgram::~WatchedProgram() {
  if (!opened_) return;
  for (int fd : {line.master, line.slave, watch.signals}) close(fd);
}

bool WatchedProgram::open(std::initializer_list<int> ignored, std::string& why) {
  if (!openBoardLine(line, why)) return false;
  opened_ = true;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  for (int sig : ignored) {
    struct sigaction old {};
    sigaction(sig, &ignore, &old);
    how.signals.emplace_back(sig, old);
  }
  how.slavePath = line.slavePath;
  watch.signals = watchSignals(&how.mask);
  watch.master = line.master;
  return true;
}

Launched::Failure WatchedProgram::launch(const std::string& name, std::string& why) {
  termios before{};
  tcgetattr(line.master, &before);
  atStart_ = settingsOf(before);
  const Launched started = board::launch(how);
  watch.pid = started.pid;
  if (started.failure == Launched::Failure::sandbox)
    why = "cannot give " + name + " a private /dev (" + started.why +
          "): " + sandboxAdvice(started.error);
  else if (started.failure == Launched::Failure::program)
    why = "cannot run " + started.why;
  return started.failure;
}

void WatchedProgram::restore() {
  pthread_sigmask(SIG_SETMASK, &how.mask, nullptr);
  for (const auto& [sig, old] : how.signals) sigaction(sig, &old, nullptr);
}

}  // namespace board
