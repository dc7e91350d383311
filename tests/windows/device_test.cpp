// Device management exports through the DLL over COM3.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "serial_session.h"

namespace wintest {
namespace {

class Device : public SerialSession {};

TEST_F(Device, ReadingCommandsReturnTheTerminalsTexts) {
  struct Case {
    const char* key;
    unsigned char(VANTOREL_CALL* read)(char*, int*);
    Bytes command;
  };
  const Case cases[] = {
      {"version", Brixa_GetVersion, {0x78, 0x46, 0x01}},
      {"serial", Brixa_GetSerialNumber, {0x78, 0x46, 0x02}},
      {"model", Brixa_GetModelNumber, {0x78, 0x46, 0x20}},
  };
  for (const Case& c : cases) {
    const std::string text = console.State(c.key);
    ASSERT_FALSE(text.empty()) << c.key;
    console.Clear();
    char buffer[512];
    std::memset(buffer, 0x5A, sizeof buffer);
    int length = -1;
    ASSERT_EQ(c.read(buffer, &length), VANTOREL_SUCCESS) << c.key;
    EXPECT_EQ(OnlyCommand(), c.command) << c.key;
    ASSERT_EQ(length, static_cast<int>(text.size())) << c.key;
    EXPECT_EQ(std::string(buffer, length), text) << c.key;
    EXPECT_EQ(buffer[length], 0x5A) << c.key << ": no terminator added";
  }
}

TEST_F(Device, SerialNumberIsWrittenAndReadBack) {
  ASSERT_EQ(Brixa_SetSerialNumber("WIN32ABC", 8), VANTOREL_SUCCESS);
  const auto frames = console.Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].raw, Framed({0x78, 0x46, 0x03, 'W', 'I', 'N', '3', '2', 'A', 'B', 'C'}));
  EXPECT_EQ(console.State("serial"), "WIN32ABC");
  char buffer[512];
  int length = 0;
  ASSERT_EQ(Brixa_GetSerialNumber(buffer, &length), VANTOREL_SUCCESS);
  EXPECT_EQ(std::string(buffer, length), "WIN32ABC");
}

TEST_F(Device, SettingCommandsSendTheirBytes) {
  // Byte arguments of stdcall functions travel in 32-bit slots: mixed byte and int
  // arguments must arrive intact.
  struct Case {
    const char* what;
    std::function<unsigned char()> call;
    Bytes command;
  };
  const Case cases[] = {
      {"LED 1,3", [] { return Brixa_ControlLED(1, 3); }, {0x76, 0x46, 0x01, 0x45}},
      {"LED 4,4", [] { return Brixa_ControlLED(4, 4); }, {0x76, 0x46, 0x01, 0x77}},
      {"tone 1000,500",
       [] { return Brixa_GenerateTone(1000, 500); },
       {0x7B, 0x46, 0x02, 0xE8, 0x03, 0xF4, 0x01}},
      {"tone 39999,65535",
       [] { return Brixa_GenerateTone(39999, 65535); },
       {0x7B, 0x46, 0x02, 0x3F, 0x9C, 0xFF, 0xFF}},
      {"audio", [] { return Brixa_ControlAudio(0xAB); }, {0x7B, 0x46, 0x01, 0xAB}},
  };
  for (const Case& c : cases) {
    console.Clear();
    EXPECT_EQ(c.call(), VANTOREL_SUCCESS) << c.what;
    EXPECT_EQ(OnlyCommand(), c.command) << c.what;
  }
  EXPECT_EQ(console.State("audio"), "AB");
  EXPECT_EQ(console.State("tone"), "39999 65535");
}

TEST_F(Device, BadArgumentsAreRefusedAndNothingIsSent) {
  char buffer[512];
  int length = 0;
  const std::pair<const char*, std::function<unsigned char()>> cases[] = {
      {"serial length 7", [] { return Brixa_SetSerialNumber("ABCD1234", 7); }},
      {"serial text 9", [] { return Brixa_SetSerialNumber("ABCD12345", 8); }},
      {"serial null", [] { return Brixa_SetSerialNumber(nullptr, 8); }},
      {"LED 5,0", [] { return Brixa_ControlLED(5, 0); }},
      {"tone 5", [] { return Brixa_GenerateTone(5, 100); }},
      {"tone 65536", [] { return Brixa_GenerateTone(1000, 65536); }},
      {"version null buffer", [&] { return Brixa_GetVersion(nullptr, &length); }},
      {"model null length", [&] { return Brixa_GetModelNumber(buffer, nullptr); }},
  };
  for (const auto& [what, call] : cases) {
    EXPECT_EQ(call(), VANTOREL_INVALID_ARGUMENT) << what;
  }
  EXPECT_TRUE(console.Frames().empty());
}

TEST_F(Device, ReSetIsSentAndTheLinkStaysOpen) {
  ASSERT_EQ(Brixa_ReSet(), VANTOREL_SUCCESS);
  // Send-only: the frame may still be on its way when the export returns.
  Bytes sent;
  for (int i = 0; i < 100 && sent.empty(); ++i) {
    const auto commands = console.Commands();
    if (!commands.empty()) sent = commands.front();
    if (sent.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(sent, (Bytes{0x78, 0x46, 0x0A, 0x49, 0x52, 0x46, 0x57}));
  EXPECT_EQ(Brixa_OpenPort(kPort, 9600, 'N', 1, 8), VANTOREL_ALREADY_OPEN);
  // The terminal takes a moment to come back; then the same connection serves again.
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  char buffer[512];
  int length = 0;
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS);
}

TEST(DeviceClosed, SdkVersionNeedsNoConnection) {
  Brixa_Close();
  char sdk[8];
  std::memset(sdk, 0x5A, sizeof sdk);
  int length = 0;
  EXPECT_EQ(Brixa_GetSdkVersion(sdk, &length), VANTOREL_SUCCESS);
  EXPECT_EQ(length, 4);
  EXPECT_STREQ(sdk, "1.12");
  EXPECT_EQ(Brixa_GetVersion(sdk, &length), VANTOREL_NOT_OPEN);
}

}  // namespace
}  // namespace wintest
