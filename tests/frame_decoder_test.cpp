// The frame decoder: what each run of bytes on the line amounts to.
#include "firmware/steer_board/frame_decoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/decoded.h"
#include "tests/line_cases.h"

namespace {

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
