#include "steer/controller.h"
#include "steer/device_line.h"
#include "steer/options.h"
#include "steer/position_files.h"

int main(int argc, char* argv[]) {
  const steer::Options options = steer::readOptions(argc, argv);
  const int status = steer::answer(options);
  if (status >= 0) return status;
  steer::MonotonicClock clock;
  steer::PositionFiles files;
  steer::DeviceLine line(options.settings.device, clock);
  steer::Controller controller(options.settings, clock, files, line);
  return controller.run();
}
