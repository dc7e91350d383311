// Opening, closing, reply mapping and transport failures, over both transports.
#include <gtest/gtest.h>

#include <chrono>
#include <latch>
#include <string>
#include <thread>
#include <tuple>

#include "link/serial_port.h"
#include "support/session.h"
#include "vterm/device.h"

namespace {

using support::Bytes;
using support::ElapsedMs;
using support::Session;
using support::Transport;
using Clock = std::chrono::steady_clock;

const Bytes kVersionFrame{0x02, 0x03, 0x00, 0x78, 0x46, 0x01, 0x3F, 0xBF, 0x03};
const Bytes kHeadOffFrame{0x02, 0x05, 0x00, 0x73, 0x46, 0xE1, 0x01, 0x30, 0xE5, 0xCB, 0x03};

unsigned char OpenAgain(Session& session) {
  return session.serial() ? Brixa_OpenPort(support::kPort, 9600, 'N', 1, 8)
                          : Brixa_OpenHid(vterm::kVendorId, vterm::kProductId);
}

// Under both timing profiles: the same bytes on the wire and the same outcomes.
class Link : public ::testing::TestWithParam<std::tuple<Transport, support::Timing>> {
 protected:
  Session session{std::get<0>(GetParam()), std::get<1>(GetParam())};
};
INSTANTIATE_TEST_SUITE_P(
    , Link, ::testing::Combine(VANTOREL_TRANSPORTS, VANTOREL_TIMINGS),
    [](const ::testing::TestParamInfo<std::tuple<Transport, support::Timing>>& info) {
      return support::TransportLabel(std::get<0>(info.param)) +
             support::TimingSuffix(std::get<1>(info.param));
    });

TEST_P(Link, OpenSendsBothHandshakesAndSwitchesTheHeadOff) {
  session.terminal().Device().SetSecureHead(true);
  ASSERT_EQ(OpenAgain(session), VANTOREL_SUCCESS);
  EXPECT_EQ(session.Frames(), (std::vector<Bytes>{kVersionFrame, kHeadOffFrame}));
  EXPECT_FALSE(session.terminal().Device().SecureHeadOn());
}

TEST_P(Link, OpenWhileOpenIsRefusedEvenWithBadArguments) {
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  EXPECT_EQ(Brixa_OpenPort(0, 1, 'x', 9, 9), VANTOREL_ALREADY_OPEN);
  EXPECT_EQ(Brixa_OpenHid(1, 2), VANTOREL_ALREADY_OPEN);
  EXPECT_TRUE(session.Frames().empty());
  char buffer[512];
  int length = 0;
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS) << "the connection is intact";
}

TEST_P(Link, CloseReportsWhetherAConnectionWasOpen) {
  EXPECT_EQ(Brixa_Close(), VANTOREL_FAILURE);
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
  EXPECT_EQ(Brixa_Close(), VANTOREL_FAILURE);
  char buffer[512];
  int length = 0;
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_NOT_OPEN);
  EXPECT_EQ(OpenAgain(session), VANTOREL_SUCCESS) << "reopens after a close";
}

