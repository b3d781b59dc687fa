// The serial line layer: four calls that open, write to and close a serial device.
//
// Builds that link the installed wiringPi get its own declarations of the same four calls;
// every other build gets ours, below, with the same contract. Callers include this header only
// and never see a termios detail.
#pragma once

#ifdef SERIAL_LINE_USE_WIRINGPI
#include <wiringSerial.h>
#else

extern "C" {

// Opens `device` for reading and writing, without making it the caller's controlling terminal
// and without blocking on the open (a modem line that is down does not hold it up).
// On a terminal device it then sets a raw 8N1 line at `baud` with the receiver on, modem
// control lines ignored, no flow control, and no hang-up on close: the modem lines stay raised
// when the descriptor closes, so a board that resets when they drop and rise is reset at most
// once, by the first open. A device that is not a terminal keeps its settings.
// Writes on the returned descriptor block until the kernel has taken the bytes.
// Returns the descriptor, or -1 when the rate is not a standard one, the device cannot be
// opened, or its line cannot be set.
int serialOpen(const char* device, int baud);

// Writes exactly the bytes that `format` makes of the arguments, as printf would format them,
// NUL bytes included: "%c" with 0 writes one byte 0. Retries writes cut short by a signal.
// Does nothing for a negative descriptor.
void serialPrintf(int fd, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Writes the one byte `c`. Does nothing for a negative descriptor.
void serialPutchar(int fd, unsigned char c);

// Closes the descriptor. Does nothing for a negative descriptor.
void serialClose(int fd);

}  // extern "C"

#endif
