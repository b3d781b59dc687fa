#include "options.h"
#include "steer.h"

int main(int argc, char* argv[]) {
  const int status = steer::readArguments(argc, argv);
  return status >= 0 ? status : steer::run();
}
