#include "tests/sandbox.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "board/runner.h"
#include "tests/emulator.h"
#include "tests/process_state.h"

Sandbox::Sandbox(std::string program, std::string device, std::vector<std::string> args)
    : program_(std::move(program)), device_(std::move(device)), args_(std::move(args)) {
  std::string pattern = (std::filesystem::temp_directory_path() / "steer-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) dir_ = pattern;
}

Sandbox::~Sandbox() {
  if (pid_ > 0 && !ended_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {master_, slave_, outRead_, errRead_}) {
    if (fd >= 0) close(fd);
  }
  if (!dir_.empty()) std::filesystem::remove_all(dir_);
}

void Sandbox::writeFile(const std::string& name, const std::string& text) const {
  const std::string path = dir_ + "/" + name;
  std::ofstream(path + ".new", std::ios::binary | std::ios::trunc) << text;
  std::filesystem::rename(path + ".new", path);
}

void Sandbox::makeFifo(const std::string& name) const {
  const std::string path = dir_ + "/" + name;
  mkfifo((path + ".new").c_str(), 0600);
  std::filesystem::rename(path + ".new", path);
}

int Sandbox::openFifoForWriting(const std::string& name) const {
  return open((dir_ + "/" + name).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
}

bool Sandbox::linkDevice(const std::string& name, const std::string& target) const {
  const std::string path = "/proc/" + std::to_string(pid_) + "/root" + name;
  if (target.empty()) return unlink(path.c_str()) == 0;
  return symlink(target.c_str(), path.c_str()) == 0;
}

void Sandbox::holdLine(bool held) const { ioctl(slave_, TCXONC, held ? TCOOFF : TCOON); }

bool Sandbox::refuse(const std::string& why) {
  error_ = why;
  return false;
}

bool Sandbox::start() {
  if (dir_.empty()) return refuse("no temporary folder");
  if (!device_.empty()) {
    board::BoardLine line;
    std::string why;
    const bool opened = board::openBoardLine(line, why);
    master_ = line.master;
    slave_ = line.slave;
    slavePath_ = line.slavePath;
    if (!opened) return refuse(why);
  }
  int output[2];
  int errors[2];
  if (pipe2(output, O_CLOEXEC) != 0 || pipe2(errors, O_CLOEXEC) != 0) return refuse("no pipe");
  board::Launch how;
  how.argv = underEmulator({program_});
  how.argv.insert(how.argv.end(), args_.begin(), args_.end());
  how.device = device_;
  how.slavePath = slavePath_;
  how.deviceDenied = deviceDenied_;
  how.dir = dir_;
  how.out = output[1];
  how.err = errors[1];
  how.ownGroup = true;  // a job of its own, as a shell makes it, so that Ctrl-Z can stop it
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  for (const int sig : {SIGINT, SIGPIPE}) how.signals.emplace_back(sig, byDefault);
  const board::Launched started = board::launch(how);
  close(output[1]);
  close(errors[1]);
  outRead_ = output[0];
  errRead_ = errors[0];
  fcntl(outRead_, F_SETFL, O_NONBLOCK);
  fcntl(errRead_, F_SETFL, O_NONBLOCK);
  pid_ = started.pid;
  if (started.failure == board::Launched::Failure::none) return true;
  status_ = started.status;
  ended_ = true;
  return refuse(started.why);
}

namespace {

// Appends what a pipe holds; closes it once the program's end of it has closed.
void drainPipe(int& fd, std::string& into) {
  char chunk[4096];
  const ssize_t n = read(fd, chunk, sizeof chunk);
  if (n > 0) into.append(chunk, static_cast<size_t>(n));
  if (n == 0) {
    close(fd);
    fd = -1;
  }
}

}  // namespace

void Sandbox::readAvailable(int timeoutMs) {
  pollfd fds[3] = {{master_, POLLIN, 0}, {outRead_, POLLIN, 0}, {errRead_, POLLIN, 0}};
  if (poll(fds, 3, timeoutMs) <= 0) return;
  char chunk[4096];
  if (master_ >= 0 && (fds[0].revents & POLLIN) != 0) {
    const ssize_t n = read(master_, chunk, sizeof chunk);
    if (n > 0) line_.append(chunk, static_cast<size_t>(n));
  }
  if (outRead_ >= 0 && (fds[1].revents & (POLLIN | POLLHUP)) != 0) drainPipe(outRead_, out_);
  if (errRead_ >= 0 && (fds[2].revents & (POLLIN | POLLHUP)) != 0) drainPipe(errRead_, err_);
}

bool Sandbox::running() {
  if (ended_ || pid_ <= 0) return false;
  if (waitpid(pid_, &status_, WNOHANG) != pid_) return true;
  ended_ = true;
  // Everything the program wrote is in the terminal's and the pipe's buffers by now: a read on
  // the terminal with nothing ready waits for the kernel to hand over what is still in flight.
  char chunk[4096];
  ssize_t n = 0;
  while (master_ >= 0 && (n = read(master_, chunk, sizeof chunk)) > 0) {
    line_.append(chunk, static_cast<size_t>(n));
  }
  while (outRead_ >= 0 || errRead_ >= 0) readAvailable(1000);
  return false;
}

bool Sandbox::collectUntil(const std::function<bool()>& done, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (!running() || std::chrono::steady_clock::now() > deadline) return done();
    readAvailable(10);
  }
  return true;
}

size_t Sandbox::openFiles() const {
  const std::filesystem::directory_iterator files("/proc/" + std::to_string(pid_) + "/fd");
  return static_cast<size_t>(std::distance(begin(files), end(files)));
}

bool Sandbox::suspended() const { return processState(pid_) == 'T'; }

void Sandbox::closeOutput() {
  if (outRead_ >= 0) close(outRead_);
  outRead_ = -1;
}

void Sandbox::send(int sig) const {
  if (pid_ > 0 && !ended_) kill(pid_, sig);
}

int Sandbox::finish(int seconds) {
  collectUntil([this] { return ended_; }, seconds);
  if (!ended_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
    ended_ = true;
    error_ = "the program did not end in time";
  }
  return status_;
}
