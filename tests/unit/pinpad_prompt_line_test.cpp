#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "pinpad/prompt_line.h"

namespace vantorel::pinpad {
namespace {

using Bytes = std::vector<std::uint8_t>;

PromptLine Line(const char* text, int x = 0, int y = 0) {
  PromptLine line{};
  for (int i = 0; i < 13; ++i) line.attributes[i] = static_cast<unsigned char>(0xA0 + i);
  line.x = x;
  line.y = y;
  line.text = text;
  return line;
}

Bytes Encode(const PromptLine& line, std::size_t capacity = 512) {
  std::vector<std::uint8_t> out(capacity + 1, 0xEE);
  std::size_t written = 0;
  if (!EncodePromptLine(line, out.data(), capacity, written)) return {};
  EXPECT_EQ(out[written], 0xEE) << "wrote past its length";
  out.resize(written);
  return out;
}

TEST(PromptLineTest, EmptyTextEncodesAsTwentyOneBytes) {
  const Bytes expected = {0x15, 0x00, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8,
                          0xA9, 0xAA, 0xAB, 0xAC, 0x2C, 0x01, 0xEF, 0x00, 0x00, 0x00};
  EXPECT_EQ(Encode(Line("", 300, 239)), expected);
}

TEST(PromptLineTest, TextFollowsHeaderWithoutItsZero) {
  const Bytes got = Encode(Line("PIN?", 10, 20));
  ASSERT_EQ(got.size(), 25u);
  EXPECT_EQ(got[0], 25);
  EXPECT_EQ(got[19], 4);
  EXPECT_EQ(std::string(got.begin() + 21, got.end()), "PIN?");
}

// A value sent as 16 bits is its low byte, then the low byte of value / 256 truncated
// toward zero: negative and oversized values follow that rule, not two's complement.
TEST(PromptLineTest, CoordinatesUseTheSixteenBitRule) {
  struct Case {
    int value;
    std::uint8_t low, high;
  } const cases[] = {{0, 0x00, 0x00},     {255, 0xFF, 0x00},   {256, 0x00, 0x01},
                     {65535, 0xFF, 0xFF}, {65536, 0x00, 0x00}, {-1, 0xFF, 0x00},
                     {-256, 0x00, 0xFF},  {-257, 0xFF, 0xFF}};
  for (const auto& c : cases) {
    const Bytes got = Encode(Line("", c.value, c.value));
    ASSERT_EQ(got.size(), 21u);
    EXPECT_EQ(got[15], c.low) << c.value;
    EXPECT_EQ(got[16], c.high) << c.value;
    EXPECT_EQ(got[17], c.low) << c.value;
    EXPECT_EQ(got[18], c.high) << c.value;
  }
}

TEST(PromptLineTest, TextLengthLimit) {
  const std::string longest(kMaxPromptText, 'x');
  const Bytes got = Encode(Line(longest.c_str()));
  ASSERT_EQ(got.size(), 255u);
  EXPECT_EQ(got[0], 255);
  EXPECT_EQ(got[19], 234);

  const std::string tooLong(kMaxPromptText + 1, 'x');
  EXPECT_TRUE(Encode(Line(tooLong.c_str())).empty());
  EXPECT_TRUE(Encode(Line(nullptr)).empty());
}

TEST(PromptLineTest, RefusesWhatDoesNotFitTheCapacity) {
  EXPECT_EQ(Encode(Line("abc"), 24).size(), 24u);
  EXPECT_TRUE(Encode(Line("abc"), 23).empty());
}

TEST(PromptLineTest, LinesFollowEachOtherInOrder) {
  const PromptLine lines[3] = {Line("one", 1, 2), Line(""), Line("three", 3, 4)};
  std::array<std::uint8_t, 128> out{};
  std::size_t written = 0;
  ASSERT_TRUE(EncodePromptLines(lines, 3, out.data(), out.size(), written));
  ASSERT_EQ(written, 24u + 21u + 26u);
  EXPECT_EQ(out[0], 24);
  EXPECT_EQ(out[24], 21);
  EXPECT_EQ(out[45], 26);
  EXPECT_EQ(std::string(out.begin() + 45 + 21, out.begin() + 71), "three");

  // Only the first `count` lines are looked at: a null text beyond them is fine.
  PromptLine withNull[2] = {Line("a"), Line(nullptr)};
  EXPECT_TRUE(EncodePromptLines(withNull, 1, out.data(), out.size(), written));
  EXPECT_EQ(written, 22u);
  EXPECT_FALSE(EncodePromptLines(withNull, 2, out.data(), out.size(), written));
  EXPECT_TRUE(EncodePromptLines(nullptr, 0, out.data(), out.size(), written));
  EXPECT_EQ(written, 0u);
}

TEST(PromptLineTest, RefusesBodiesThatOverflowAndMoreThanTenLines) {
  const std::string text(200, 'y');
  PromptLine lines[10];
  for (auto& line : lines) line = Line(text.c_str());
  std::array<std::uint8_t, 512> out{};
  std::size_t written = 0;
  EXPECT_TRUE(EncodePromptLines(lines, 2, out.data(), out.size(), written));
  EXPECT_EQ(written, 442u);
  EXPECT_FALSE(EncodePromptLines(lines, 3, out.data(), out.size(), written));
  EXPECT_FALSE(EncodePromptLines(lines, 11, out.data(), out.size(), written));
}

TEST(PromptLineTest, OnlyTheLowByteOfTheCountCounts) {
  EXPECT_EQ(PromptLineCount(0x100), 0u);
  EXPECT_EQ(PromptLineCount(0x10A), 10u);
  EXPECT_EQ(PromptLineCount(-1), 255u);
}

}  // namespace
}  // namespace vantorel::pinpad
