// The board's serial device as steer's line: each byte in its own open-write-wait-close cycle at
// 9600 baud, every wait bounded, and what becomes of the line told to the operator.
#pragma once

#include <signal.h>

#include "serial/link_report.h"
#include "steer/controller.h"

namespace steer {

class DeviceLine : public Line {
 public:
  DeviceLine(const char* device, Clock& clock);

  ByteFate send(int byte, bool isStop, std::int64_t endingByMs) override;
  void pause() override;
  void clearForStop() override;
  void tell(bool now) override;
  const char* name() const override { return link.device; }
  const char* whyNotSent() const override;

  LinkReport link;
  int fd = 0;  // the descriptor that the last open returned

 private:
  int byteBound(std::int64_t endingByMs);

  Clock& clock_;
  sigset_t watched_{};  // the ending signals and Ctrl-Z, which cut a command byte's wait short
};

// Busy-waits for n ticks of the processor-time clock.
void delay(int n);

// Milliseconds of the machine's clock that only moves forward.
class MonotonicClock : public Clock {
 public:
  std::int64_t nowMs() override;
};

}  // namespace steer
