// Device management commands over both transports.
#include "vterm/device.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "support/session.h"

namespace {

using support::Bytes;
using support::ElapsedMs;
using support::Session;
using support::Transport;
using support::TransportTest;

class Device : public TransportTest {
 protected:
  void SetUp() override { ASSERT_EQ(session.Open(), VANTOREL_SUCCESS); }
};
VANTOREL_ON_BOTH_TRANSPORTS(Device);

TEST_P(Device, ReadingCommandsReturnTheTerminalsTexts) {
  struct Case {
    const char* name;
    unsigned char(VANTOREL_CALL* read)(char*, int*);
    Bytes command;
    std::string text;
  };
  const Case cases[] = {
      {"version", Brixa_GetVersion, {0x78, 0x46, 0x01}, vterm::kDefaultVersion},
      {"serial", Brixa_GetSerialNumber, {0x78, 0x46, 0x02}, vterm::kDefaultSerial},
      {"model", Brixa_GetModelNumber, {0x78, 0x46, 0x20}, vterm::kDefaultModel},
  };
  for (const Case& c : cases) {
    session.Clear();
    char buffer[512];
    std::memset(buffer, 0x5A, sizeof buffer);
    int length = -1;
    ASSERT_EQ(c.read(buffer, &length), VANTOREL_SUCCESS) << c.name;
    EXPECT_EQ(session.OnlyCommand(), c.command) << c.name;
    ASSERT_EQ(length, static_cast<int>(c.text.size())) << c.name;
    EXPECT_EQ(std::string(buffer, length), c.text) << c.name;
    EXPECT_EQ(buffer[length], 0x5A) << c.name << ": no terminator added";
  }
}

TEST_P(Device, EmptyAcknowledgedReplyGivesZeroBytes) {
  session.terminal().Device().SetVersion("");
  char buffer[8] = {};
  int length = -1;
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS);
  EXPECT_EQ(length, 0);
}

TEST_P(Device, SerialNumberIsWrittenAndReadBack) {
  ASSERT_EQ(Brixa_SetSerialNumber("ABCD1234", 8), VANTOREL_SUCCESS);
  EXPECT_EQ(session.OnlyCommand(),
            (Bytes{0x78, 0x46, 0x03, 'A', 'B', 'C', 'D', '1', '2', '3', '4'}));
  EXPECT_EQ(session.Frames().at(0).size(), 17u);
  EXPECT_EQ(session.terminal().Device().SerialNumber(), "ABCD1234");
  char buffer[512];
  int length = 0;
  ASSERT_EQ(Brixa_GetSerialNumber(buffer, &length), VANTOREL_SUCCESS);
  EXPECT_EQ(std::string(buffer, length), "ABCD1234");
}

TEST_P(Device, SettingCommandsSendTheirBytes) {
  struct Case {
    const char* what;
    std::function<unsigned char()> call;
    Bytes command;
  };
  const Case cases[] = {
      {"LED 1,3", [] { return Brixa_ControlLED(1, 3); }, {0x76, 0x46, 0x01, 0x45}},
      {"LED 0,0", [] { return Brixa_ControlLED(0, 0); }, {0x76, 0x46, 0x01, 0x30}},
      {"LED 4,4", [] { return Brixa_ControlLED(4, 4); }, {0x76, 0x46, 0x01, 0x77}},
      {"LED 2,1", [] { return Brixa_ControlLED(2, 1); }, {0x76, 0x46, 0x01, 0x64}},
      {"LED 3,2", [] { return Brixa_ControlLED(3, 2); }, {0x76, 0x46, 0x01, 0x56}},
      {"tone 1000,500",
       [] { return Brixa_GenerateTone(1000, 500); },
       {0x7B, 0x46, 0x02, 0xE8, 0x03, 0xF4, 0x01}},
      {"tone 6,0", [] { return Brixa_GenerateTone(6, 0); }, {0x7B, 0x46, 0x02, 6, 0, 0, 0}},
      {"tone 39999,65535",
       [] { return Brixa_GenerateTone(39999, 65535); },
       {0x7B, 0x46, 0x02, 0x3F, 0x9C, 0xFF, 0xFF}},
      {"audio", [] { return Brixa_ControlAudio(0xAB); }, {0x7B, 0x46, 0x01, 0xAB}},
  };
  for (const Case& c : cases) {
    session.Clear();
    EXPECT_EQ(c.call(), VANTOREL_SUCCESS) << c.what;
    EXPECT_EQ(session.OnlyCommand(), c.command) << c.what;
  }
  EXPECT_EQ(session.terminal().Device().Audio(), 0xAB);
  EXPECT_EQ(session.terminal().Device().LastTone(), (vterm::Tone{39999, 65535}));
}

