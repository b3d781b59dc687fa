// The frame decoder: what each run of bytes on the line amounts to.
#include "frame_decoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// "frame 32 81", "stop 00 80", "lone-power 32", "lone-direction 81", "stray ff"; one per line.
std::string describe(const board::Event& e) {
  static const char* const kinds[] = {"frame", "stop", "lone-power", "lone-direction", "stray"};
  char text[32];
  (void)std::snprintf(text, sizeof text, e.size == 2 ? "%s %02x %02x\n" : "%s %02x\n",
                      kinds[static_cast<int>(e.kind)], e.bytes[0], e.bytes[1]);
  return text;
}

// Decodes `bytes` fed in two pieces, the first `split` bytes long.
std::string decode(const Bytes& bytes, size_t split) {
  board::FrameDecoder decoder;
  std::string events;
  const auto sink = [&](const board::Event& e) { events += describe(e); };
  decoder.feed(bytes.data(), static_cast<std::uint32_t>(split), sink);
  decoder.feed(bytes.data() + split, static_cast<std::uint32_t>(bytes.size() - split), sink);
  decoder.finish(sink);
  return events;
}

struct Case {
  const char* name;
  Bytes bytes;
  const char* events;
};

const Case cases[] = {
    {"WholeFramesOfEachCode",
     {0x32, 0x81, 0x32, 0x82, 0x32, 0x83, 0x32, 0x84, 0x64, 0x85},
     "frame 32 81\nframe 32 82\nframe 32 83\nframe 32 84\nframe 64 85\n"},
    {"PowerZeroIsStillAFrame", {0x00, 0x81}, "frame 00 81\n"},
    {"StopWithItsNul", {0x32, 0x84, 0x00, 0x80}, "frame 32 84\nstop 00 80\n"},
    {"StopWithoutItsNul", {0x32, 0x84, 0x80}, "frame 32 84\nstop 80\n"},
    {"LoneStop", {0x80, 0x80}, "stop 80\nstop 80\n"},
    {"PowerCutOffByAStop", {0x32, 0x00, 0x80}, "lone-power 32\nstop 00 80\n"},
    {"PowerCutOffByAStopWithoutItsNul", {0x32, 0x80}, "lone-power 32\nstop 80\n"},
    {"PowerCutOffByAnotherPower", {0x32, 0x64, 0x85}, "lone-power 32\nframe 64 85\n"},
    {"PowerCutOffByTheEnd", {0x32, 0x81, 0x32}, "frame 32 81\nlone-power 32\n"},
    {"TestBytesOfTheLinkProbe",
     {0x01, 0x01, 0x01},
     "lone-power 01\nlone-power 01\nlone-power 01\n"},
    {"DirectionWithoutPower",
     {0x81, 0x32, 0x85, 0x85},
     "lone-direction 81\nframe 32 85\nlone-direction 85\n"},
    {"StrayBytes",
     {0xff, 0x32, 0x86, 0x64, 0x85},
     "stray ff\nlone-power 32\nstray 86\nframe 64 85\n"},
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class FrameDecoderTest : public testing::TestWithParam<Case> {};

TEST_P(FrameDecoderTest, TellsWhatTheBytesAmountTo) {
  const Case& c = GetParam();
  EXPECT_EQ(decode(c.bytes, c.bytes.size()), c.events);
}

INSTANTIATE_TEST_SUITE_P(Lines, FrameDecoderTest, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// Bytes arrive in pieces of any size: every case after every other, split at every point.
TEST(FrameDecoder, GivesTheSameEventsWhereverTheInputIsSplit) {
  Bytes all;
  for (const Case& c : cases) {
    all.insert(all.end(), c.bytes.begin(), c.bytes.end());
  }
  const std::string whole = decode(all, all.size());
  ASSERT_NE(whole.find("stray 86\n"), std::string::npos);
  for (size_t split = 0; split <= all.size(); ++split) {
    ASSERT_EQ(decode(all, split), whole) << "split after byte " << split;
  }
}

}  // namespace
