// Runs one of our programs the way a user would, but with a pseudo-terminal standing in for the
// board: the program runs through board/'s runner, in a private mount namespace whose /dev holds
// only what a console program needs and, when asked for, the board's device node, which is the
// terminal's far side. The host's /dev is never touched. The program's working directory is a
// fresh temporary folder.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

class Sandbox {
 public:
  // `device` is the node the program will find, "/dev/ttyUSB0" say; empty for no device at all.
  Sandbox(std::string program, std::string device, std::vector<std::string> args = {});
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // Replaces a file in the working directory in one step, as a careful producer would.
  void writeFile(const std::string& name, const std::string& text) const;
  // Puts a FIFO in place of a file in the working directory, in one step.
  void makeFifo(const std::string& name) const;
  // Opens a FIFO made with makeFifo for writing, without waiting; -1 while it has no reader.
  int openFifoForWriting(const std::string& name) const;

  // Opening the device is refused to the program (EACCES), as to a user outside its group.
  void denyDevice() { deviceDenied_ = true; }

  // Makes `name` under the program's /dev appear as a link to `target`, as a board plugged in
  // later would; removes it again for an empty target.
  bool linkDevice(const std::string& name, const std::string& target) const;

  // Holds the line's output, as a device that has stopped taking bytes does, or lets it go.
  void holdLine(bool held) const;

  // Starts the program; returns false, with the reason in error(), when the sandbox can't be made.
  bool start();

  // Collects the line and standard output until `done` holds or the program has ended;
  // gives up after `seconds`. Returns whether `done` holds.
  bool collectUntil(const std::function<bool()>& done, double seconds = 5);

  void send(int sig) const;
  // Whether the program is stopped as a suspended job.
  bool suspended() const;
  // How many files the program has open at this moment.
  size_t openFiles() const;
  // Goes away as a reader of the program's standard output.
  void closeOutput();

  // Waits for the program to end, collecting everything it sent; returns its wait status.
  int finish(int seconds = 5);
  bool running();

  const std::string& dir() const { return dir_; }
  const std::string& line() const { return line_; }
  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }
  const std::string& error() const { return error_; }

 private:
  void readAvailable(int timeoutMs);
  bool refuse(const std::string& why);

  std::string program_;
  std::string device_;
  std::vector<std::string> args_;
  bool deviceDenied_ = false;
  std::string dir_;
  int master_ = -1;
  int slave_ = -1;  // held open so that the line never hangs up between the program's cycles
  std::string slavePath_;
  int outRead_ = -1;
  int errRead_ = -1;
  pid_t pid_ = -1;
  int status_ = 0;
  bool ended_ = false;
  std::string line_;
  std::string out_;
  std::string err_;
  std::string error_;
};
