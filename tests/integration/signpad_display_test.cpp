// The virtual display paints what the drawing exports ask for (what the demo's PNG shows).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "signpad_test_support.h"

namespace {

using signpad_test::PadTest;
using vterm::Rgb;

class SignpadDisplay : public PadTest {};
INSTANTIATE_TEST_SUITE_P(, SignpadDisplay, ::testing::Values(support::Transport::kHid),
                         support::TransportName);

constexpr Rgb kWhite{255, 255, 255};

TEST_P(SignpadDisplay, FillAndClip) {
  ASSERT_EQ(Zelto_BrushColor(200, 0, 0), 1);
  ASSERT_EQ(Zelto_SetClipArea(0, 0, 49, 239, 0, 0, 0, 0), 1);
  ASSERT_EQ(Zelto_FillRectangle(40, 10, 60, 20), 1);
  EXPECT_EQ(pad().Pixel(40, 10), (Rgb{200, 0, 0}));
  EXPECT_EQ(pad().Pixel(49, 20), (Rgb{200, 0, 0}));
  EXPECT_EQ(pad().Pixel(50, 15), kWhite);  // outside the clip area
  EXPECT_EQ(pad().Pixel(45, 21), kWhite);
  ASSERT_EQ(Zelto_SetClipArea(0, 0, 1, 1, 1, 0, 0, 0), 1);  // a1 = 1 removes the clip
  ASSERT_EQ(Zelto_FillRectangle(40, 10, 60, 20), 1);
  EXPECT_EQ(pad().Pixel(60, 20), (Rgb{200, 0, 0}));
}

TEST_P(SignpadDisplay, LinesRectanglesAndArcsUseThePen) {
  ASSERT_EQ(Zelto_SetPenColor(0, 0, 255, 1, 0, 0, 0), 1);
  ASSERT_EQ(Zelto_DrawLine(0, 0, 10, 10), 1);
  for (int i = 0; i <= 10; ++i) EXPECT_EQ(pad().Pixel(i, i), (Rgb{0, 0, 255})) << i;
  EXPECT_EQ(pad().Pixel(5, 6), kWhite);
  ASSERT_EQ(Zelto_DrawRectangle(100, 100, 120, 110), 1);
  EXPECT_EQ(pad().Pixel(120, 105), (Rgb{0, 0, 255}));
  EXPECT_EQ(pad().Pixel(110, 105), kWhite);
  ASSERT_EQ(Zelto_DrawArc(200, 100, 20, 0, 90), 1);  // 3 o'clock round to 6 o'clock
  EXPECT_EQ(pad().Pixel(220, 100), (Rgb{0, 0, 255}));
  EXPECT_EQ(pad().Pixel(200, 120), (Rgb{0, 0, 255}));
  EXPECT_EQ(pad().Pixel(180, 100), kWhite);
  ASSERT_EQ(Zelto_BrushColor(0, 128, 0), 1);
  ASSERT_EQ(Zelto_FillArc(50, 200, 10, 0, 0), 1);  // the whole disc
  EXPECT_EQ(pad().Pixel(50, 200), (Rgb{0, 128, 0}));
  EXPECT_EQ(pad().Pixel(41, 200), (Rgb{0, 128, 0}));
  EXPECT_EQ(pad().Pixel(58, 208), kWhite);
}

TEST_P(SignpadDisplay, TextInColourWithOpaqueBackground) {
  ASSERT_EQ(Zelto_SetTextColor(10, 20, 30), 1);
  ASSERT_EQ(Zelto_DrawString(0, 0, 1, "I"), 1);
  EXPECT_EQ(pad().Pixel(2, 0), (Rgb{10, 20, 30}));  // the I's stem
  EXPECT_EQ(pad().Pixel(0, 3), kWhite);
  ASSERT_EQ(Zelto_SetBackgroundColor(1, 2, 3), 1);
  ASSERT_EQ(Zelto_SelectBackgroundMode(1), 1);
  ASSERT_EQ(Zelto_SetFont(2, 0, 0, 0, 0, 0), 1);
  ASSERT_EQ(Zelto_DrawString(100, 100, 1, " "), 1);
  EXPECT_EQ(pad().Pixel(100, 100), (Rgb{1, 2, 3}));
  EXPECT_EQ(pad().Pixel(111, 115), (Rgb{1, 2, 3}));  // a 12 x 16 cell at scale 2
  EXPECT_EQ(pad().Pixel(112, 100), kWhite);
}

TEST_P(SignpadDisplay, TextInRectangleWrapsAndStopsAtItsEdge) {
  ASSERT_EQ(Zelto_SetTextColor(0, 0, 0), 1);
  // Three cells wide, one line high: "IIII" puts its fourth I on a line that is cut off.
  ASSERT_EQ(Zelto_DrawStringInRectangle(17, 50, 0, 57, 4, "IIII"), 1);
  EXPECT_EQ(pad().Pixel(2, 50), (Rgb{0, 0, 0}));
  EXPECT_EQ(pad().Pixel(14, 50), (Rgb{0, 0, 0}));
  EXPECT_EQ(pad().Pixel(2, 58), kWhite);
}

TEST_P(SignpadDisplay, WritesAPng) {
  const auto path = std::filesystem::temp_directory_path() / "signpad_display_test.png";
  ASSERT_TRUE(pad().WritePng(path.string()));
  std::ifstream file(path, std::ios::binary);
  char magic[8] = {};
  file.read(magic, 8);
  EXPECT_EQ(std::string(magic + 1, 3), "PNG");
  std::filesystem::remove(path);
}

}  // namespace
