// Pen-packet decoding: the three formats, relative moves and their limits, failed runs.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "signpad/point_decoder.h"
#include "vterm/signpad.h"

namespace {

using vantorel::signpad::DecodePointPackets;
using vantorel::signpad::RelativePosition;
using Values = std::vector<int>;

struct Decoded {
  bool ok = false;
  Values values;
};

Decoded Decode(int format, const std::vector<std::uint8_t>& bytes) {
  std::array<int, 40> area{};
  int count = -1;
  Decoded d;
  d.ok = DecodePointPackets(format, bytes, area, count);
  d.values.assign(area.begin(), area.begin() + count);
  return d;
}

struct Case {
  const char* name;
  int format;
  std::vector<std::uint8_t> bytes;
  bool ok;
  Values values;
};

class SignpadDecodeCases : public ::testing::TestWithParam<Case> {};

TEST_P(SignpadDecodeCases, Decodes) {
  const Case& c = GetParam();
  const Decoded d = Decode(c.format, c.bytes);
  EXPECT_EQ(d.ok, c.ok);
  EXPECT_EQ(d.values, c.values);
}

INSTANTIATE_TEST_SUITE_P(
    , SignpadDecodeCases,
    ::testing::Values(
        Case{"Format1Point", 1, {0x9C, 0x2B, 0x45, 0x12, 0x00}, true, {709, 402}},
        Case{"Format1PenUp", 1, {0x8C, 0x7F, 0x7F, 0x7F, 0x7F}, true, {-1, -1}},
        Case{"HighBitsIgnored", 1, {0x9C, 0xFF, 0xFF, 0xFF, 0xAA}, true, {1023, 1023}},
        Case{"Format1RejectsFormat4Code", 1, {0x90, 0, 1, 1, 0}, false, {}},
        Case{"Format4Point", 4, {0x90, 0x2B, 0x45, 0x12, 0x00}, true, {709, 402}},
        Case{"Format4PenUp", 4, {0x80, 0, 0, 0, 0}, true, {-1, -1}},
        Case{"Format4RejectsFormat1Code", 4, {0x9C, 0, 1, 1, 0}, false, {}},
        Case{"BadPacketKeepsEarlierValues",
             1,
             {0x9C, 0, 1, 2, 0, 0x77, 0, 0, 0, 0, 0x9C, 0, 3, 4, 0},
             false,
             {1, 2}},
        Case{"TrailingPartIgnored", 1, {0x9C, 0, 5, 6, 0, 0x9C, 0}, true, {5, 6}},
        Case{"ShorterThanPacket", 1, {0x9C, 0, 5, 6}, false, {}}, Case{"Empty", 1, {}, false, {}},
        Case{"Format3RejectsAll", 3, {0x9C, 0, 1, 1, 0}, false, {}},
        Case{"Format0Delivers Nothing", 0, {0x9C, 0, 1, 1, 0}, false, {}},
        Case{"Format5DeliversNothing", 5, {0x90, 0, 1, 1, 0}, false, {}},
        // 0x38 puts 7 in bits 9-7 of X: field 0x380, a move of -128 from 0, floored at 0.
        Case{"RelativeFloorsAtZero", 2, {0x90, 0x38, 0x00, 0x00, 0x00}, true, {0, 0}},
        Case{"RelativeMoves",
             2,
             {0x90, 0x00, 10, 20, 0, 0x90, 0x3F, 0x7B, 0x7F, 0},  // +10,+20 then -5,-1
             true,
             {10, 20, 5, 19}},
        // 511 + 511 + 511 passes 1024: held at exactly 1024, not 1023.
        Case{"RelativeCeilingIs1024",
             2,
             {0x90, 0x1B, 0x7F, 0x7F, 0, 0x90, 0x1B, 0x7F, 0x7F, 0, 0x90, 0x1B, 0x7F, 0x7F, 0},
             true,
             {511, 511, 1022, 1022, 1024, 1024}},
        Case{"PenUpResetsRelativeOrigin",
             2,
             {0x90, 0x00, 50, 60, 0, 0x80, 0, 0, 0, 0, 0x90, 0x00, 5, 6, 0},
             true,
             {50, 60, -1, -1, 5, 6}},
        Case{"Format2RejectsFormat1Code", 2, {0x9C, 0, 1, 1, 0}, false, {}}),
    [](const auto& info) {
      std::string name = info.param.name;
      std::erase(name, ' ');
      return name;
    });

TEST(SignpadDecoder, RelativePositionCarriesAcrossRuns) {
  RelativePosition position;
  std::array<int, 4> area{};
  int count = 0;
  const std::vector<std::uint8_t> first{0x90, 0x00, 100, 100, 0};
  const std::vector<std::uint8_t> second{0x90, 0x00, 1, 2, 0};
  ASSERT_TRUE(DecodePointPackets(2, first, area, count, position));
  ASSERT_TRUE(DecodePointPackets(2, second, area, count, position));
  EXPECT_EQ((Values{area[0], area[1]}), (Values{101, 102}));
}

// The stops a pad reports on its way to a stroke's first point (moves of 511) are dropped,
// also across runs; later long moves of the stroke and the next stroke's start stay.
TEST(SignpadDecoder, DropsTheApproachToAStrokesFirstPoint) {
  struct Row {
    const char* name;
    std::vector<Values> runs;
    Values kept;
  };
  const Row rows[] = {
      {"OneStop", {{511, 500, 1000, 500, 990, 510, -1, -1}}, {1000, 500, 990, 510, -1, -1}},
      {"TwoStopsOverTwoRuns", {{511, 20, 1022, 40}, {1024, 60, 1000, 60}}, {1024, 60, 1000, 60}},
      {"LongMoveInsideAStroke", {{100, 100, 611, 100}}, {100, 100, 611, 100}},
      {"EachStrokeApproachesAgain", {{5, 5, -1, -1, 300, 511, 300, 700}}, {5, 5, -1, -1, 300, 700}},
  };
  for (const Row& row : rows) {
    vantorel::signpad::StrokeApproach approach;
    Values kept;
    for (Values run : row.runs) {
      const int count =
          vantorel::signpad::DropApproach(run, static_cast<int>(run.size()), approach);
      kept.insert(kept.end(), run.begin(), run.begin() + count);
    }
    EXPECT_EQ(kept, row.kept) << row.name;
  }
}

TEST(SignpadDecoder, RefusesWhenValuesDoNotFit) {
  std::array<int, 2> area{};
  int count = 0;
  const std::vector<std::uint8_t> two{0x9C, 0, 1, 1, 0, 0x9C, 0, 2, 2, 0};
  EXPECT_FALSE(DecodePointPackets(1, two, area, count));
  EXPECT_EQ(count, 2);
}

// What the virtual pen sends decodes back to the strokes it was given, in every format the
// library knows, including long relative moves the pen has to split.
TEST(SignpadDecoder, DecodesWhatThePenEncodes) {
  const std::vector<vterm::Stroke> strokes{{{0, 0}, {700, 1000}, {690, 990}},
                                           {{1023, 5}, {3, 1023}}};
  for (int format : {1, 2, 4}) {
    const auto bytes = vterm::SignpadModule::EncodeStrokes(format, strokes);
    std::vector<int> values(bytes.size() / 5 * 2);
    int count = 0;
    RelativePosition position;
    ASSERT_TRUE(DecodePointPackets(format, bytes, values, count, position)) << format;
    // The last point of each stroke is where the pen was put, then a pen-up.
    Values ends;
    for (int i = 0; i + 1 < count; i += 2) {
      if (values[i] == -1) ends.insert(ends.end(), {values[i - 2], values[i - 1]});
    }
    EXPECT_EQ(ends, (Values{690, 990, 3, 1023})) << format;
  }
}

}  // namespace
