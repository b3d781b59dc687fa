// The bytes of a command frame and of the stop sequence, as frame_decoder.h reads them: written
// here once for steer, the simulators and the tests. Like the decoder, it compiles as gnu++11.
#pragma once

#include <stdint.h>

namespace board {

struct FrameBytes {
  uint8_t bytes[2];
};

// Direction code `code` (1 to 5) at `power` (0 to 127): the power byte, then the code with the
// top bit set.
constexpr FrameBytes encodeFrame(int code, int power) {
  return FrameBytes{{static_cast<uint8_t>(power), static_cast<uint8_t>(code | 0x80)}};
}

// The value 0, then direction code 0 with the top bit set.
constexpr FrameBytes stopSequence = {{0x00, 0x80}};

}  // namespace board
