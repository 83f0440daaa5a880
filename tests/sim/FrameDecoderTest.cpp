#include "sim/FrameDecoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vxsim {

namespace {

// Names a table case after its Name field.
struct CaseName {
  template <typename Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& c) const {
    return c.param.Name;
  }
};

using ByteList = std::vector<std::uint8_t>;

ByteList Repeat(std::size_t count, std::uint8_t value) {
  return ByteList(count, value);
}

ByteList Join(std::initializer_list<ByteList> parts) {
  ByteList all;
  for (const ByteList& part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

const ByteList kReset{0xFF};

struct DecoderCase {
  std::string Name;
  int Boards;
  std::vector<ByteList> Reads;  // as the line delivered them
  bool PendingAfterReads;
  std::vector<SimUnit> Units;  // after the reads and a final flush
  std::size_t Resets;
  std::uint64_t Frames;
};

class FrameDecoderCases : public ::testing::TestWithParam<DecoderCase> {};

TEST_P(FrameDecoderCases, CutsTheStreamIntoUnits) {
  const DecoderCase& c = GetParam();
  FrameDecoder decoder(c.Boards);
  std::vector<SimUnit> units;
  std::size_t resets = 0;
  std::uint64_t bytes = 0;
  for (const ByteList& read : c.Reads) {
    resets += decoder.Feed(read, units);
    bytes += read.size();
  }
  EXPECT_EQ(decoder.Pending(), c.PendingAfterReads);
  decoder.Flush(units);
  EXPECT_FALSE(decoder.Pending());

  ASSERT_EQ(units.size(), c.Units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    EXPECT_EQ(units[i], c.Units[i]) << "unit " << i;
  }
  EXPECT_EQ(resets, c.Resets);
  EXPECT_EQ(decoder.ResetCount(), c.Resets);
  EXPECT_EQ(decoder.FrameCount(), c.Frames);
  EXPECT_EQ(decoder.ByteCount(), bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, FrameDecoderCases,
    ::testing::Values(
        // Without boards a frame is the RESET alone.
        DecoderCase{"NoBoardsEveryResetIsAFrame",
                    0,
                    {{0xFF, 0xFF}},
                    false,
                    {{kReset, true}, {kReset, true}},
                    2,
                    2},
        DecoderCase{"DetectionThenFrame",
                    1,
                    {kReset, Join({kReset, Repeat(80, 7)})},
                    false,
                    {{kReset, false}, {Join({kReset, Repeat(80, 7)}), true}},
                    2,
                    1},
        DecoderCase{"FrameSplitAcrossReads",
                    2,
                    {{0xFF, 1, 2}, Repeat(100, 3), Repeat(58, 4)},
                    false,
                    {{Join({ByteList{0xFF, 1, 2}, Repeat(100, 3), Repeat(58, 4)}), true}},
                    1,
                    1},
        DecoderCase{"PartialFrameEndedByReset",
                    1,
                    {Join({{0xFF, 1, 2, 3}, kReset, Repeat(80, 0)})},
                    false,
                    {{{0xFF, 1, 2, 3}, false}, {Join({kReset, Repeat(80, 0)}), true}},
                    2,
                    1},
        DecoderCase{"BytesBeforeTheFirstReset",
                    1,
                    {Join({{0x10, 0x20}, kReset, Repeat(80, 9)})},
                    false,
                    {{{0x10, 0x20}, false}, {Join({kReset, Repeat(80, 9)}), true}},
                    1,
                    1},
        DecoderCase{"BytesAfterAFrameWaitForTheFlush",
                    1,
                    {Join({kReset, Repeat(80, 1)}), {0x33, 0x44}},
                    true,
                    {{Join({kReset, Repeat(80, 1)}), true}, {{0x33, 0x44}, false}},
                    1,
                    1},
        // A brightness of 255 is a RESET to the chain, wherever it stands.
        DecoderCase{
            "BrightnessFFStartsOver",
            1,
            {Join({kReset, Repeat(40, 0), kReset, Repeat(39, 0)})},
            true,
            {{Join({kReset, Repeat(40, 0)}), false}, {Join({kReset, Repeat(39, 0)}), false}},
            2,
            0},
        DecoderCase{"BareResetEndsOnlyByFlush", 2, {kReset}, true, {{kReset, false}}, 1, 0},
        DecoderCase{"NothingReceived", 2, {}, false, {}, 0, 0}),
    CaseName());

TEST(FrameDecoder, LastFrameHoldsTheLastWholeFrameOnly) {
  FrameDecoder decoder(1);
  std::vector<SimUnit> units;
  EXPECT_EQ(ByteList(decoder.LastFrame().begin(), decoder.LastFrame().end()), Repeat(80, 0));

  ByteList first = Repeat(80, 0);
  first[0] = 254;
  first[79] = 17;
  decoder.Feed(Join({kReset, first}), units);
  EXPECT_EQ(ByteList(decoder.LastFrame().begin(), decoder.LastFrame().end()), first);

  // An unfinished frame does not reach the bars.
  decoder.Feed(Join({kReset, Repeat(20, 99)}), units);
  decoder.Flush(units);
  EXPECT_EQ(ByteList(decoder.LastFrame().begin(), decoder.LastFrame().end()), first);
  EXPECT_EQ(decoder.FrameLen(), 80U);
}

}  // namespace

}  // namespace vxsim
