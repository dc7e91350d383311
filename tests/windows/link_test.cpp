// Connection exports of the DLL over a real COM port (wine's COM3 on a pseudo-terminal).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "serial_session.h"

namespace wintest {
namespace {

using Clock = std::chrono::steady_clock;

class LinkClosed : public ::testing::Test {
 protected:
  void SetUp() override {
    Brixa_Close();
    Brixa_MapPort(kPort, nullptr);
    console.Clear();
  }
  void TearDown() override {
    Brixa_Close();
    Brixa_MapPort(kPort, nullptr);
    console.Clear();
  }
  VtermConsole& console = VtermConsole::Instance();
};

TEST_F(LinkClosed, OpenPortSendsBothHandshakesOnTheDefaultComDevice) {
  // No mapping: COM3 is \\.\COM3, which the prefix maps to the terminal.
  ASSERT_EQ(Brixa_OpenPort(kPort, 9600, 'N', 1, 8), VANTOREL_SUCCESS);
  const auto frames = console.Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].raw, Framed({0x78, 0x46, 0x01}));
  EXPECT_EQ(frames[1].raw, Framed({0x73, 0x46, 0xE1, 0x01, 0x30}));
  EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
  EXPECT_EQ(Brixa_Close(), VANTOREL_FAILURE) << "nothing left to close";
}

TEST_F(LinkClosed, LineSettingsAreAcceptedByTheComDriver) {
  struct Case {
    int baud;
    char parity;
    int stopBits;
    int dataBits;
  };
  const Case cases[] = {
      {115200, 'N', 1, 8}, {1200, 'E', 2, 7}, {14400, 'O', 1, 8}, {28800, 'N', 2, 8}};
  for (const Case& c : cases) {
    EXPECT_EQ(Brixa_OpenPort(kPort, c.baud, c.parity, c.stopBits, c.dataBits), VANTOREL_SUCCESS)
        << c.baud << c.parity << c.stopBits << c.dataBits;
    EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
  }
}

TEST_F(LinkClosed, BadOpenArgumentsAreRefusedWithoutTouchingThePort) {
  struct Case {
    const char* what;
    int port, baud;
    char parity;
    int stopBits, dataBits;
  };
  const Case cases[] = {
      {"port 0", 0, 9600, 'N', 1, 8},      {"port 101", 101, 9600, 'N', 1, 8},
      {"baud 110", 3, 110, 'N', 1, 8},     {"baud 230400", 3, 230400, 'N', 1, 8},
      {"parity n", 3, 9600, 'n', 1, 8},    {"parity M", 3, 9600, 'M', 1, 8},
      {"data bits 6", 3, 9600, 'N', 1, 6}, {"stop bits 3", 3, 9600, 'N', 3, 8},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Brixa_OpenPort(c.port, c.baud, c.parity, c.stopBits, c.dataBits),
              VANTOREL_INVALID_ARGUMENT)
        << c.what;
  }
  EXPECT_TRUE(console.Frames().empty());
}

TEST_F(LinkClosed, MissingComPortFailsAndMappingRedirectsIt) {
  // COM7 exists nowhere in the prefix; the last error says so in the system's words.
  EXPECT_EQ(Brixa_OpenPort(7, 9600, 'N', 1, 8), VANTOREL_FAILURE);
  EXPECT_EQ(std::string(Brixa_GetLastErrorText()).rfind("CreateFileA COM7: ", 0), 0u)
      << Brixa_GetLastErrorText();
  ASSERT_EQ(Brixa_MapPort(7, "\\\\.\\COM3"), VANTOREL_SUCCESS);
  EXPECT_EQ(Brixa_OpenPort(7, 9600, 'N', 1, 8), VANTOREL_SUCCESS);
  EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
  ASSERT_EQ(Brixa_MapPort(7, nullptr), VANTOREL_SUCCESS);
  EXPECT_EQ(Brixa_OpenPort(7, 9600, 'N', 1, 8), VANTOREL_FAILURE) << "default restored";
  EXPECT_EQ(Brixa_MapPort(0, "COM1"), VANTOREL_INVALID_ARGUMENT);
  EXPECT_EQ(Brixa_MapPort(101, "COM1"), VANTOREL_INVALID_ARGUMENT);
}

