// Sends the test byte 1 to the board on "/dev/ttyACM0", opening and closing the device for every
// byte, until a signal ends the program. It prints nothing and handles no signal.
#include "serial_line.h"

namespace {
unsigned char buff[3];
int fd;
}  // namespace

int main() {
  buff[1] = 1;
  for (;;) {
    fd = serialOpen("/dev/ttyACM0", 9600);
    serialPutchar(fd, buff[1]);
    serialClose(fd);
  }
}
