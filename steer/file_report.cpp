#include "file_report.h"

#include <cstdio>
#include <cstring>

#include "freshness.h"

namespace steer {

namespace {

constexpr long long settleMs = 200;

void tell(const FileReport& r) {
  switch (r.problem) {
    case FileProblem::none:
      (void)std::fprintf(stderr, "steer: %s reads whole again\n", r.name);
      return;
    case FileProblem::missing:
      (void)std::fprintf(stderr, "steer: %s is missing; keeping its last values\n", r.name);
      return;
    case FileProblem::unreadable: {
      const char* text = strerrordesc_np(r.error);
      (void)std::fprintf(stderr, "steer: cannot read %s: %s; keeping its last values\n", r.name,
                         text != nullptr ? text : "unknown error");
      return;
    }
    case FileProblem::incomplete:
      (void)std::fprintf(stderr,
                         "steer: %s holds less than %s; keeping the last values of the rest\n",
                         r.name, r.incomplete);
      return;
  }
}

}  // namespace

void fileRead(FileReport& r, FileProblem problem, int error) {
  const long long now = monotonicMs();
  if (problem != r.problem || error != r.error) r.sinceMs = now;
  r.problem = problem;
  r.error = error;
  if (problem == r.told) return;
  if (problem == FileProblem::none || now - r.sinceMs >= settleMs) {
    tell(r);
    r.told = problem;
  }
}

}  // namespace steer