TEST_P(Link, FailedHandshakeLeavesTheLinkClosedAndReopenable) {
  struct Case {
    const char* what;
    vterm::Misbehaviour misbehaviour;
    std::string cause;  // the start of Brixa_GetLastErrorText
  };
  vterm::Misbehaviour refuseVersion;
  refuseVersion.fault = vterm::Fault::kRefuse;
  refuseVersion.status = 0xEC;
  vterm::Misbehaviour refuseHeadOff = refuseVersion;
  refuseHeadOff.skip = 1;
  vterm::Misbehaviour silent;
  silent.fault = vterm::Fault::kSilent;
  vterm::Misbehaviour shortVersion;
  shortVersion.fault = vterm::Fault::kShort;
  shortVersion.keepBytes = 6;
  vterm::Misbehaviour garbled;
  garbled.fault = vterm::Fault::kGarbage;
  garbled.garbageLength = 12;
  const std::string device = session.serial() ? session.pty()->Path() : "the HID device 0ACD:3910";
  const std::string refused = "the terminal answered the open handshake with status EC";
  for (const Case& c :
       {Case{"version refused", refuseVersion, refused},
        Case{"head-off refused", refuseHeadOff, refused},
        Case{"silent", silent, "no answer from " + device + " to the open handshake"},
        Case{"six-byte reply", shortVersion,
             "the reply from " + device + " to the open handshake is too short (6 bytes)"},
        Case{"garbled", garbled, "a garbled reply from " + device + " to the open handshake"}}) {
    session.terminal().Misbehave(c.misbehaviour);
    EXPECT_EQ(OpenAgain(session), VANTOREL_FAILURE) << c.what;
    const std::string cause = Brixa_GetLastErrorText();
    EXPECT_EQ(cause.rfind(c.cause, 0), 0u) << c.what << ": " << cause;
    char buffer[512];
    int length = 0;
    EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_NOT_OPEN) << c.what;
    session.terminal().BehaveNormally();
    EXPECT_EQ(OpenAgain(session), VANTOREL_SUCCESS) << c.what << ": reopens at once";
    EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
  }
}

TEST_P(Link, RefusalsMapToReturnCodes) {
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  const std::pair<std::uint8_t, unsigned char> cases[] = {
      {0xE1, 99},
      {0x18, 105},
      {0x0D, 110},
      {0x42, 0},
  };
  for (const auto& [status, code] : cases) {
    session.terminal().RefuseNext(1, status);
    char buffer[512];
    int length = -7;
    EXPECT_EQ(Brixa_GetVersion(buffer, &length), code) << int(status);
    EXPECT_EQ(length, -7) << "outputs untouched on failure";
    EXPECT_EQ(Brixa_GetLastError(), code);
    session.terminal().RefuseNext(1, status);
    EXPECT_EQ(Brixa_ControlAudio(1), code) << int(status);
  }
}

// The last error belongs to the thread that made the call: two threads failing at once for
// different reasons each read their own code and cause.
TEST_P(Link, EachThreadSeesItsOwnLastError) {
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  session.terminal().RefuseNext(1, 0x18);
  std::latch called(2);
  std::latch read(2);
  std::string causes[2];
  unsigned char codes[2] = {};
  std::thread refused([&] {
    char buffer[512];
    int length = 0;
    Brixa_GetVersion(buffer, &length);
    called.arrive_and_wait();
    codes[0] = Brixa_GetLastError();
    causes[0] = Brixa_GetLastErrorText();
    read.count_down();
  });
  std::thread alreadyOpen([&] {
    Brixa_OpenPort(support::kPort, 9600, 'N', 1, 8);
    called.arrive_and_wait();
    read.arrive_and_wait();  // the other thread has read its own by now
    codes[1] = Brixa_GetLastError();
    causes[1] = Brixa_GetLastErrorText();
  });
  refused.join();
  alreadyOpen.join();
  EXPECT_EQ(codes[0], VANTOREL_STATUS_18);
  EXPECT_EQ(causes[0], "the command 78 46 01 refused with status 0x18");
  EXPECT_EQ(codes[1], VANTOREL_ALREADY_OPEN);
  EXPECT_EQ(causes[1], "a connection is already open");
  EXPECT_EQ(Brixa_GetLastError(), VANTOREL_SUCCESS) << "this thread's own: the open";
}

TEST_P(Link, MissingShortAndGarbledRepliesFail) {
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  char buffer[512];
  int length = 0;
  session.terminal().SilenceNext(1);
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE);
  session.terminal().GarbleNext(1, 12);
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE);
  // Six bytes with ACK: too short for data, enough for a command that only sets.
  session.terminal().TruncateNext(2, 6);
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE);
  EXPECT_EQ(Brixa_ControlAudio(1), VANTOREL_SUCCESS);
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS) << "back to normal";
}

