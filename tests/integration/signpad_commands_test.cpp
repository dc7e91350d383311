// Every pad export against the virtual terminal: the exact command bytes, what comes back,
// the argument bounds (99, nothing sent) and the frame-size switch of the large commands.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "signpad_test_support.h"

namespace {

using signpad_test::PadTest;
using support::Bytes;
using support::Transport;

struct CommandCase {
  std::string name;
  std::function<unsigned char()> call;
  Bytes bytes;
};

unsigned char gOut[600];
unsigned int gLength = 0;
int gCount = 0;
const unsigned char kRegionData[] = {0xAA, 0xBB};
const unsigned char kPixels[] = {2, 0, 1, 0, 10, 20, 30, 40, 50, 60};  // 2 x 1, two pixels

void PrintTo(const CommandCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<CommandCase> CommandCases() {
  return {
      {"SetPenColor",
       [] { return Zelto_SetPenColor(1, 2, 3, 4, 5, 6, 7); },
       {0x8A, 0x46, 0x10, 1, 2, 3, 4, 5, 6, 7}},
      {"DrawLine",
       [] { return Zelto_DrawLine(319, 239, 0, 0); },
       {0x8A, 0x46, 0x11, 0x3F, 0x01, 0xEF, 0x00, 0, 0, 0, 0}},
      {"DrawRectangle",
       [] { return Zelto_DrawRectangle(10, 20, 300, 200); },
       {0x8A, 0x46, 0x12, 0x0A, 0x00, 0x14, 0x00, 0x2C, 0x01, 0xC8, 0x00}},
      {"DrawRectangleOnePixel",
       [] { return Zelto_DrawRectangle(5, 5, 5, 5); },
       {0x8A, 0x46, 0x12, 5, 0, 5, 0, 5, 0, 5, 0}},
      {"FillRectangle",
       [] { return Zelto_FillRectangle(0, 0, 319, 239); },
       {0x8A, 0x46, 0x22, 0, 0, 0, 0, 0x3F, 0x01, 0xEF, 0x00}},
      {"DrawArcNegativeX",
       [] { return Zelto_DrawArc(-1, 100, 50, 0, 90); },
       {0x8A, 0x46, 0x13, 0xFF, 0x00, 0x64, 0x00, 0x32, 0x00, 0x00, 0x00, 0x5A, 0x00}},
      // -300 goes out as its low byte and -300 / 256 = -1; 70000 as 0x70 and 273 & 0xFF.
      {"FillArcUncheckedValues",
       [] { return Zelto_FillArc(160, 120, -300, 70000, 0); },
       {0x8A, 0x46, 0x23, 0xA0, 0x00, 0x78, 0x00, 0xD4, 0xFF, 0x70, 0x11, 0x00, 0x00}},
      {"BrushColor", [] { return Zelto_BrushColor(1, 2, 3); }, {0x8A, 0x46, 0x20, 1, 2, 3}},
      {"SetFont",
       [] { return Zelto_SetFont(1, 2, 3, 4, 5, 6); },
       {0x8A, 0x46, 0x40, 1, 2, 3, 4, 5, 6}},
      {"SetTextColor", [] { return Zelto_SetTextColor(4, 5, 6); }, {0x8A, 0x46, 0x41, 4, 5, 6}},
      {"SetBackgroundColor",
       [] { return Zelto_SetBackgroundColor(7, 8, 9); },
       {0x8A, 0x46, 0x42, 7, 8, 9}},
      {"SelectBackgroundMode", [] { return Zelto_SelectBackgroundMode(1); }, {0x8A, 0x46, 0x43, 1}},
      {"DrawString",
       [] { return Zelto_DrawString(0, 0, 3, "ABC"); },
       {0x8A, 0x46, 0x4F, 0, 0, 0, 0, 3, 0, 0x41, 0x42, 0x43}},
      {"DrawStringNegativeLengthSendsNoText",
       [] { return Zelto_DrawString(5, 6, -1, nullptr); },
       {0x8A, 0x46, 0x4F, 5, 0, 6, 0, 0xFF, 0x00}},
      {"DrawStringInRectangleInverted",
       [] { return Zelto_DrawStringInRectangle(300, 10, 20, 50, 2, "Hi"); },
       {0x8A, 0x46, 0x4E, 0x2C, 0x01, 10, 0, 20, 0, 50, 0, 2, 0, 'H', 'i'}},
      {"SetClipArea",
       [] { return Zelto_SetClipArea(0, 0, 319, 239, 1, 2, 3, 4); },
       {0x7A, 0x46, 0x03, 0, 0, 0, 0, 0x3F, 0x01, 0xEF, 0x00, 1, 2, 3, 4}},
      {"CreateRegionKind17",
       [] { return Zelto_CreateRegion(7, 17, 9, 10, 20, 30, 40, 2, kRegionData); },
       {0x7A, 0x46, 0x04, 7, 0x11, 9, 10, 0, 20, 0, 30, 0, 40, 0, 2, 0, 0xAA, 0xBB}},
      {"SetBackLight", [] { return Zelto_SetBackLight(200); }, {0x8A, 0x53, 0x80, 0x01, 0xC8}},
      {"ReviewBackLight", [] { return Zelto_ReviewBackLight(gOut); }, {0x8A, 0x52, 0x80}},
      {"GetPicture",
       [] { return Zelto_GetPicture(0, 0, 1, 1, gOut, sizeof gOut, &gLength); },
       {0x8A, 0x46, 0x60, 0, 0, 0, 0, 1, 0, 1, 0}},
      {"ShowPicture",
       [] { return Zelto_ShowPicture(0, 0, 1, 0, kPixels + 4, 6); },
       {0x8A, 0x46, 0x61, 0, 0, 0, 0, 1, 0, 0, 0, 10, 20, 30, 40, 50, 60}},
      {"StorePicture",
       [] { return Zelto_StorePicture(5, 2, kPixels, 10); },
       {0x8A, 0x46, 0x70, 5, 0, 2, 0, 2, 0, 1, 0, 10, 20, 30, 40, 50, 60}},
      {"ShowStorePicture",
       [] { return Zelto_ShowStorePicture(7, 0, 0, 319, 239); },
       {0x8A, 0x46, 0x71, 0x07, 0x00, 0, 0, 0, 0, 0x3F, 0x01, 0xEF, 0x00}},
      {"RetrieveStorePicture",
       [] { return Zelto_RetrieveStorePicture(gOut, &gCount); },
       {0x8A, 0x46, 0x72}},
      {"CalibrateDevice", [] { return Zelto_CalibrateDevice(); }, {0x7A, 0x46, 0x01}},
      {"ContinueCapture", [] { return Zelto_ContinueCapture(); }, {0x7A, 0x46, 0x11}},
      {"PauseCapture", [] { return Zelto_PauseCapture(&gLength); }, {0x7A, 0x46, 0x12}},
      {"GetPointCount", [] { return Zelto_GetPointCount(&gLength); }, {0x7A, 0x46, 0x17}},
      {"ClearSignature", [] { return Zelto_ClearSignature(); }, {0x7A, 0x46, 0x19}},
      {"ExitCapture", [] { return Zelto_ExitCapture(); }, {0x7A, 0x46, 0x1F}},
      {"GetSignFormat1",
       [] { return Zelto_GetSignFormat(1, gOut, sizeof gOut, &gLength); },
       {0x7A, 0x46, 0x20}},
      {"GetSignFormat4",
       [] { return Zelto_GetSignFormat(4, gOut, sizeof gOut, &gLength); },
       {0x7A, 0x46, 0x23}},
      {"SetSignFormat1",
       [] { return Zelto_SetSignFormat(1, kRegionData, 2); },
       {0x7A, 0x46, 0x30, 0xAA, 0xBB}},
      {"SetSignFormat4Empty",
       [] { return Zelto_SetSignFormat(4, nullptr, 0); },
       {0x7A, 0x46, 0x33}},
  };
}

class SignpadCommandBytes : public ::testing::TestWithParam<std::tuple<Transport, CommandCase>> {
 protected:
  support::Session session{std::get<0>(GetParam())};
};

TEST_P(SignpadCommandBytes, SendsExactlyItsCommand) {
  const CommandCase& c = std::get<1>(GetParam());
  ASSERT_EQ(session.Open(), 1);
  session.terminal().Get<vterm::SignpadModule>().SetPicture(7, {0, 1, 1, {1, 2, 3}});
  EXPECT_EQ(c.call(), 1);
  EXPECT_EQ(session.OnlyCommand(), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(, SignpadCommandBytes,
                         ::testing::Combine(::testing::Values(Transport::kSerial, Transport::kHid),
                                            ::testing::ValuesIn(CommandCases())),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param) == Transport::kSerial
                                                  ? "Serial_"
                                                  : "Hid_") +
                                  std::get<1>(info.param).name;
                         });

// Every argument bound: 99 and nothing on the wire.
struct BoundCase {
  std::string name;
  std::function<unsigned char()> call;
};

void PrintTo(const BoundCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<BoundCase> BoundCases() {
  static unsigned char buffer[64];
  static unsigned int length = 0;
  static int count = 0;
  static const unsigned char data[16] = {};
  static const std::vector<char> tooLong(1100, 'x');
  return {
      {"DrawLineX320", [] { return Zelto_DrawLine(320, 0, 0, 0); }},
      {"DrawLineY240", [] { return Zelto_DrawLine(0, 0, 0, 240); }},
      {"DrawRectangleRightBelowLeft", [] { return Zelto_DrawRectangle(100, 50, 99, 60); }},
      {"DrawRectangleBottomAboveTop", [] { return Zelto_DrawRectangle(0, 50, 10, 49); }},
      {"DrawRectangleRight320", [] { return Zelto_DrawRectangle(0, 0, 320, 10); }},
      {"FillRectangleBottom240", [] { return Zelto_FillRectangle(0, 0, 10, 240); }},
      {"DrawArcX320", [] { return Zelto_DrawArc(320, 0, 1, 2, 3); }},
      {"FillArcY240", [] { return Zelto_FillArc(0, 240, 1, 2, 3); }},
      {"DrawStringX320", [] { return Zelto_DrawString(320, 0, 1, "A"); }},
      {"DrawStringNullText", [] { return Zelto_DrawString(0, 0, 1, nullptr); }},
      {"DrawStringPastCommandBuffer",
       [] { return Zelto_DrawString(0, 0, static_cast<int>(tooLong.size()), tooLong.data()); }},
      {"DrawStringInRectangleBottom240",
       [] { return Zelto_DrawStringInRectangle(0, 0, 10, 240, 1, "A"); }},
      {"DrawStringInRectanglePastCommandBuffer",
       [] { return Zelto_DrawStringInRectangle(0, 0, 10, 10, 1010, tooLong.data()); }},
      {"SetClipAreaInverted", [] { return Zelto_SetClipArea(10, 0, 9, 10, 0, 0, 0, 0); }},
      {"SetClipAreaY240", [] { return Zelto_SetClipArea(0, 0, 10, 240, 0, 0, 0, 0); }},
      {"CreateRegionId255", [] { return Zelto_CreateRegion(255, 0, 0, 0, 0, 1, 1, 0, data); }},
      {"CreateRegionKind4", [] { return Zelto_CreateRegion(1, 4, 0, 0, 0, 1, 1, 0, data); }},
      {"CreateRegionKind16", [] { return Zelto_CreateRegion(1, 16, 0, 0, 0, 1, 1, 0, data); }},
      {"CreateRegionInverted", [] { return Zelto_CreateRegion(1, 0, 0, 5, 0, 4, 1, 0, data); }},
      {"CreateRegionNullData", [] { return Zelto_CreateRegion(1, 0, 0, 0, 0, 1, 1, 3, nullptr); }},
      {"CreateRegionPastCommandBuffer",
       [] {
         return Zelto_CreateRegion(1, 0, 0, 0, 0, 1, 1, 1010,
                                   reinterpret_cast<const unsigned char*>(tooLong.data()));
       }},
      {"SetBackLight201", [] { return Zelto_SetBackLight(201); }},
      {"ReviewBackLightNull", [] { return Zelto_ReviewBackLight(nullptr); }},
      {"GetPictureInverted", [] { return Zelto_GetPicture(10, 0, 0, 10, buffer, 64, &length); }},
      {"GetPictureNullBuffer", [] { return Zelto_GetPicture(0, 0, 1, 1, nullptr, 64, &length); }},
      {"GetPictureNullLength", [] { return Zelto_GetPicture(0, 0, 1, 1, buffer, 64, nullptr); }},
      {"GetPictureBufferBelowSmallestReply",
       [] { return Zelto_GetPicture(0, 0, 1, 1, buffer, 6, &length); }},
      {"ShowPictureLength0", [] { return Zelto_ShowPicture(0, 0, 1, 1, data, 0); }},
      {"ShowPictureNullData", [] { return Zelto_ShowPicture(0, 0, 1, 1, nullptr, 3); }},
      {"ShowPictureBottom240", [] { return Zelto_ShowPicture(0, 0, 1, 240, data, 3); }},
      {"ShowPicturePastLongFrame", [] { return Zelto_ShowPicture(0, 0, 1, 1, data, 0xFFFFFFu); }},
      {"StorePictureKind3", [] { return Zelto_StorePicture(5, 3, data, 10); }},
      {"StorePictureLength0", [] { return Zelto_StorePicture(5, 0, data, 0); }},
      {"StorePictureNullData", [] { return Zelto_StorePicture(5, 0, nullptr, 4); }},
      {"ShowStorePictureInverted", [] { return Zelto_ShowStorePicture(1, 0, 10, 5, 9); }},
      {"RetrieveStorePictureNullBuffer",
       [] { return Zelto_RetrieveStorePicture(nullptr, &count); }},
      {"RetrieveStorePictureNullCount", [] { return Zelto_RetrieveStorePicture(buffer, nullptr); }},
      {"StartCaptureFormat6", [] { return Zelto_StartCapture(6, 0, 0, 0, 0, 0, 0, 0); }},
      {"PauseCaptureNull", [] { return Zelto_PauseCapture(nullptr); }},
      {"GetPointCountNull", [] { return Zelto_GetPointCount(nullptr); }},
      {"GetSignFormat0", [] { return Zelto_GetSignFormat(0, buffer, 64, &length); }},
      {"GetSignFormat5", [] { return Zelto_GetSignFormat(5, buffer, 64, &length); }},
      {"GetSignFormatNullBuffer", [] { return Zelto_GetSignFormat(1, nullptr, 64, &length); }},
      {"GetSignFormatNullLength", [] { return Zelto_GetSignFormat(1, buffer, 64, nullptr); }},
      {"GetSignFormatBufferBelowSmallestReply",
       [] { return Zelto_GetSignFormat(1, buffer, 6, &length); }},
      {"SetSignFormat0", [] { return Zelto_SetSignFormat(0, data, 1); }},
      {"SetSignFormat5", [] { return Zelto_SetSignFormat(5, data, 1); }},
      {"SetSignFormatNullData", [] { return Zelto_SetSignFormat(1, nullptr, 1); }},
      {"SetSignFormatPastWorkingBuffer", [] { return Zelto_SetSignFormat(1, data, 239991); }},
  };
}

class SignpadBounds : public ::testing::TestWithParam<std::tuple<Transport, BoundCase>> {
 protected:
  support::Session session{std::get<0>(GetParam())};
};

TEST_P(SignpadBounds, RefusedBeforeAnythingIsSent) {
  ASSERT_EQ(session.Open(), 1);
  EXPECT_EQ(std::get<1>(GetParam()).call(), 99);
  EXPECT_TRUE(session.Frames().empty());
  EXPECT_EQ(vantorel::link::State().linkBusy.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(, SignpadBounds,
                         ::testing::Combine(::testing::Values(Transport::kSerial, Transport::kHid),
                                            ::testing::ValuesIn(BoundCases())),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param) == Transport::kSerial
                                                  ? "Serial_"
                                                  : "Hid_") +
                                  std::get<1>(info.param).name;
                         });

TEST(SignpadClosed, EveryExportButAddPointHandleNeedsAConnection) {
  unsigned char buffer[64];
  unsigned int length = 0;
  int count = 0;
  const unsigned char data[4] = {};
  ASSERT_EQ(vantorel::link::State().linkOpen.load(), 0);
  const std::vector<unsigned char> results{Zelto_SetPenColor(0, 0, 0, 0, 0, 0, 0),
                                           Zelto_DrawLine(0, 0, 1, 1),
                                           Zelto_DrawRectangle(0, 0, 1, 1),
                                           Zelto_FillRectangle(0, 0, 1, 1),
                                           Zelto_DrawArc(0, 0, 1, 1, 1),
                                           Zelto_FillArc(0, 0, 1, 1, 1),
                                           Zelto_BrushColor(0, 0, 0),
                                           Zelto_SetFont(0, 0, 0, 0, 0, 0),
                                           Zelto_SetTextColor(0, 0, 0),
                                           Zelto_SetBackgroundColor(0, 0, 0),
                                           Zelto_SelectBackgroundMode(0),
                                           Zelto_DrawString(0, 0, 1, "A"),
                                           Zelto_DrawStringInRectangle(0, 0, 1, 1, 1, "A"),
                                           Zelto_SetClipArea(0, 0, 1, 1, 0, 0, 0, 0),
                                           Zelto_CreateRegion(0, 0, 0, 0, 0, 1, 1, 0, data),
                                           Zelto_SetBackLight(1),
                                           Zelto_ReviewBackLight(buffer),
                                           Zelto_GetPicture(0, 0, 1, 1, buffer, 64, &length),
                                           Zelto_ShowPicture(0, 0, 1, 1, data, 4),
                                           Zelto_StorePicture(0, 0, data, 4),
                                           Zelto_ShowStorePicture(0, 0, 0, 1, 1),
                                           Zelto_RetrieveStorePicture(buffer, &count),
                                           Zelto_CalibrateDevice(),
                                           Zelto_StartCapture(9, 0, 0, 0, 0, 0, 0, 0),
                                           Zelto_ContinueCapture(),
                                           Zelto_PauseCapture(&length),
                                           Zelto_GetPointCount(&length),
                                           Zelto_ClearSignature(),
                                           Zelto_ExitCapture(),
                                           Zelto_GetSignFormat(0, buffer, 64, &length),
                                           Zelto_SetSignFormat(0, data, 1)};
  for (std::size_t i = 0; i < results.size(); ++i) EXPECT_EQ(results[i], 201) << "export " << i;
  EXPECT_EQ(Zelto_AddPointHandle(nullptr, nullptr), 1);
}

// ---- Replies --------------------------------------------------------------------------

class SignpadReplies : public PadTest {};
VANTOREL_ON_BOTH_TRANSPORTS(SignpadReplies);

TEST_P(SignpadReplies, BacklightRoundTrip) {
  ASSERT_EQ(Zelto_SetBackLight(137), 1);
  unsigned char level = 0;
  ASSERT_EQ(Zelto_ReviewBackLight(&level), 1);
  EXPECT_EQ(level, 137);
  EXPECT_EQ(pad().Backlight(), 137);
}

TEST_P(SignpadReplies, ReviewBackLightNeedsSevenBytes) {
  session.terminal().TruncateNext(1, 6);
  unsigned char level = 0x5A;
  EXPECT_EQ(Zelto_ReviewBackLight(&level), 0);
  EXPECT_EQ(level, 0x5A);
}

TEST_P(SignpadReplies, RefusalIsMapped) {
  session.terminal().RefuseNext(1, 0xE8);
  EXPECT_EQ(Zelto_DrawRectangle(0, 0, 10, 10), 104);
  session.terminal().SilenceNext(1);
  EXPECT_EQ(Zelto_ShowPicture(0, 0, 0, 0, reinterpret_cast<const unsigned char*>("abc"), 3), 0);
  EXPECT_EQ(vantorel::link::State().linkBusy.load(), 0);
}

// The full display comes back as a long frame: every pixel, as painted.
TEST_P(SignpadReplies, FullScreenPictureArrivesAsLongFrame) {
  ASSERT_EQ(Zelto_BrushColor(10, 200, 30), 1);
  ASSERT_EQ(Zelto_FillRectangle(0, 0, 9, 9), 1);
  std::vector<unsigned char> buffer(320 * 240 * 3 + 64);
  unsigned int length = 0;
  ASSERT_EQ(
      Zelto_GetPicture(0, 0, 319, 239, buffer.data(), static_cast<int>(buffer.size()), &length), 1);
  ASSERT_EQ(length, 320u * 240 * 3);
  const auto pixels = pad().Pixels();
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    ASSERT_EQ(buffer[i * 3], pixels[i].r) << i;
    ASSERT_EQ(buffer[i * 3 + 1], pixels[i].g) << i;
    ASSERT_EQ(buffer[i * 3 + 2], pixels[i].b) << i;
  }
  EXPECT_EQ((std::vector<unsigned char>(buffer.begin(), buffer.begin() + 3)),
            (std::vector<unsigned char>{10, 200, 30}));
}

