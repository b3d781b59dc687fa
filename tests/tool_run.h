// Runs virtual-board as a user would from a shell: in a folder of its own that holds the example
// position files, with its standard output and error read by the test, and its standard input
// /dev/null or, on a terminal, a pseudo-terminal that is its session's controlling terminal.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

class ToolRun {
 public:
  // `args` follow the tool's name: options, then the program and its arguments.
  explicit ToolRun(std::vector<std::string> args, bool onTerminal = false);
  ~ToolRun();
  ToolRun(const ToolRun&) = delete;
  ToolRun& operator=(const ToolRun&) = delete;

  // Starts the tool; returns false, with the reason in error(), when it can't.
  bool start();

  // The tool: the build's virtual-board unless set before start().
  std::string program = VIRTUAL_BOARD_PROGRAM;

  // What the tool starts with, as its caller may give it: this signal mask, and these signals
  // ignored; SIGINT, SIGTERM and SIGHUP at their default unless ignored here.
  sigset_t mask{};
  std::vector<int> ignored;

  // Collects standard output and error until `done` holds or the tool has ended; gives up after
  // `seconds`. Returns whether `done` holds.
  bool collectUntil(const std::function<bool()>& done, int seconds = 5);

  // Ctrl-C: typed on the terminal, or else SIGINT sent to the tool's process group.
  void interrupt() const;
  // Closes the reading end of the tool's standard error, as a reader that goes away does.
  void closeErr();
  // Sends `sig` to the tool alone, as kill(1) would.
  void send(int sig) const;
  // Whether the tool is stopped, as a suspended job.
  bool suspended() const;

  // Waits for the tool to end, collecting everything; returns its exit status, -1 if it did not
  // end in time.
  int finish(int seconds = 5);

  std::string file(const std::string& name) const;
  const std::string& dir() const { return dir_; }
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }
  const std::string& error() const { return error_; }

 private:
  void readAvailable(int timeoutMs);

  std::vector<std::string> args_;
  bool onTerminal_;
  int terminal_ = -1;  // the terminal's master side, held until the end so that it never hangs up
  std::string dir_;
  pid_t pid_ = -1;
  int outRead_ = -1;
  int errRead_ = -1;
  int status_ = -1;
  std::string out_;
  std::string err_;
  std::string error_;
};
