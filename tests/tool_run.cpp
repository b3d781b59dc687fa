#include "tests/tool_run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "board/runner.h"
#include "tests/emulator.h"
#include "tests/process_state.h"

ToolRun::ToolRun(std::vector<std::string> args, bool onTerminal)
    : args_(std::move(args)), onTerminal_(onTerminal) {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "virtual-board-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return;
  dir_ = pattern;
  for (const char* name : {"t.txt", "b.txt"}) {
    fs::copy_file(fs::path(EXAMPLES_DIR) / name, fs::path(dir_) / name);
  }
}

ToolRun::~ToolRun() {
  if (pid_ > 0 && status_ < 0) {
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {outRead_, errRead_, terminal_}) {
    if (fd >= 0) close(fd);
  }
  if (!dir_.empty()) std::filesystem::remove_all(dir_);
}

bool ToolRun::start() {
  int out[2];
  int err[2];
  if (dir_.empty() || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    error_ = "no folder or no pipe";
    return false;
  }
  board::Launch how;
  how.argv = underEmulator({VIRTUAL_BOARD_PROGRAM});
  how.argv.insert(how.argv.end(), args_.begin(), args_.end());
  how.privateDev = false;
  how.dir = dir_;
  how.out = out[1];
  how.err = err[1];
  how.ownGroup = true;
  board::BoardLine terminal;
  if (onTerminal_) {
    // A session of its own whose controlling terminal is its standard input, as a login's.
    std::string why;
    const bool opened = board::openBoardLine(terminal, why);
    terminal_ = terminal.master;
    if (!opened) {
      error_ = why;
      return false;
    }
    how.argv.insert(how.argv.begin(), {"setsid", "--ctty"});
    how.in = terminal.slave;
    how.ownGroup = false;  // setsid makes it the leader of a group and session of its own
  }
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) how.signals.emplace_back(sig, byDefault);
  for (int sig : ignored) how.signals.emplace_back(sig, ignore);
  how.mask = mask;
  const board::Launched started = board::launch(how);
  close(out[1]);
  close(err[1]);
  if (terminal.slave >= 0) close(terminal.slave);
  outRead_ = out[0];
  errRead_ = err[0];
  pid_ = started.pid;
  if (started.failure != board::Launched::Failure::none) error_ = started.why;
  return started.failure == board::Launched::Failure::none;
}

void ToolRun::readAvailable(int timeoutMs) {
  pollfd fds[2] = {{outRead_, POLLIN, 0}, {errRead_, POLLIN, 0}};
  if (poll(fds, 2, timeoutMs) <= 0) return;
  char chunk[4096];
  int* const ends[2] = {&outRead_, &errRead_};
  std::string* const texts[2] = {&out_, &err_};
  for (int i = 0; i < 2; ++i) {
    if (*ends[i] < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
    const ssize_t n = read(*ends[i], chunk, sizeof chunk);
    if (n > 0) texts[i]->append(chunk, static_cast<size_t>(n));
    if (n == 0) {
      close(*ends[i]);
      *ends[i] = -1;
    }
  }
}

bool ToolRun::collectUntil(const std::function<bool()>& done, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (outRead_ < 0 && errRead_ < 0) return done();  // the tool has ended
    readAvailable(10);
  }
  return true;
}

void ToolRun::interrupt() const {
  if (pid_ <= 0 || status_ >= 0) return;
  if (terminal_ >= 0) {
    const char ctrlC = '\x03';
    (void)write(terminal_, &ctrlC, 1);
  } else {
    kill(-pid_, SIGINT);
  }
}

void ToolRun::closeErr() {
  if (errRead_ >= 0) close(errRead_);
  errRead_ = -1;
}

void ToolRun::send(int sig) const {
  if (pid_ > 0 && status_ < 0) kill(pid_, sig);
}

bool ToolRun::suspended() const { return processState(pid_) == 'T'; }

int ToolRun::finish(int seconds) {
  if (pid_ <= 0) return -1;
  collectUntil([] { return false; }, seconds);
  int status = 0;
  if (waitpid(pid_, &status, outRead_ < 0 && errRead_ < 0 ? 0 : WNOHANG) != pid_) {
    error_ = "virtual-board did not end in time";
    return -1;
  }
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return status_;
}

std::string ToolRun::file(const std::string& name) const {
  std::ifstream in(dir_ + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