TEST_P(Link, SilentTerminalCostsTheDefinedWait) {
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  session.terminal().SilenceNext(1);
  char buffer[512];
  int length = 0;
  const auto start = Clock::now();
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE);
  // 100 ms before the write; over serial 300 ms before the read and a 200 ms silent read,
  // over HID one 512 ms report wait. Prompt: no wait before the write; the serial read waits
  // the 500 ms for a first byte.
  long expected = session.serial() ? 600 : 612;
  if (session.prompt()) expected = session.serial() ? 500 : 512;
  EXPECT_GE(ElapsedMs(start), expected - 20);
  EXPECT_LE(ElapsedMs(start), expected + 700);
}

TEST_P(Link, ExactWireBytesOfACommand) {
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  char buffer[512];
  int length = 0;
  ASSERT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS);
  EXPECT_EQ(session.Frames(), std::vector<Bytes>{kVersionFrame});
  if (session.hid()) {
    const auto reports = session.hid()->OutputReports();
    ASSERT_EQ(reports.size(), 1u);
    Bytes expected(65, 0);
    expected[1] = 0x09;
    std::copy(kVersionFrame.begin(), kVersionFrame.end(), expected.begin() + 2);
    EXPECT_EQ(Bytes(reports[0].begin(), reports[0].end()), expected);
  }
}

TEST(LinkSerial, OpenPortChecksItsArgumentsInOrder) {
  Session session(Transport::kSerial);
  struct Case {
    int port, baud;
    char parity;
    int stop, data;
  };
  const Case bad[] = {{0, 9600, 'N', 1, 8},   {101, 9600, 'N', 1, 8}, {3, 110, 'N', 1, 8},
                      {3, 230400, 'N', 1, 8}, {3, 9601, 'N', 1, 8},   {3, 9600, 'n', 1, 8},
                      {3, 9600, 'M', 1, 8},   {3, 9600, 'N', 1, 5},   {3, 9600, 'N', 1, 6},
                      {3, 9600, 'N', 0, 8},   {3, 9600, 'N', 3, 8}};
  for (const Case& c : bad) {
    EXPECT_EQ(Brixa_OpenPort(c.port, c.baud, c.parity, c.stop, c.data), VANTOREL_INVALID_ARGUMENT)
        << c.port << " " << c.baud << " " << c.parity << " " << c.stop << " " << c.data;
  }
  EXPECT_TRUE(session.Frames().empty());
}

TEST(LinkSerial, EveryLineSettingOpens) {
  Session session(Transport::kSerial);
  for (int baud : {1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600, 115200}) {
    EXPECT_EQ(Brixa_OpenPort(support::kPort, baud, 'N', 1, 8), VANTOREL_SUCCESS) << baud;
    EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
  }
  EXPECT_EQ(Brixa_OpenPort(support::kPort, 9600, 'E', 2, 7), VANTOREL_SUCCESS);
  EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
  EXPECT_EQ(Brixa_OpenPort(support::kPort, 9600, 'O', 1, 7), VANTOREL_SUCCESS);
}

TEST(LinkSerial, PortIsHeldExclusively) {
  Session session(Transport::kSerial);
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  vantorel::link::SerialPort other;
  EXPECT_EQ(other.Open(("\\\\.\\COM" + std::to_string(support::kPort) + "/baud=9600").c_str()), 0);
  EXPECT_EQ(other.Open((session.pty()->Path() + " baud=9600").c_str()), 0);
  char buffer[512];
  int length = 0;
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS) << "the first open still works";
}