TEST_P(SignpadReplies, SmallPictureAndTooSmallBuffer) {
  ASSERT_EQ(
      Zelto_ShowPicture(0, 0, 1, 0, reinterpret_cast<const unsigned char*>("\1\2\3\4\5\6"), 6), 1);
  unsigned char buffer[64] = {};
  unsigned int length = 0;
  ASSERT_EQ(Zelto_GetPicture(0, 0, 1, 0, buffer, sizeof buffer, &length), 1);
  EXPECT_EQ(std::vector<unsigned char>(buffer, buffer + length),
            (std::vector<unsigned char>{1, 2, 3, 4, 5, 6}));
  // 2 x 2 pixels do not fit 12 bytes with the frame around them: the cut reply fails.
  unsigned char small[12];
  length = 77;
  EXPECT_NE(Zelto_GetPicture(0, 0, 1, 1, small, sizeof small, &length), 1);
  EXPECT_EQ(length, 77u);
}

TEST_P(SignpadReplies, StoredPicturesListed) {
  const unsigned char picture[] = {1, 0, 1, 0, 9, 8, 7};
  ASSERT_EQ(Zelto_StorePicture(3, 1, picture, sizeof picture), 1);
  ASSERT_EQ(Zelto_StorePicture(9, 2, picture, sizeof picture), 1);
  ASSERT_EQ(Zelto_StorePicture(4, 0, picture, sizeof picture), 1);
  unsigned char list[510] = {};
  int count = 0;
  ASSERT_EQ(Zelto_RetrieveStorePicture(list, &count), 1);
  ASSERT_EQ(count, 6);
  EXPECT_EQ(std::vector<unsigned char>(list, list + 6),
            (std::vector<unsigned char>{3, 1, 4, 0, 9, 2}));
  ASSERT_EQ(Zelto_ShowStorePicture(9, 100, 100, 110, 110), 1);
  EXPECT_EQ(pad().Pixel(100, 100), (vterm::Rgb{9, 8, 7}));
}

