// Device management exports through the DLL over COM3.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "serial_session.h"
#include "shared/device_cases.h"

namespace wintest {
namespace {

class Device : public SerialSession {};

// In both timing profiles: the same bytes out, the same answers back.
TEST_F(Device, ReadingCommandsReturnTheTerminalsTexts) {
  for (int profile : {VANTOREL_TIMING_STANDARD, VANTOREL_TIMING_PROMPT}) {
    ASSERT_EQ(Brixa_SetTiming(profile, 0), VANTOREL_SUCCESS);
    for (const auto& c : device_cases::kTextReads) {
      const std::string what = std::string(c.key) + " (profile " + std::to_string(profile) + ")";
      const std::string text = console.State(c.key);
      ASSERT_FALSE(text.empty()) << what;
      console.Clear();
      char buffer[512];
      std::memset(buffer, 0x5A, sizeof buffer);
      int length = -1;
      ASSERT_EQ(c.read(buffer, &length), VANTOREL_SUCCESS) << what;
      EXPECT_EQ(OnlyCommand(), c.command) << what;
      ASSERT_EQ(length, static_cast<int>(text.size())) << what;
      EXPECT_EQ(std::string(buffer, length), text) << what;
      EXPECT_EQ(buffer[length], 0x5A) << what << ": no terminator added";
    }
  }
  Brixa_SetTiming(VANTOREL_TIMING_STANDARD, 0);
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
  for (const auto& c : device_cases::kSettings) {
    console.Clear();
    EXPECT_EQ(c.call(), VANTOREL_SUCCESS) << c.what;
    EXPECT_EQ(OnlyCommand(), c.command) << c.what;
  }
  EXPECT_EQ(console.State("audio"), device_cases::kAudioAfterSettings);
  EXPECT_EQ(console.State("tone"), device_cases::kToneAfterSettings);
}

TEST_F(Device, BadArgumentsAreRefusedAndNothingIsSent) {
  for (const auto& c : device_cases::kBadArguments) {
    EXPECT_EQ(c.call(), VANTOREL_INVALID_ARGUMENT) << c.what;
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
  EXPECT_EQ(sent, device_cases::kRestartCommand);
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
