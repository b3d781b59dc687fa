// What the frame decoder makes of a run of bytes, as text a test can compare.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "firmware/steer_board/frame_decoder.h"

// "frame 32 81", "stop 00 80", "lone-power 32", "lone-direction 81", "stray ff"; one per line.
inline std::string describe(const board::Event& e) {
  static const char* const kinds[] = {"frame", "stop", "lone-power", "lone-direction", "stray"};
  char text[32];
  (void)std::snprintf(text, sizeof text, e.size == 2 ? "%s %02x %02x\n" : "%s %02x\n",
                      kinds[static_cast<int>(e.kind)], e.bytes[0], e.bytes[1]);
  return text;
}

// Decodes `bytes` fed in two pieces, the first `split` bytes long.
inline std::string decode(const std::vector<std::uint8_t>& bytes, size_t split) {
  board::FrameDecoder decoder;
  std::string events;
  const auto sink = [&](const board::Event& e) { events += describe(e); };
  decoder.feed(bytes.data(), static_cast<std::uint32_t>(split), sink);
  decoder.feed(bytes.data() + split, static_cast<std::uint32_t>(bytes.size() - split), sink);
  decoder.finish(sink);
  return events;
}
