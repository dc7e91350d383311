// SerialPort against a pseudo-terminal: the test holds the master side and plays the
// terminal; the port opens the slave through a COM mapping.
#include "link/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "link/serial_port_posix.h"

namespace vantorel::link {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kPort = 42;

long long MillisSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    slavePath_ = ptsname(master_);
    ASSERT_TRUE(MapPort(kPort, slavePath_.c_str()));
  }
  void TearDown() override {
    port_.Close();
    CloseMaster();
    MapPort(kPort, nullptr);
  }

  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  static std::string OpenString(const char* settings = "baud=9600/parity=N/stop=1/data=8") {
    return "\\\\.\\COM" + std::to_string(kPort) + "/" + settings;
  }

  void Send(const Bytes& bytes) const {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Everything the port wrote, up to the first 150 ms without a byte or `waitMs` in all.
  Bytes Received(int waitMs = 1000) const {
    Bytes out;
    const auto end = Clock::now() + milliseconds(waitMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
      if (left <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(std::min<long long>(left, 150))) <= 0 ||
          (p.revents & POLLIN) == 0)
        break;
      std::uint8_t chunk[4096];
      const ssize_t n = read(master_, chunk, sizeof chunk);
      if (n <= 0) break;
      out.insert(out.end(), chunk, chunk + n);
    }
    return out;
  }

  int master_ = -1;
  std::string slavePath_;
  SerialPort port_;
};

TEST_F(SerialPortTest, WritesReachTheFarEndExactly) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  EXPECT_TRUE(port_.IsOpen());
  const Bytes frame{0x02, 0x03, 0x00, 0x78, 0x46, 0x01, 0x3F, 0xBF, 0x03};
  EXPECT_EQ(port_.Write(frame.data(), frame.size()), 9);
  EXPECT_EQ(Received(), frame);  // raw mode: no 0x03 or newline turned into anything else
}

TEST_F(SerialPortTest, LargeWriteGoesOutWholeWhileTheFarEndDrains) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  Bytes big(200000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  Bytes got;
  std::thread reader([&] { got = Received(10000); });
  EXPECT_EQ(port_.Write(big.data(), big.size()), static_cast<int>(big.size()));
  reader.join();
  EXPECT_EQ(got, big);
}

TEST_F(SerialPortTest, ByteValuesPassUntouchedBothWays) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  Send(all);
  std::uint8_t buffer[512];
  ASSERT_EQ(port_.Read(buffer, sizeof buffer), 256);
  EXPECT_EQ(Bytes(buffer, buffer + 256), all);
  EXPECT_EQ(port_.Write(all.data(), all.size()), 256);
  EXPECT_EQ(Received(), all);
}

TEST_F(SerialPortTest, SingleAckIsAWholeAnswer) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  Send({0x06});
  std::thread late([&] {
    std::this_thread::sleep_for(milliseconds(120));
    Send({0x07});
  });
  std::uint8_t buffer[16] = {};
  const auto start = Clock::now();
  EXPECT_EQ(port_.Read(buffer, sizeof buffer), 1);
  EXPECT_LT(MillisSince(start), 115);  // did not wait out a second chunk
  EXPECT_EQ(buffer[0], 0x06);
  late.join();
  // The later byte was left for the next read.
  EXPECT_EQ(port_.ReadRaw(buffer, sizeof buffer), 1);
  EXPECT_EQ(buffer[0], 0x07);
}

TEST_F(SerialPortTest, SingleEtxKeepsReading) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  Send({0x03});
  std::thread late([&] {
    std::this_thread::sleep_for(milliseconds(120));
    Send({0x04, 0x05});
  });
  std::uint8_t buffer[16] = {};
  EXPECT_EQ(port_.Read(buffer, sizeof buffer), 3);
  late.join();
  EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0x03, 0x04, 0x05}));
}

TEST_F(SerialPortTest, ChunkThatDoesNotFitIsDropped) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  Send(Bytes(200, 0x55));
  std::uint8_t buffer[200] = {};
  EXPECT_EQ(port_.Read(buffer, 128), 0);
  EXPECT_EQ(buffer[0], 0);  // nothing stored

  // A first chunk that fits is kept when a later one would overflow.
  Send(Bytes(100, 0x11));
  std::thread late([&] {
    std::this_thread::sleep_for(milliseconds(120));
    Send(Bytes(50, 0x22));
  });
  EXPECT_EQ(port_.Read(buffer, 128), 100);
  late.join();
  EXPECT_EQ(Bytes(buffer, buffer + 100), Bytes(100, 0x11));
}

