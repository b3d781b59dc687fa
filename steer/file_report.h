// Tells the operator on standard error when a position file cannot be read or holds less than
// its format asks for, and when it reads whole again. A state that clears within 200 ms, as when
// a producer rewrites a file in place, is not told.
#pragma once

#include <cstdio>

namespace steer {

enum class FileProblem { none, missing, unreadable, incomplete };

struct FileReport {
  const char* name;        // "t.txt"
  const char* incomplete;  // what a whole file holds: "eight numbers"
  FileProblem problem = FileProblem::none;
  int error = 0;
  long long sinceMs = 0;  // when the problem began
  FileProblem told = FileProblem::none;
  bool hadValues = false;  // the file had been read whole before: there are values to keep
  std::FILE* to = stderr;  // where it is told; null for nowhere
};

// What the last read of the file came to, at `nowMs`, and whether the file had been read whole
// before it; tells it when it has lasted, or has cleared.
void fileRead(FileReport& r, FileProblem problem, int error, long long nowMs, bool hadValues);

}  // namespace steer