TEST_P(Device, BadArgumentsAreRefusedAndNothingIsSent) {
  char buffer[512];
  int length = 0;
  const std::pair<const char*, std::function<unsigned char()>> cases[] = {
      {"serial length 7", [] { return Brixa_SetSerialNumber("ABCD1234", 7); }},
      {"serial text 7", [] { return Brixa_SetSerialNumber("ABCD123", 8); }},
      {"serial text 9", [] { return Brixa_SetSerialNumber("ABCD12345", 8); }},
      {"serial null", [] { return Brixa_SetSerialNumber(nullptr, 8); }},
      {"LED 5,0", [] { return Brixa_ControlLED(5, 0); }},
      {"LED 0,5", [] { return Brixa_ControlLED(0, 5); }},
      {"tone 5", [] { return Brixa_GenerateTone(5, 100); }},
      {"tone 40000", [] { return Brixa_GenerateTone(40000, 100); }},
      {"tone -1", [] { return Brixa_GenerateTone(1000, -1); }},
      {"tone 65536", [] { return Brixa_GenerateTone(1000, 65536); }},
      {"version null buffer", [&] { return Brixa_GetVersion(nullptr, &length); }},
      {"version null length", [&] { return Brixa_GetVersion(buffer, nullptr); }},
      {"serial null buffer", [&] { return Brixa_GetSerialNumber(nullptr, &length); }},
      {"model null length", [&] { return Brixa_GetModelNumber(buffer, nullptr); }},
      {"sdk null", [&] { return Brixa_GetSdkVersion(nullptr, &length); }},
  };
  for (const auto& [what, call] : cases) {
    EXPECT_EQ(call(), VANTOREL_INVALID_ARGUMENT) << what;
  }
  EXPECT_TRUE(session.Frames().empty());
}

TEST_P(Device, ReSetRestartsTheTerminalAndTheLinkStaysOpen) {
  ASSERT_EQ(Brixa_ReSet(), VANTOREL_SUCCESS);
  ASSERT_TRUE(session.terminal().WaitForFrames(1, std::chrono::seconds(2)));
  EXPECT_EQ(session.Frames().at(0),
            (Bytes{0x02, 0x07, 0x00, 0x78, 0x46, 0x0A, 0x49, 0x52, 0x46, 0x57, 0x3E, 0x00, 0x03}));
  EXPECT_EQ(session.terminal().RestartCount(), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(vterm::kDefaultRestartMs + 200));
  char buffer[512];
  int length = 0;
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS) << "found again by its ids";
}

TEST_P(Device, ReSetSucceedsEvenWhenTheTerminalIsSilent) {
  session.terminal().SilenceNext(1);
  EXPECT_EQ(Brixa_ReSet(), VANTOREL_SUCCESS);
}

TEST(DeviceClosed, EveryCommandNeedsAConnectionButTheSdkVersion) {
  Session session(Transport::kSerial);
  char buffer[512];
  int length = 0;
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_NOT_OPEN);
  EXPECT_EQ(Brixa_GetSerialNumber(nullptr, nullptr), VANTOREL_NOT_OPEN);
  EXPECT_EQ(Brixa_GetModelNumber(buffer, &length), VANTOREL_NOT_OPEN);
  EXPECT_EQ(Brixa_SetSerialNumber("short", 3), VANTOREL_NOT_OPEN);
  EXPECT_EQ(Brixa_ControlLED(9, 9), VANTOREL_NOT_OPEN);
  EXPECT_EQ(Brixa_GenerateTone(1, -5), VANTOREL_NOT_OPEN);
  EXPECT_EQ(Brixa_ControlAudio(1), VANTOREL_NOT_OPEN);
  EXPECT_EQ(Brixa_ReSet(), VANTOREL_NOT_OPEN);
  EXPECT_TRUE(session.Frames().empty());
  char sdk[8];
  std::memset(sdk, 0x5A, sizeof sdk);
  EXPECT_EQ(Brixa_GetSdkVersion(sdk, &length), VANTOREL_SUCCESS);
  EXPECT_EQ(length, 4);
  EXPECT_STREQ(sdk, "1.12");
}

TEST(DeviceTiming, SerialCommandTakesItsWaits) {
  Session session(Transport::kSerial);
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  char buffer[512];
  int length = 0;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS);
  // 100 ms after raising the busy flag, 300 ms before reading, a 200 ms silent read.
  EXPECT_GE(ElapsedMs(start), 580);
  EXPECT_LE(ElapsedMs(start), 1500);
}

}  // namespace
