// What the kernel says of a process the tests started.
#pragma once

#include <sys/types.h>

#include <fstream>
#include <iterator>
#include <string>

// The process's state letter: R running, S sleeping, T stopped, Z ended; '?' once it is gone.
// It follows the command's name, which is in parentheses and may hold blanks.
inline char processState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t end = text.rfind(") ");
  return end == std::string::npos || end + 2 >= text.size() ? '?' : text[end + 2];
}
