#include "steer/position_files.h"

#include <cerrno>

namespace steer {

PositionFiles::PositionFiles(const std::string& folder)
    : goalPath_(folder.empty() ? "t.txt" : folder + "/t.txt"),
      objectPath_(folder.empty() ? "b.txt" : folder + "/b.txt") {}

// What a read came to: the file missing or unreadable, or the number of values it held. A file
// that was only read loses nothing when closing fails.
FileRead PositionFiles::finishRead(int values, int wanted) {
  if (f == nullptr) {
    return {0, errno == ENOENT ? FileProblem::missing : FileProblem::unreadable, errno};
  }
  const bool failed = std::ferror(f) != 0;
  const FileRead r{values,
                   failed             ? FileProblem::unreadable
                   : values == wanted ? FileProblem::none
                                      : FileProblem::incomplete,
                   failed ? errno : 0};
  (void)std::fclose(f);
  f = nullptr;
  return r;
}

// A buffer of our own spares the library's: its allocation, and asking the system what size to make
// it.
bool PositionFiles::open(const std::string& path) {
  f = std::fopen(path.c_str(), "r");
  if (f != nullptr) (void)std::setvbuf(f, buffer_, _IOFBF, sizeof buffer_);
  return f != nullptr;
}

FileRead PositionFiles::readGoalPoints(float (&m)[8]) {
  if (!open(goalPath_)) return finishRead(0, 8);
  // The file format is what %f reads: a number beyond float's range reads as the nearest infinity,
  // which the band rules handle, so there is no conversion error to report.
  // NOLINTNEXTLINE(cert-err34-c)
  const int n = std::fscanf(f, "%f %f \n %f %f \n %f %f \n %f %f", &m[0], &m[1], &m[2], &m[3],
                            &m[4], &m[5], &m[6], &m[7]);
  return finishRead(n, 8);
}

FileRead PositionFiles::readObjectPosition(float (&b)[2]) {
  if (!open(objectPath_)) return finishRead(0, 2);
  // NOLINTNEXTLINE(cert-err34-c): read as in readGoalPoints
  const int n = std::fscanf(f, "(%f, %f ", &b[0], &b[1]);
  return finishRead(n, 2);
}

bool PositionFiles::Mark::operator==(const Mark& o) const {
  if (exists != o.exists) return false;
  return !exists || (inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
                     modified.tv_nsec == o.modified.tv_nsec);
}

PositionFiles::Mark PositionFiles::look(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  return {true, st.st_ino, st.st_size, st.st_mtim};
}

bool PositionFiles::changed() {
  const Mark goalNow = look(goalPath_);
  const Mark objectNow = look(objectPath_);
  const bool changed = looked_ && !(goalNow == goalMark_ && objectNow == objectMark_);
  goalMark_ = goalNow;
  objectMark_ = objectNow;
  looked_ = true;
  return changed;
}

}  // namespace steer
