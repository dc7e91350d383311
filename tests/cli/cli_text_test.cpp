// The tool's pure text work: what may be shown of a card, setting values, signature files.
#include "tools/cli/cli_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CliText, MaskPanShowsAtMostFirstSixAndLastFour) {
  struct Case {
    const char* pan;
    const char* masked;
  };
  for (const Case& c :
       {Case{"4761739001010119", "476173******0119"}, Case{"4761739001010", "476173***1010"},
        Case{"476173900101234567", "476173********4567"}, Case{"123456789012", "********9012"},
        Case{"12345", "*2345"}, Case{"1234", "****"}, Case{"", ""}}) {
    EXPECT_EQ(cli::MaskPan(c.pan), c.masked) << c.pan;
  }
}

TEST(CliText, SummaryOfPlainTracksKeepsNoTrackData) {
  const std::string tracks =
      "%B5413330089010442^MUSTERMANN/ERIKA ^2812201000000000?\r;5413330089010442=28122010?\r"
      ";0123456789?\r";
  const auto card =
      cli::SummariseCard(reinterpret_cast<const unsigned char*>(tracks.data()), tracks.size());
  EXPECT_FALSE(card.framed);
  EXPECT_EQ(card.maskedPan, "541333******0442");
  EXPECT_EQ(card.name, "MUSTERMANN/ERIKA");
  EXPECT_EQ(card.expiry, "2812");
  EXPECT_EQ(card.tracks, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(card.length, tracks.size());
}

TEST(CliText, SummaryOfTrackTwoAloneAndOfFramedRecords) {
  const std::string track2 = ";4111111111111111=30011010000?";
  auto card =
      cli::SummariseCard(reinterpret_cast<const unsigned char*>(track2.data()), track2.size());
  EXPECT_EQ(card.maskedPan, "411111******1111");
  EXPECT_EQ(card.expiry, "3001");
  EXPECT_EQ(card.name, "");

  const unsigned char framed[] = {0x02, 0x10, 0x00, 0x34, 0x31, 0x31, 0x31, 0x31,
                                  0x31, 0x31, 0x31, 0x31, 0x31, 0x31, 0x03};
  card = cli::SummariseCard(framed, sizeof framed);
  EXPECT_TRUE(card.framed);
  EXPECT_EQ(card.maskedPan, "");

  const std::string broken = "%B4111111111111111";  // no end sentinel: nothing taken
  card = cli::SummariseCard(reinterpret_cast<const unsigned char*>(broken.data()), broken.size());
  EXPECT_EQ(card.maskedPan, "");
  EXPECT_TRUE(card.tracks.empty());
}

TEST(CliText, SettingValues) {
  EXPECT_EQ(cli::ParseSettingByte("2"), 0x32);
  EXPECT_EQ(cli::ParseSettingByte("0x07"), 0x07);
  EXPECT_EQ(cli::ParseSettingByte("0XfF"), 0xFF);
  for (const char* bad : {"", "22", "0x7", "0x1G", "0x123"}) {
    EXPECT_FALSE(cli::ParseSettingByte(bad)) << bad;
  }
  EXPECT_EQ(cli::ParseFlags("101", 3), (std::vector<unsigned char>{1, 0, 1}));
  EXPECT_FALSE(cli::ParseFlags("101", 4));
  EXPECT_FALSE(cli::ParseFlags("121", 3));
  EXPECT_EQ(cli::ShowByte('2'), "'2' (0x32)");
  EXPECT_EQ(cli::ShowByte(0x07), "0x07");
}

TEST(CliText, Hex) {
  EXPECT_EQ(cli::ParseHex("00 1a:FF-10"), (std::vector<unsigned char>{0x00, 0x1A, 0xFF, 0x10}));
  EXPECT_FALSE(cli::ParseHex("0 1"));  // a separator inside a byte
  EXPECT_FALSE(cli::ParseHex("abc"));
  EXPECT_FALSE(cli::ParseHex("zz"));
  const unsigned char bytes[] = {0x00, 0xAB, 0x7F};
  EXPECT_EQ(cli::Hex(bytes, 3), "00AB7F");
  EXPECT_EQ(cli::Printable(bytes, 3), "00AB7F");
  EXPECT_EQ(cli::Printable(reinterpret_cast<const unsigned char*>("V 1.0"), 5), "V 1.0");
}

TEST(CliText, ReturnCodesCarryTheirMeaning) {
  EXPECT_EQ(cli::ReturnCodeText(1), "1 (success)");
  EXPECT_EQ(cli::ReturnCodeText(201), "201 (no connection is open)");
  EXPECT_EQ(cli::ReturnCodeText(101), "101 (terminal status 6A or EE)");
  EXPECT_EQ(cli::ReturnCodeText(150), "150 (unknown code)");
}

TEST(CliText, SignatureStrokesSplitAtPenUp) {
  const std::vector<int> values = {10, 20, 30, 40, -1, -1, -1, -1, 50, 60};
  const std::string svg = cli::SignatureSvg(values);
  EXPECT_NE(svg.find("points=\"10,20 30,40\""), std::string::npos);
  EXPECT_NE(svg.find("points=\"50,60\""), std::string::npos);
  std::size_t polylines = 0;
  for (std::size_t at = 0; (at = svg.find("<polyline", at)) != std::string::npos; ++at) ++polylines;
  EXPECT_EQ(polylines, 2u);

  // A diagonal from corner to corner inks both corners and the middle, nothing far off it.
  const auto image = cli::SignatureRaster({0, 0, 1024, 1024}, 64, 64);
  EXPECT_EQ(image[0], 0);
  EXPECT_EQ(image[63 * 64 + 63], 0);
  EXPECT_EQ(image[32 * 64 + 32], 0);
  EXPECT_EQ(image[0 * 64 + 63], 255);
  EXPECT_EQ(image[63 * 64 + 0], 255);
}

}  // namespace
