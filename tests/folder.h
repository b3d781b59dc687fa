// A working folder of its own for a test, which goes away with it.
#pragma once

#include <filesystem>
#include <string>

#include "robot/lockstep.h"

struct Folder {
  std::string path;
  Folder() {
    std::string why;
    robot::makeWorkFolder("", path, why);
  }
  ~Folder() { std::filesystem::remove_all(path); }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
};