// A reply that claims more entries than it carries hands on only those that arrived.
TEST_P(SignpadReplies, PictureListClaimingMoreThanArrived) {
  session.terminal().Register(0x8A, 0x46, 0x72, [](vterm::Terminal&, const vterm::Command&) {
    return vterm::Response::Ack(Bytes{3, 0x11, 0x22});
  });
  unsigned char list[510] = {};
  int count = -1;
  ASSERT_EQ(Zelto_RetrieveStorePicture(list, &count), 1);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(list[0], 0x11);
  EXPECT_EQ(list[1], 0x22);
}

TEST_P(SignpadReplies, SignFormatRoundTripAndLongFrameRead) {
  const unsigned char block[] = {'A', 'B', 'C'};
  ASSERT_EQ(Zelto_SetSignFormat(2, block, 3), 1);
  EXPECT_EQ(pad().SignFormat(2), (Bytes{'A', 'B', 'C'}));
  unsigned char buffer[32] = {};
  unsigned int length = 0;
  ASSERT_EQ(Zelto_GetSignFormat(2, buffer, sizeof buffer, &length), 1);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(std::vector<unsigned char>(buffer, buffer + 3),
            (std::vector<unsigned char>{'A', 'B', 'C'}));

  Bytes big(70000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  pad().SetSignFormatBlock(3, big);
  std::vector<unsigned char> out(big.size() + 16);
  ASSERT_EQ(Zelto_GetSignFormat(3, out.data(), static_cast<unsigned>(out.size()), &length), 1);
  ASSERT_EQ(length, big.size());
  EXPECT_TRUE(std::equal(big.begin(), big.end(), out.begin()));
}

TEST_P(SignpadReplies, PauseAndPointCountReturnThePadsNumber) {
  unsigned int value = 99;
  ASSERT_EQ(Zelto_GetPointCount(&value), 1);
  EXPECT_EQ(value, 0u);
  ASSERT_EQ(Zelto_PauseCapture(&value), 1);
  EXPECT_EQ(value, 0u);
}

// ---- Frame-size switch ----------------------------------------------------------------

struct SwitchCase {
  std::string name;
  std::function<unsigned char(const unsigned char*, unsigned)> call;
  unsigned shortLength;  // the largest data length still framed short
};

void PrintTo(const SwitchCase& c, std::ostream* os) {
  *os << c.name;
}

class SignpadFrameSwitch : public ::testing::TestWithParam<std::tuple<Transport, SwitchCase>> {
 protected:
  support::Session session{std::get<0>(GetParam())};
};

TEST_P(SignpadFrameSwitch, LongFrameOnePastTheShortLimit) {
  const SwitchCase& c = std::get<1>(GetParam());
  ASSERT_EQ(session.Open(), 1);
  std::vector<unsigned char> data(c.shortLength + 1, 0x42);
  for (unsigned extra : {0u, 1u}) {
    session.Clear();
    c.call(data.data(), c.shortLength + extra);
    ASSERT_TRUE(session.terminal().WaitForFrames(1, std::chrono::seconds(5)));
    const auto frames = session.terminal().Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].valid());
    EXPECT_EQ(frames[0].longLayout, extra == 1);
    const std::size_t content = frames[0].command.bytes.size();
    EXPECT_EQ(content, extra == 0 ? 0xFFFEu : 0xFFFFu);
    EXPECT_EQ(frames[0].raw.size(), content + (extra == 0 ? 6 : 7));
  }
}

INSTANTIATE_TEST_SUITE_P(
    , SignpadFrameSwitch,
    ::testing::Combine(::testing::Values(Transport::kSerial, Transport::kHid),
                       ::testing::Values(SwitchCase{"ShowPicture",
                                                    [](const unsigned char* d, unsigned n) {
                                                      return Zelto_ShowPicture(0, 0, 319, 239, d,
                                                                               n);
                                                    },
                                                    65523},
                                         SwitchCase{"StorePicture",
                                                    [](const unsigned char* d, unsigned n) {
                                                      return Zelto_StorePicture(1, 0, d, n);
                                                    },
                                                    65527},
                                         SwitchCase{"SetSignFormat",
                                                    [](const unsigned char* d, unsigned n) {
                                                      return Zelto_SetSignFormat(1, d, n);
                                                    },
                                                    65531})),
    [](const auto& info) {
      return std::string(std::get<0>(info.param) == Transport::kSerial ? "Serial_" : "Hid_") +
             std::get<1>(info.param).name;
    });

}  // namespace