TEST_F(SerialPortTest, ReadTellsWhatAReplyThatDidNotFitBrought) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  Bytes reply(200, 0x55);
  reply[0] = 0x02;
  Send(reply);
  std::uint8_t buffer[200] = {};
  ReadOverflow overflow;
  EXPECT_EQ(port_.Read(buffer, 128, &overflow), 0);
  EXPECT_TRUE(overflow.happened);
  EXPECT_EQ(overflow.arrived, 200u);
  EXPECT_EQ(Bytes(overflow.head, overflow.head + overflow.headLength),
            (Bytes{0x02, 0x55, 0x55, 0x55, 0x55}));

  // The head spans what was stored and the chunk that was dropped.
  Send(Bytes{0x02, 0x07});
  std::thread late([&] {
    std::this_thread::sleep_for(milliseconds(120));
    Send(Bytes(200, 0x66));
  });
  overflow = ReadOverflow{};
  EXPECT_EQ(port_.Read(buffer, 128, &overflow), 2);
  late.join();
  EXPECT_TRUE(overflow.happened);
  EXPECT_EQ(overflow.arrived, 202u);
  EXPECT_EQ(Bytes(overflow.head, overflow.head + overflow.headLength),
            (Bytes{0x02, 0x07, 0x66, 0x66, 0x66}));

  // A reply that fits says nothing.
  Send(Bytes(100, 0x44));
  overflow = ReadOverflow{};
  EXPECT_EQ(port_.Read(buffer, 128, &overflow), 100);
  EXPECT_FALSE(overflow.happened);
}

TEST_F(SerialPortTest, ReplyExactlyFillingTheLimitIsKept) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  Send(Bytes(128, 0x33));
  std::uint8_t buffer[128] = {};
  EXPECT_EQ(port_.Read(buffer, 128), 128);
  EXPECT_EQ(buffer[127], 0x33);
}

TEST_F(SerialPortTest, SilenceEndsAReadAfterTheTotalTimeOut) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  std::uint8_t buffer[16];
  auto start = Clock::now();
  EXPECT_EQ(port_.Read(buffer, sizeof buffer), 0);
  auto elapsed = MillisSince(start);
  EXPECT_GE(elapsed, 190);
  EXPECT_LT(elapsed, 800);

  start = Clock::now();
  EXPECT_EQ(port_.ReadRaw(buffer, 5), 0);
  elapsed = MillisSince(start);
  EXPECT_GE(elapsed, 190);
  EXPECT_LT(elapsed, 800);
}

