// Device management commands over both transports.
#include "vterm/device.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "shared/device_cases.h"
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
  const vterm::DeviceModule& device = session.terminal().Device();
  for (const auto& c : device_cases::kTextReads) {
    const std::string key = c.key;
    const std::string text = key == "version"  ? device.Version()
                             : key == "serial" ? device.SerialNumber()
                                               : device.Model();
    ASSERT_FALSE(text.empty()) << c.key;
    session.Clear();
    char buffer[512];
    std::memset(buffer, 0x5A, sizeof buffer);
    int length = -1;
    ASSERT_EQ(c.read(buffer, &length), VANTOREL_SUCCESS) << c.key;
    EXPECT_EQ(session.OnlyCommand(), c.command) << c.key;
    ASSERT_EQ(length, static_cast<int>(text.size())) << c.key;
    EXPECT_EQ(std::string(buffer, length), text) << c.key;
    EXPECT_EQ(buffer[length], 0x5A) << c.key << ": no terminator added";
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
  for (const auto& c : device_cases::kSettings) {
    session.Clear();
    EXPECT_EQ(c.call(), VANTOREL_SUCCESS) << c.what;
    EXPECT_EQ(session.OnlyCommand(), c.command) << c.what;
  }
  EXPECT_EQ(session.terminal().Device().Audio(), 0xAB);
  EXPECT_EQ(session.terminal().Device().LastTone(), (vterm::Tone{39999, 65535}));
}

TEST_P(Device, BadArgumentsAreRefusedAndNothingIsSent) {
  for (const auto& c : device_cases::kBadArguments) {
    EXPECT_EQ(c.call(), VANTOREL_INVALID_ARGUMENT) << c.what;
  }
  EXPECT_TRUE(session.Frames().empty());
}

TEST_P(Device, ReSetRestartsTheTerminalAndTheLinkStaysOpen) {
  ASSERT_EQ(Brixa_ReSet(), VANTOREL_SUCCESS);
  ASSERT_TRUE(session.terminal().WaitForFrames(1, std::chrono::seconds(2)));
  EXPECT_EQ(session.OnlyCommand(), device_cases::kRestartCommand);
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
