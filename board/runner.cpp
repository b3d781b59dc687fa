#include "board/runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>
#include <utility>

#include "board/runner_child.h"

namespace board {

bool openBoardLine(BoardLine& line, std::string& why) {
  line.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[64];
  if (line.master < 0 || grantpt(line.master) != 0 || unlockpt(line.master) != 0 ||
      ptsname_r(line.master, name, sizeof name) != 0) {
    why = std::string("no pseudo-terminal: ") + std::generic_category().message(errno);
    return false;
  }
  line.slavePath = name;
  line.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line.slave < 0 || fcntl(line.master, F_SETFL, O_NONBLOCK) != 0) {
    why = line.slavePath + ": " + std::generic_category().message(errno);
    return false;
  }
  return true;
}

namespace {

void setTerminalGroup(int terminal, pid_t group) {
  // A process outside the foreground group gets SIGTTOU for this unless it is blocked.
  sigset_t ttou;
  sigset_t old;
  sigemptyset(&ttou);
  sigaddset(&ttou, SIGTTOU);
  pthread_sigmask(SIG_BLOCK, &ttou, &old);
  tcsetpgrp(terminal, group);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace

Launched launch(const Launch& how) {
  Launched result;
  const auto failed = [&result](Launched::Failure failure, int error, std::string why) {
    result.failure = failure;
    result.error = error;
    result.why = std::move(why);
    return result;
  };
  if (how.argv.empty() || (!how.device.empty() && how.device.rfind("/dev/", 0) != 0)) {
    return failed(Launched::Failure::program, 0,
                  how.argv.empty() ? "no program" : how.device + " is not under /dev");
  }
  std::vector<char*> argv;
  for (const std::string& arg : how.argv) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    return failed(Launched::Failure::sandbox, errno,
                  std::string("pipe: ") + std::generic_category().message(errno));
  }
  const ChildPlan plan{argv.data(),
                       how.privateDev,
                       how.device.c_str(),
                       how.slavePath.c_str(),
                       how.deviceDenied,
                       how.dir.c_str(),
                       how.in,
                       how.out,
                       how.err,
                       how.ownGroup,
                       how.foreground,
                       how.signals.data(),
                       how.signals.size(),
                       &how.mask,
                       report[1],
                       getuid(),
                       getgid()};
  result.pid = fork();
  if (result.pid == 0) becomeProgram(plan);
  const int forkError = errno;
  close(report[1]);
  if (result.pid < 0) {
    close(report[0]);
    return failed(Launched::Failure::sandbox, forkError,
                  std::string("fork: ") + std::generic_category().message(forkError));
  }
  // Done here as well as in the child, so that neither has to wait for the other.
  if (how.ownGroup) setpgid(result.pid, result.pid);
  if (how.ownGroup && how.foreground && how.in >= 0) setTerminalGroup(how.in, result.pid);

  // The report pipe closes on a successful exec and carries the reason otherwise.
  ChildReport what{};
  ssize_t n = 0;
  do {
    n = read(report[0], &what, sizeof what);
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  if (n <= 0) return result;
  waitpid(result.pid, &result.status, 0);
  if (how.ownGroup && how.foreground && how.in >= 0) setTerminalGroup(how.in, getpgrp());
  what.step[sizeof what.step - 1] = '\0';
  return failed(what.sandbox ? Launched::Failure::sandbox : Launched::Failure::program, what.error,
                std::string(what.step) + ": " + std::generic_category().message(what.error));
}

namespace {

std::string setting(const char* path) {
  std::ifstream file(path);
  std::string value;
  file >> value;
  return value;
}

}  // namespace

std::string sandboxAdvice(int error) {
  if (setting("/proc/sys/kernel/unprivileged_userns_clone") == "0") {
    return "unprivileged user namespaces are turned off (kernel.unprivileged_userns_clone is 0); "
           "run it as root, or turn them on: sudo sysctl -w kernel.unprivileged_userns_clone=1";
  }
  if (setting("/proc/sys/kernel/apparmor_restrict_unprivileged_userns") == "1") {
    return "AppArmor keeps unprivileged programs out of user namespaces "
           "(kernel.apparmor_restrict_unprivileged_userns is 1); run it as root, or allow them: "
           "sudo sysctl -w kernel.apparmor_restrict_unprivileged_userns=0";
  }
  if (setting("/proc/sys/user/max_user_namespaces") == "0") {
    return "user namespaces are turned off (user.max_user_namespaces is 0); run it as root, or "
           "allow them: sudo sysctl -w user.max_user_namespaces=10000";
  }
  if (error == ENOSPC) {
    return "the limit on user namespaces is used up (user.max_user_namespaces); raise it, or run "
           "it as root";
  }
  if (geteuid() == 0) {
    return "even root may not make namespaces here (a container without CAP_SYS_ADMIN?); run it "
           "where root may, e.g. a container started with --privileged";
  }
  return "neither root nor allowed an unprivileged user namespace (a container's seccomp filter?); "
         "run it as root, or where user namespaces are allowed";
}

}  // namespace board