TEST_F(SerialPortTest, GapEndsAChunkButTheReplyGoesOn) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  Send({1, 2, 3, 4, 5});
  std::thread late([&] {
    std::this_thread::sleep_for(milliseconds(130));
    Send({6, 7, 8});
  });
  // One raw read stops at the gap...
  std::uint8_t buffer[64] = {};
  const auto start = Clock::now();
  EXPECT_EQ(port_.ReadRaw(buffer, sizeof buffer), 5);
  EXPECT_LT(MillisSince(start), 125);
  late.join();
  // ...while Read collects chunk after chunk until the line is silent.
  Send({1, 2, 3, 4, 5});
  std::thread later([&] {
    std::this_thread::sleep_for(milliseconds(130));
    Send({6, 7, 8});
  });
  EXPECT_EQ(port_.Read(buffer, sizeof buffer), 5 + 3 + 3);
  later.join();
  EXPECT_EQ(Bytes(buffer, buffer + 11), (Bytes{6, 7, 8, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(SerialPortTest, RawReadReturnsAtCountOrAfterTheTotalTimeOut) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  Send({1, 2, 3, 4, 5, 6, 7});
  std::uint8_t buffer[64] = {};
  EXPECT_EQ(port_.ReadRaw(buffer, 5), 5);  // a pen packet
  EXPECT_EQ(port_.ReadRaw(buffer, 5), 2);

  // A byte every 10 ms never leaves a 50 ms gap: the read ends at 200 ms with what it has.
  std::atomic<bool> stop{false};
  std::thread trickle([&] {
    while (!stop) {
      Send({0xAA});
      std::this_thread::sleep_for(milliseconds(10));
    }
  });
  const auto start = Clock::now();
  const int got = port_.ReadRaw(buffer, sizeof buffer);
  const auto elapsed = MillisSince(start);
  stop = true;
  trickle.join();
  EXPECT_GE(got, 5);
  EXPECT_LT(got, 64);
  EXPECT_GE(elapsed, 190);
  EXPECT_LT(elapsed, 1000);
}

TEST_F(SerialPortTest, FarEndHangingUpFailsTheRead) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  Send({1, 2, 3});
  std::thread hangUp([&] {
    std::this_thread::sleep_for(milliseconds(20));
    CloseMaster();
  });
  std::uint8_t buffer[64];
  const auto start = Clock::now();
  EXPECT_EQ(port_.Read(buffer, sizeof buffer), -1);
  EXPECT_LT(MillisSince(start), 1000);
  hangUp.join();
  EXPECT_EQ(port_.ReadRaw(buffer, 5), -1);
  EXPECT_EQ(port_.Write(buffer, 5), 0);
  port_.Close();
  EXPECT_FALSE(port_.IsOpen());
}

TEST_F(SerialPortTest, HangUpDuringASilentReadFailsAtOnce) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  std::thread hangUp([&] {
    std::this_thread::sleep_for(milliseconds(30));
    CloseMaster();
  });
  std::uint8_t buffer[64];
  const auto start = Clock::now();
  EXPECT_EQ(port_.ReadRaw(buffer, sizeof buffer), -1);
  EXPECT_LT(MillisSince(start), 180);  // the hang-up, not the time-out, ended it
  hangUp.join();
}

TEST_F(SerialPortTest, OpenIsRefusedWhileOpenAndThePortKeepsWorking) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  EXPECT_EQ(port_.Open(OpenString().c_str()), 0);
  EXPECT_TRUE(port_.IsOpen());
  const Bytes ping{0x02, 0x00, 0x00, 0x00, 0x00, 0x03};
  EXPECT_EQ(port_.Write(ping.data(), ping.size()), 6);
  EXPECT_EQ(Received(), ping);
}

TEST_F(SerialPortTest, SecondOpenOfTheSameDeviceFailsInThisProcess) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  SerialPort other;
  EXPECT_EQ(other.Open(OpenString().c_str()), 0);
  EXPECT_FALSE(other.IsOpen());
  // The failed attempt must not have loosened the first owner's hold.
  SerialPort third;
  EXPECT_EQ(third.Open(OpenString().c_str()), 0);
  const Bytes ping{0x06};
  EXPECT_EQ(port_.Write(ping.data(), ping.size()), 1);
  EXPECT_EQ(Received(), ping);
}

TEST_F(SerialPortTest, SecondOpenOfTheSameDeviceFailsInAnotherProcess) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SerialPort mine;
    _exit(mine.Open(OpenString().c_str()) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child could open the port";
}

TEST_F(SerialPortTest, ReopenAfterCloseWorks) {
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(port_.Open(OpenString().c_str()), 1) << round;
    const Bytes ping{static_cast<std::uint8_t>(round)};
    EXPECT_EQ(port_.Write(ping.data(), 1), 1);
    EXPECT_EQ(Received(), ping);
    port_.Close();
    EXPECT_FALSE(port_.IsOpen());
  }
  // Another object may take the device now.
  SerialPort other;
  EXPECT_EQ(other.Open(OpenString().c_str()), 1);
  other.Close();
}

TEST_F(SerialPortTest, OpenFlushesWhatWaitedOnTheLine) {
  // Hold the slave open so that bytes sent before the port's open are queued.
  const int slave = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  Send({0x15, 0xE1});
  std::this_thread::sleep_for(milliseconds(20));
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  close(slave);
  std::uint8_t buffer[16];
  EXPECT_EQ(port_.Read(buffer, sizeof buffer), 0);
}

