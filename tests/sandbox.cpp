#include "sandbox.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "process_state.h"

namespace {

// Reports why the sandbox could not be made, through the pipe the parent reads, and ends the child.
[[noreturn]] void fail(int report, const char* what) {
  char text[256];
  const int n = std::snprintf(text, sizeof text, "%s: %s", what, std::strerror(errno));
  if (n > 0) (void)!write(report, text, static_cast<size_t>(n));
  _exit(127);
}

void put(int report, const char* path, const char* text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0 || write(fd, text, std::strlen(text)) < 0) fail(report, path);
  close(fd);
}

// Makes the file that `fd` refers to appear at `target`.
void bind(int report, int fd, const char* target) {
  const int made = open(target, O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
  if (made < 0) fail(report, target);
  close(made);
  char source[64];
  std::snprintf(source, sizeof source, "/proc/self/fd/%d", fd);
  if (mount(source, target, nullptr, MS_BIND, nullptr) != 0) fail(report, target);
}

// In the child: a private mount namespace, as root when we are, in a user namespace otherwise.
void enterNamespace(int report, uid_t uid, gid_t gid) {
  if (unshare(CLONE_NEWNS) != 0) {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) fail(report, "unshare");
    char map[64];
    put(report, "/proc/self/setgroups", "deny");
    std::snprintf(map, sizeof map, "0 %u 1", uid);
    put(report, "/proc/self/uid_map", map);
    std::snprintf(map, sizeof map, "0 %u 1", gid);
    put(report, "/proc/self/gid_map", map);
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    fail(report, "mount private");
}

// What the child needs, prepared before the fork so that the child only makes system calls.
struct Plan {
  char* const* argv;
  const char* device;  // empty for none
  const char* slavePath;
  const char* dir;
  int output;
  int errors;
  int report;
  uid_t uid;
  gid_t gid;
};

// In the child: replaces /dev with one holding "null" and the board's node, then runs the program.
[[noreturn]] void becomeProgram(const Plan& plan) {
  enterNamespace(plan.report, plan.uid, plan.gid);
  const bool board = plan.device[0] != '\0';
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  const int line = board ? open(plan.slavePath, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
  if (null < 0 || (board && line < 0)) fail(plan.report, "open");
  if (mount("tmpfs", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755") != 0) {
    fail(plan.report, "mount /dev");
  }
  bind(plan.report, null, "/dev/null");
  if (board) bind(plan.report, line, plan.device);
  if (chdir(plan.dir) != 0) fail(plan.report, "chdir");
  if (dup2(null, 0) < 0 || dup2(plan.output, 1) < 0 || dup2(plan.errors, 2) < 0) {
    fail(plan.report, "dup2");
  }
  setpgid(0, 0);  // a job of its own, as a shell makes it, so that Ctrl-Z can stop it
  for (const int sig : {SIGINT, SIGPIPE}) std::signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execv(plan.argv[0], plan.argv);
  fail(plan.report, plan.argv[0]);
}

}  // namespace

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

bool Sandbox::refuse(const std::string& why) {
  error_ = why;
  return false;
}

bool Sandbox::start() {
  if (dir_.empty()) return refuse("no temporary folder");
  if (!device_.empty()) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[64];
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
      return refuse("no pseudo-terminal");
    }
    slavePath_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    fcntl(master_, F_SETFL, O_NONBLOCK);
  }
  int output[2];
  int errors[2];
  int report[2];
  if (pipe2(output, O_CLOEXEC) != 0 || pipe2(errors, O_CLOEXEC) != 0 ||
      pipe2(report, O_CLOEXEC) != 0) {
    return refuse("no pipe");
  }
  std::vector<char*> argv{program_.data()};
  for (std::string& arg : args_) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const Plan plan{argv.data(), device_.c_str(), slavePath_.c_str(), dir_.c_str(), output[1],
                  errors[1],   report[1],       getuid(),           getgid()};
  pid_ = fork();
  if (pid_ == 0) becomeProgram(plan);
  close(output[1]);
  close(errors[1]);
  close(report[1]);
  outRead_ = output[0];
  errRead_ = errors[0];
  fcntl(outRead_, F_SETFL, O_NONBLOCK);
  fcntl(errRead_, F_SETFL, O_NONBLOCK);
  if (pid_ < 0) {
    close(report[0]);
    return refuse("fork failed");
  }
  // The report pipe closes on a successful exec and carries the reason otherwise.
  char text[256];
  const ssize_t n = read(report[0], text, sizeof text);
  close(report[0]);
  if (n > 0) {
    waitpid(pid_, &status_, 0);
    ended_ = true;
    return refuse(std::string(text, static_cast<size_t>(n)));
  }
  return true;
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