TEST_F(LinkClosed, FailedHandshakeClosesThePortSoItOpensAgainAtOnce) {
  console.Execute("silent 1");
  EXPECT_EQ(Brixa_OpenPort(kPort, 9600, 'N', 1, 8), VANTOREL_FAILURE);
  console.Execute("normal");
  EXPECT_EQ(Brixa_OpenPort(kPort, 9600, 'N', 1, 8), VANTOREL_SUCCESS);
}

TEST_F(LinkClosed, RefusedHandshakeFailsTheOpen) {
  console.Execute("refuse 1 E1");
  EXPECT_EQ(Brixa_OpenPort(kPort, 9600, 'N', 1, 8), VANTOREL_FAILURE);
  EXPECT_STREQ(Brixa_GetLastErrorText(), "the terminal answered the open handshake with status E1");
  char buffer[512];
  int length = 0;
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_NOT_OPEN);
}

TEST_F(LinkClosed, HidSearchWithoutADeviceFindsNothing) {
  // Walks SetupAPI's present HID interfaces; none has these ids.
  EXPECT_EQ(Brixa_OpenHid(0x1234, 0x5678), VANTOREL_FAILURE);
  EXPECT_EQ(Brixa_OpenHid(0x11234, 0x5678), VANTOREL_FAILURE) << "ids are 16-bit";
  char buffer[512];
  int length = 0;
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_NOT_OPEN);
}

class Link : public SerialSession {};

TEST_F(Link, OpenWhileOpenIsRefusedWhateverTheArguments) {
  EXPECT_EQ(Brixa_OpenPort(kPort, 9600, 'N', 1, 8), VANTOREL_ALREADY_OPEN);
  EXPECT_EQ(Brixa_OpenPort(0, 1, 'x', 9, 9), VANTOREL_ALREADY_OPEN);
  EXPECT_EQ(Brixa_OpenHid(1, 2), VANTOREL_ALREADY_OPEN);
  EXPECT_TRUE(console.Frames().empty());
}

TEST_F(Link, SilentTerminalFailsACommandAfterTheReadTimeOuts) {
  struct Case {
    int profile;
    long atLeastMs;
  };
  // Standard: 100 ms busy wait, 300 ms reply wait, one read that stays silent for 200 ms.
  // Prompt: no fixed waits, but the first byte is awaited as long (300 + 200 ms).
  const Case cases[] = {{VANTOREL_TIMING_STANDARD, 550}, {VANTOREL_TIMING_PROMPT, 450}};
  for (const Case& c : cases) {
    ASSERT_EQ(Brixa_SetTiming(c.profile, 0), VANTOREL_SUCCESS);
    console.Execute("silent 1");
    char buffer[512];
    int length = -1;
    const auto start = Clock::now();
    EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE) << c.profile;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(ms, c.atLeastMs) << c.profile;
    EXPECT_LE(ms, 2500) << c.profile;
    EXPECT_EQ(length, -1) << "no length written on failure";
    // The silenced command is owed its reply for a while: let that window pass, so that the
    // next case times its own command alone.
    std::this_thread::sleep_for(std::chrono::milliseconds(1600));
  }
  Brixa_SetTiming(VANTOREL_TIMING_STANDARD, 0);
}

TEST_F(Link, TerminalStatusesMapToReturnCodes) {
  struct Case {
    const char* status;
    unsigned char code;
  };
  const Case cases[] = {{"E1", VANTOREL_INVALID_ARGUMENT},
                        {"EC", VANTOREL_STATUS_EC},
                        {"0D", VANTOREL_STATUS_0D},
                        {"42", VANTOREL_FAILURE}};
  for (const Case& c : cases) {
    console.Execute(std::string("refuse 1 ") + c.status);
    EXPECT_EQ(Brixa_ControlAudio(1), c.code) << c.status;
  }
}

}  // namespace
}  // namespace wintest
