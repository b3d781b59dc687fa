// Whether a running process has a handler installed for a signal, from /proc.
#pragma once

#include <sys/types.h>

#include <fstream>
#include <string>

inline bool catchesSignal(pid_t pid, int sig) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  std::string value;
  while (pid > 0 && status >> key >> value) {
    if (key == "SigCgt:") return ((std::stoull(value, nullptr, 16) >> (sig - 1)) & 1U) != 0;
    std::getline(status, value);
  }
  return false;
}
