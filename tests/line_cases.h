// Runs of bytes a board may receive, what the frame decoder makes of them, and what the board's
// firmware then does with its motors. The decoder's tests and the firmware's tests in the
// simulator both go through this one table.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct LineCase {
  const char* name;
  Bytes bytes;
  const char* events;  // one line per event: "frame 32 81", "stop 00 80", "stray ff", ...
  // The motors after the bytes, from power-up, with the sketch's own code table: left, then right;
  // "+N" forward and "-N" backward at PWM duty N of 255, "0" off.
  const char* motors;
};

inline const LineCase lineCases[] = {
    // Each code as the sketch's table has it, at steer's powers; 0 to 100 maps onto 0 to 255.
    {"Code1SpinsRight", {0x32, 0x81}, "frame 32 81\n", "+127 -127"},
    {"Code2SpinsLeft", {0x32, 0x82}, "frame 32 82\n", "-127 +127"},
    {"Code3ArcsLeft", {0x32, 0x83}, "frame 32 83\n", "+63 +127"},
    {"Code4ArcsRight", {0x32, 0x84}, "frame 32 84\n", "+127 +63"},
    {"Code5GoesStraightAhead", {0x64, 0x85}, "frame 64 85\n", "+255 +255"},
    {"PowerAbove100IsFull", {0x7f, 0x83}, "frame 7f 83\n", "+127 +255"},
    {"PowerMapsOntoTheDuty", {0x0a, 0x85}, "frame 0a 85\n", "+25 +25"},
    {"PowerZeroIsStillAFrame", {0x00, 0x81}, "frame 00 81\n", "+0 -0"},
    {"TheLastFrameCounts",
     {0x32, 0x81, 0x32, 0x82, 0x32, 0x83, 0x32, 0x84, 0x64, 0x85},
     "frame 32 81\nframe 32 82\nframe 32 83\nframe 32 84\nframe 64 85\n",
     "+255 +255"},
    {"StopWithItsNul", {0x32, 0x84, 0x00, 0x80}, "frame 32 84\nstop 00 80\n", "0 0"},
    {"StopWithoutItsNul", {0x32, 0x84, 0x80}, "frame 32 84\nstop 80\n", "0 0"},
    {"LoneStop", {0x32, 0x81, 0x80, 0x80}, "frame 32 81\nstop 80\nstop 80\n", "0 0"},
    {"PowerCutOffByAStop",
     {0x32, 0x84, 0x32, 0x00, 0x80},
     "frame 32 84\nlone-power 32\nstop 00 80\n",
     "0 0"},
    {"PowerCutOffByAStopWithoutItsNul",
     {0x32, 0x84, 0x32, 0x80},
     "frame 32 84\nlone-power 32\nstop 80\n",
     "0 0"},
    {"PowerCutOffByAnotherPower", {0x32, 0x64, 0x85}, "lone-power 32\nframe 64 85\n", "+255 +255"},
    {"PowerCutOffByTheEnd", {0x32, 0x81, 0x32}, "frame 32 81\nlone-power 32\n", "+127 -127"},
    // Bytes that make no whole frame start nothing and change nothing.
    {"TestBytesOfTheLinkProbe",
     {0x01, 0x01, 0x01},
     "lone-power 01\nlone-power 01\nlone-power 01\n",
     "0 0"},
    {"DirectionWithoutPower",
     {0x81, 0x32, 0x85, 0x85},
     "lone-direction 81\nframe 32 85\nlone-direction 85\n",
     "+127 +127"},
    {"StrayBytes",
     {0xff, 0x32, 0x86, 0x64, 0x85},
     "stray ff\nlone-power 32\nstray 86\nframe 64 85\n",
     "+255 +255"},
    {"JunkAfterAFrame",
     {0x32, 0x84, 0xff, 0x86, 0x85, 0x81, 0x01},
     "frame 32 84\nstray ff\nstray 86\nlone-direction 85\nlone-direction 81\nlone-power 01\n",
     "+127 +63"},
};

// Names a case in the tests' output by its name alone.
inline void PrintTo(const LineCase& c, std::ostream* out) { *out << c.name; }
