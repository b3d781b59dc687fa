#include "board/runner_child.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace board {
namespace {

// Tells the parent which step failed, with errno, and ends the child.
[[noreturn]] void fail(const ChildPlan& plan, bool sandbox, const char* step) {
  ChildReport what{sandbox, errno, {}};
  (void)std::snprintf(what.step, sizeof what.step, "%s", step);  // a long step may be cut short
  [[maybe_unused]] const ssize_t sent = write(plan.report, &what, sizeof what);
  _exit(127);
}

void put(const ChildPlan& plan, const char* path, const char* text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0 || write(fd, text, std::strlen(text)) < 0) fail(plan, true, path);
  close(fd);
}

// A private mount namespace: directly as root, otherwise in a user namespace of our own in which
// we keep our ids.
void enterNamespace(const ChildPlan& plan) {
  if (unshare(CLONE_NEWNS) != 0) {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) fail(plan, true, "unshare");
    char map[64];
    put(plan, "/proc/self/setgroups", "deny");
    (void)std::snprintf(map, sizeof map, "%u %u 1", plan.uid, plan.uid);  // room for any ids
    put(plan, "/proc/self/uid_map", map);
    (void)std::snprintf(map, sizeof map, "%u %u 1", plan.gid, plan.gid);
    put(plan, "/proc/self/gid_map", map);
  }
  // Nothing mounted from here on reaches the host.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    fail(plan, true, "mount --make-rprivate /");
  }
}

int pathTo(const ChildPlan& plan, const char* path) {
  const int fd = open(path, O_PATH | O_CLOEXEC);
  if (fd < 0) fail(plan, true, path);
  return fd;
}

// Makes the file that `fd` refers to appear at `target`.
void bind(const ChildPlan& plan, int fd, const char* target) {
  const int made = open(target, O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
  if (made < 0) fail(plan, true, target);
  close(made);
  char source[64];
  (void)std::snprintf(source, sizeof source, "/proc/self/fd/%d", fd);  // room for any int
  if (mount(source, target, nullptr, MS_BIND, nullptr) != 0) fail(plan, true, target);
  close(fd);
}

// Makes the folders above `path`, for a node such as /dev/serial/by-id/usb-board.
void makeFoldersAbove(const ChildPlan& plan, const char* path) {
  char folder[4096];
  if (std::snprintf(folder, sizeof folder, "%s", path) >= static_cast<int>(sizeof folder)) {
    errno = ENAMETOOLONG;
    fail(plan, true, path);
  }
  for (char* slash = std::strchr(folder + 5, '/'); slash != nullptr;
       slash = std::strchr(slash + 1, '/')) {
    *slash = '\0';
    if (mkdir(folder, 0755) != 0 && errno != EEXIST) fail(plan, true, folder);
    *slash = '/';
  }
}

// Covers /dev with a tmpfs that holds only what a console program needs, and the board's node.
void makePrivateDev(const ChildPlan& plan) {
  enterNamespace(plan);
  const bool board = plan.device[0] != '\0';
  // The nodes to show, taken from the host's /dev before it is covered.
  const char* const nodes[] = {"/dev/null", "/dev/zero", "/dev/urandom", "/dev/tty"};
  int shown[4];
  for (int i = 0; i < 4; ++i) shown[i] = pathTo(plan, nodes[i]);
  const int line = board ? pathTo(plan, plan.slavePath) : -1;
  if (mount("tmpfs", "/dev", "tmpfs", MS_NOSUID | MS_NOEXEC, "mode=0755") != 0) {
    fail(plan, true, "mount tmpfs on /dev");
  }
  for (int i = 0; i < 4; ++i) bind(plan, shown[i], nodes[i]);
  // New terminals come from a pts of the namespace's own.
  if (mkdir("/dev/pts", 0755) != 0 || mount("devpts", "/dev/pts", "devpts", MS_NOSUID | MS_NOEXEC,
                                            "newinstance,ptmxmode=0666,mode=0620") != 0) {
    fail(plan, true, "mount devpts on /dev/pts");
  }
  const char* const links[][2] = {{"pts/ptmx", "/dev/ptmx"},
                                  {"/proc/self/fd", "/dev/fd"},
                                  {"/proc/self/fd/0", "/dev/stdin"},
                                  {"/proc/self/fd/1", "/dev/stdout"},
                                  {"/proc/self/fd/2", "/dev/stderr"}};
  for (const auto& [to, at] : links) {
    if (symlink(to, at) != 0) fail(plan, true, at);
  }
  if (board) {
    makeFoldersAbove(plan, plan.device);
    bind(plan, line, plan.device);
    // On a mount without devices, opening a device node is refused even to root.
    if (plan.deviceDenied &&
        mount(nullptr, plan.device, nullptr, MS_REMOUNT | MS_BIND | MS_NODEV, nullptr) != 0) {
      fail(plan, true, plan.device);
    }
  }
}

}  // namespace

void becomeProgram(const ChildPlan& plan) {
  if (plan.ownGroup) {
    setpgid(0, 0);
    if (plan.foreground && plan.in >= 0) {
      sigset_t ttou;
      sigemptyset(&ttou);
      sigaddset(&ttou, SIGTTOU);
      pthread_sigmask(SIG_BLOCK, &ttou, nullptr);
      tcsetpgrp(plan.in, getpid());
    }
  }
  if (plan.privateDev) makePrivateDev(plan);
  if (plan.dir[0] != '\0' && chdir(plan.dir) != 0) fail(plan, true, plan.dir);
  const int in = plan.in >= 0 ? plan.in : open("/dev/null", O_RDWR | O_CLOEXEC);
  if (in < 0) fail(plan, true, "/dev/null");
  if (dup2(in, 0) < 0 || dup2(plan.out, 1) < 0 || dup2(plan.err, 2) < 0) {
    fail(plan, true, "dup2");
  }
  for (std::size_t i = 0; i < plan.signalCount; ++i) {
    sigaction(plan.signals[i].first, &plan.signals[i].second, nullptr);
  }
  pthread_sigmask(SIG_SETMASK, plan.mask, nullptr);
  execvp(plan.argv[0], plan.argv);
  fail(plan, false, plan.argv[0]);
}

}  // namespace board