TEST(LinkSerial, MapPortChecksAndRestores) {
  Session session(Transport::kSerial);
  EXPECT_EQ(Brixa_MapPort(0, "/dev/null"), VANTOREL_INVALID_ARGUMENT);
  EXPECT_EQ(Brixa_MapPort(101, "/dev/null"), VANTOREL_INVALID_ARGUMENT);
  EXPECT_EQ(Brixa_MapPort(4, std::string(256, 'x').c_str()), VANTOREL_INVALID_ARGUMENT);
  EXPECT_EQ(Brixa_MapPort(4, ("/" + std::string(254, 'x')).c_str()), VANTOREL_SUCCESS);
  EXPECT_EQ(Brixa_OpenPort(4, 9600, 'N', 1, 8), VANTOREL_FAILURE) << "no such device";
  // The cause names the path; one line holds at most 255 characters.
  const std::string cause = Brixa_GetLastErrorText();
  EXPECT_EQ(cause.rfind("open /xxxxxxxx", 0), 0u) << cause;
  EXPECT_EQ(cause.size(), 255u);
  EXPECT_EQ(Brixa_MapPort(4, session.pty()->Path().c_str()), VANTOREL_SUCCESS);
  EXPECT_EQ(Brixa_OpenPort(4, 9600, 'N', 1, 8), VANTOREL_SUCCESS);
  EXPECT_EQ(Brixa_MapPort(4, nullptr), VANTOREL_SUCCESS) << "works with a connection open";
  EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
  EXPECT_EQ(Brixa_OpenPort(4, 9600, 'N', 1, 8), VANTOREL_FAILURE) << "back to /dev/ttyS3";
}

TEST(LinkSerial, PortVanishingMidSessionFailsWithoutHanging) {
  Session session(Transport::kSerial);
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  session.terminal().DelayNext(1, 2000);
  std::thread hangup([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    session.pty()->Hangup();
  });
  char buffer[512];
  int length = 0;
  const auto start = Clock::now();
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE);
  hangup.join();
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE);
  EXPECT_EQ(Brixa_SetSerialNumber("12345678", 8), VANTOREL_FAILURE);
  EXPECT_LT(ElapsedMs(start), 3000);
  EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
}

TEST(LinkHid, OpenNeedsTheRightIds) {
  Session session(Transport::kHid);
  EXPECT_EQ(Brixa_OpenHid(vterm::kVendorId, vterm::kProductId + 1), VANTOREL_FAILURE);
  EXPECT_STREQ(Brixa_GetLastErrorText(),
               "no HID device with vendor id 0ACD and product id 3911 found");
  EXPECT_EQ(Brixa_OpenHid(vterm::kVendorId + 0x10000, vterm::kProductId), VANTOREL_FAILURE);
  EXPECT_TRUE(session.Frames().empty()) << "nothing sent to a device that did not match";
  session.hid()->Unplug();
  EXPECT_EQ(Brixa_OpenHid(vterm::kVendorId, vterm::kProductId), VANTOREL_FAILURE);
  session.hid()->Plug();
  EXPECT_EQ(Brixa_OpenHid(vterm::kVendorId, vterm::kProductId), VANTOREL_SUCCESS);
}

// Standard: every exchange searches for the device and opens it afresh. Prompt: a working
// handle is kept; a failed write or read searches again, so a device unplugged and back is
// found without a failed command.
class LinkHidHandle : public ::testing::TestWithParam<support::Timing> {};
INSTANTIATE_TEST_SUITE_P(, LinkHidHandle, VANTOREL_TIMINGS,
                         [](const ::testing::TestParamInfo<support::Timing>& info) {
                           return info.param == support::Timing::kPrompt ? "Prompt" : "Standard";
                         });

TEST_P(LinkHidHandle, EveryExchangeFindsTheDeviceAgain) {
  Session session(Transport::kHid, GetParam());
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  char buffer[512];
  int length = 0;
  int opens = session.hid()->OpenCount();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS);
  EXPECT_EQ(session.hid()->OpenCount(), opens + (session.prompt() ? 0 : 3));
  session.hid()->Unplug();
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE) << "gone";
  session.hid()->Plug();
  opens = session.hid()->OpenCount();
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS) << "back with the same ids";
  EXPECT_EQ(session.hid()->OpenCount(), opens + 1);
  // Unplugged and back between two commands: the old handle is dead, the write finds the new.
  session.hid()->Unplug();
  session.hid()->Plug();
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS) << "replugged meanwhile";
  EXPECT_EQ(session.Commands().size(), 5u) << "each once, but the one sent while unplugged";
}

