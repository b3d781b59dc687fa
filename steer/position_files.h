// The position files, "t.txt" and "b.txt", in a folder: read whole each time, no file kept open
// between reads; and whether they are still being written, since a producer that has died leaves
// them as they were and steering on them would drive the robot on old news.
#pragma once

#include <sys/stat.h>

#include <string>

#include "steer/controller.h"

namespace steer {

class PositionFiles : public PositionSource {
 public:
  // The files in `folder`; the working folder when it is empty.
  explicit PositionFiles(const std::string& folder = "");

  // "t.txt" holds eight numbers as %f reads them, blank-separated; "b.txt" "(x, y" and anything
  // after it.
  FileRead readGoalPoints(float (&m)[8]) override;
  FileRead readObjectPosition(float (&b)[2]) override;
  // Another inode, size or modification time of either, or a file that has come or gone.
  bool changed() override;

  std::FILE* f = nullptr;  // the file being read

 private:
  // What a look at a file saw; a missing file is one more state.
  struct Mark {
    bool exists = false;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool operator==(const Mark& o) const;
  };
  static Mark look(const std::string& path);
  bool open(const std::string& path);
  FileRead finishRead(int values, int wanted);

  std::string goalPath_;
  std::string objectPath_;
  Mark goalMark_;
  Mark objectMark_;
  bool looked_ = false;
  char buffer_[512];  // the file being read, as far as it has been read
};

}  // namespace steer
