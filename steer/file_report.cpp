#include "steer/file_report.h"

#include <cstdio>

#include "serial/link_report.h"

namespace steer {

namespace {

constexpr long long settleMs = 200;

// What the file's last values are worth: before it has ever been read whole there are none.
const char* keeping(const FileReport& r, const char* kept, const char* waiting) {
  return r.hadValues ? kept : waiting;
}

void tell(const FileReport& r) {
  switch (r.problem) {
    case FileProblem::none:
      (void)std::fprintf(r.to, "steer: %s reads whole%s\n", r.name, r.hadValues ? " again" : "");
      return;
    case FileProblem::missing:
      (void)std::fprintf(r.to, "steer: %s is missing; %s\n", r.name,
                         keeping(r, "keeping its last values", "waiting for it"));
      return;
    case FileProblem::unreadable:
      (void)std::fprintf(r.to, "steer: cannot read %s: %s; %s\n", r.name, errorText(r.error),
                         keeping(r, "keeping its last values", "waiting for it"));
      return;
    case FileProblem::incomplete:
      (void)std::fprintf(
          r.to, "steer: %s holds less than %s; %s\n", r.name, r.incomplete,
          keeping(r, "keeping the last values of the rest", "waiting for a whole one"));
      return;
  }
}

}  // namespace

void fileRead(FileReport& r, FileProblem problem, int error, long long now, bool hadValues) {
  r.hadValues = hadValues;
  if (problem != r.problem || error != r.error) r.sinceMs = now;
  r.problem = problem;
  r.error = error;
  if (problem == r.told) return;
  if (problem == FileProblem::none || now - r.sinceMs >= settleMs) {
    if (r.to != nullptr) tell(r);
    r.told = problem;
  }
}

}  // namespace steer