// The minimum gap: the next write waits until this long after the last exchange ended.
TEST(LinkTiming, MinimumGapSpacesCommands) {
  for (const int profile : {VANTOREL_TIMING_STANDARD, VANTOREL_TIMING_PROMPT}) {
    Session session(Transport::kSerial);
    ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
    ASSERT_EQ(Brixa_SetTiming(profile, 300), VANTOREL_SUCCESS);
    char buffer[512];
    int length = 0;
    ASSERT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS);
    const auto firstEnded = Clock::now();
    ASSERT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS);
    const auto frames = session.terminal().Frames();
    ASSERT_EQ(frames.size(), 2u);
    const long gap = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(frames[1].at - firstEnded).count());
    EXPECT_GE(gap, 300 - 20) << "profile " << profile;
    EXPECT_LE(gap, 300 + 300) << "profile " << profile;
  }
}

TEST(LinkTiming, SetTimingChecksItsArguments) {
  EXPECT_EQ(Brixa_SetTiming(2, 0), VANTOREL_INVALID_ARGUMENT);
  EXPECT_EQ(Brixa_SetTiming(VANTOREL_TIMING_PROMPT, -1), VANTOREL_INVALID_ARGUMENT);
  EXPECT_EQ(Brixa_SetTiming(VANTOREL_TIMING_PROMPT, 10001), VANTOREL_INVALID_ARGUMENT);
  EXPECT_EQ(Brixa_SetTiming(VANTOREL_TIMING_PROMPT, 10000), VANTOREL_SUCCESS);
  EXPECT_EQ(Brixa_SetTiming(VANTOREL_TIMING_STANDARD, 0), VANTOREL_SUCCESS);
}

// An acknowledged reply too short for the fields a getter reads fails with 0 and leaves the
// caller's output alone: neither the frame's check bytes nor ETX are reported as a value.
TEST_P(Link, AcknowledgedReplyWithoutTheFieldsFails) {
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  struct Case {
    const char* what;
    std::uint8_t cls, fn, sub;
    Bytes data;  // one byte short of what the getter reads
    unsigned char (*call)(unsigned int& out);
  };
  const Case cases[] = {
      {"PauseCapture",
       0x7A,
       0x46,
       0x12,
       {0x01, 0x02, 0x03},
       [](unsigned int& out) { return Zelto_PauseCapture(&out); }},
      {"GetPointCount, no data",
       0x7A,
       0x46,
       0x17,
       {},
       [](unsigned int& out) { return Zelto_GetPointCount(&out); }},
      {"ReviewBackLight",
       0x8A,
       0x52,
       0x80,
       {0x80, 0x01},
       [](unsigned int& out) {
         unsigned char level = 0x5A;
         const unsigned char rc = Zelto_ReviewBackLight(&level);
         out = level;
         return rc;
       }},
      {"GetOutputSetting",
       0x73,
       0x52,
       0x1A,
       {0x52, 0x1A},
       [](unsigned int& out) {
         unsigned char value = 0x5A;
         const unsigned char rc = MSR_GetOutputSetting(&value);
         out = value;
         return rc;
       }},
      {"GetKey, no data",
       0x75,
       0x46,
       0x81,
       {},
       [](unsigned int& out) {
         char name[16] = "untouched";
         int length = -1;
         const unsigned char rc = PIN_GetKey(name, &length);
         out = std::string(name) == "untouched" && length == -1 ? 0x5A : 0;
         return rc;
       }},
  };
  for (const Case& c : cases) {
    const Bytes data = c.data;
    session.terminal().Register(
        c.cls, c.fn, c.sub,
        [data](vterm::Terminal&, const vterm::Command&) { return vterm::Response::Ack(data); });
    unsigned int out = 0x5A;
    EXPECT_EQ(c.call(out), VANTOREL_FAILURE) << c.what;
    EXPECT_EQ(out, 0x5Au) << c.what;
  }
}

TEST(LinkHid, DeviceVanishingDuringAReadGivesZero) {
  Session session(Transport::kHid);
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  session.terminal().DelayNext(1, 2000);
  std::thread unplug([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    session.hid()->Unplug();
  });
  char buffer[512];
  int length = 0;
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE);
  unplug.join();
}

}  // namespace