TEST_F(SerialPortTest, FailedOpensLeaveThePortClosedAndFree) {
  const std::string bad[] = {
      OpenString("baud=9600/parity=X"),  // settings refused
      OpenString("baud=9600/flow=on"),
      "COM3/baud",  // too short
  };
  for (const auto& text : bad) {
    EXPECT_EQ(port_.Open(text.c_str()), 0) << text;
    EXPECT_FALSE(port_.IsOpen()) << text;
  }
  EXPECT_EQ(port_.Open(nullptr), 0);
  // The device was not left locked by any of them.
  EXPECT_EQ(port_.Open(OpenString().c_str()), 1);
}

TEST_F(SerialPortTest, MissingOrUnsuitableDevicesFailCleanly) {
  const char* const devices[] = {"/nonexistent/ttyQ9", "/dev/null", "/tmp"};
  for (const char* device : devices) {
    ASSERT_TRUE(MapPort(kPort, device));
    EXPECT_EQ(port_.Open(OpenString().c_str()), 0) << device;
    EXPECT_FALSE(port_.IsOpen()) << device;
  }
  ASSERT_TRUE(MapPort(kPort, slavePath_.c_str()));
  EXPECT_EQ(port_.Open(OpenString().c_str()), 1);
}

TEST_F(SerialPortTest, ClosedPortRefusesIo) {
  std::uint8_t buffer[8] = {1};
  EXPECT_EQ(port_.Read(buffer, sizeof buffer), -1);
  EXPECT_EQ(port_.ReadRaw(buffer, sizeof buffer), -1);
  EXPECT_EQ(port_.Write(buffer, sizeof buffer), 0);
  port_.Close();  // closing a closed port is harmless
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  EXPECT_EQ(port_.Write(nullptr, 4), 0);
  EXPECT_EQ(port_.Read(nullptr, 4), -1);
  EXPECT_EQ(Received(100), Bytes{});
}

TEST_F(SerialPortTest, LoneByteIsNotStoredWithoutRoom) {
  ASSERT_EQ(port_.Open(OpenString().c_str()), 1);
  Send({0x06});
  std::uint8_t guard = 0xEE;
  EXPECT_EQ(port_.Read(&guard, 0), 0);
  EXPECT_EQ(guard, 0xEE);
}

TEST(ComposeTermios, LineSettingsAndRawMode) {
  struct Case {
    LineSettings settings;
    tcflag_t size, parity;
    bool twoStop;
    speed_t speed;
    int customBaud;
  };
  const Case cases[] = {
      {{9600, 'N', 8, 1}, CS8, 0, false, B9600, 0},
      {{1200, 'E', 7, 2}, CS7, PARENB, true, B1200, 0},
      {{115200, 'O', 8, 1}, CS8, PARENB | PARODD, false, B115200, 0},
      {{14400, 'M', 7, 1}, CS7, PARENB | PARODD | CMSPAR, false, B38400, 14400},
      {{28800, 'S', 8, 2}, CS8, PARENB | CMSPAR, true, B38400, 28800},
      {{0, 0, 5, 0}, CS5, PARENB | PARODD, true, B38400, 0},  // unset fields keep the old
      {{0, 0, 6, 0}, CS6, PARENB | PARODD, true, B38400, 0},
  };
  for (const auto& c : cases) {
    termios t{};
    // A cooked, flow-controlled start: every such bit must be gone afterwards.
    t.c_iflag = ICRNL | IXON | IXOFF | IXANY | INPCK | ISTRIP | PARMRK | IGNPAR;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    // CIBAUD: an input rate left over from an earlier custom rate.
    t.c_cflag = CS6 | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL | CIBAUD;
    cfsetispeed(&t, B38400);
    cfsetospeed(&t, B38400);
    int customBaud = -1;
    ComposeTermios(c.settings, t, customBaud);
    SCOPED_TRACE(c.settings.baud);
    EXPECT_EQ(t.c_cflag & CSIZE, c.size);
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.parity);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStop);
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    EXPECT_EQ(customBaud, c.customBaud);
    if (c.settings.baud != 0 && c.customBaud == 0) {
      EXPECT_EQ(t.c_cflag & CIBAUD, 0u);
    }
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | INPCK | ISTRIP | PARMRK | ICRNL), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  }
}

}  // namespace
}  // namespace vantorel::link
