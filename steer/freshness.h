// Notices whether the position files are still being written: a producer that has died leaves
// them as they were, and steering on them would drive the robot on old news.
#pragma once

#include <cstdint>

namespace steer {

// Whether "t.txt" or "b.txt" differs from the last look: another inode, size or modification
// time, or a file that has come or gone. The first look only takes note.
bool positionFilesChanged();

// Milliseconds of a clock that only moves forward.
std::int64_t monotonicMs();

}  // namespace steer
