// The frame decoder: what each run of bytes on the line amounts to.
#include "frame_decoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "line_cases.h"

namespace {

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

class FrameDecoderTest : public testing::TestWithParam<LineCase> {};

TEST_P(FrameDecoderTest, TellsWhatTheBytesAmountTo) {
  const LineCase& c = GetParam();
  EXPECT_EQ(decode(c.bytes, c.bytes.size()), c.events);
}

INSTANTIATE_TEST_SUITE_P(Lines, FrameDecoderTest, testing::ValuesIn(lineCases),
                         [](const testing::TestParamInfo<LineCase>& info) {
                           return info.param.name;
                         });

// Bytes arrive in pieces of any size: every case after every other, split at every point.
TEST(FrameDecoder, GivesTheSameEventsWhereverTheInputIsSplit) {
  Bytes all;
  for (const LineCase& c : lineCases) {
    all.insert(all.end(), c.bytes.begin(), c.bytes.end());
  }
  const std::string whole = decode(all, all.size());
  ASSERT_NE(whole.find("stray 86\n"), std::string::npos);
  for (size_t split = 0; split <= all.size(); ++split) {
    ASSERT_EQ(decode(all, split), whole) << "split after byte " << split;
  }
}

}  // namespace
