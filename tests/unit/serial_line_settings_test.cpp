// What an open leaves on the device, read back through termios2 from the slave side of a
// pseudo-terminal. <asm/termbits.h> shuts out <termios.h>, hence a file of its own.
//
// A pseudo-terminal keeps rate, stop bits, the odd/mark-space parity bits and the flow
// control flags as set, but always reports 8 data bits and parity generation off; those two
// are covered by the ComposeTermios test.
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "link/serial_port.h"

namespace vantorel::link {
namespace {

constexpr int kPort = 43;

class LineSettingsOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    // Opened before the port takes the device exclusively.
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave_, 0);
    ASSERT_TRUE(MapPort(kPort, ptsname(master_)));
  }
  void TearDown() override {
    port_.Close();
    MapPort(kPort, nullptr);
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }

  // Opens with `settings`, reads the device's configuration back and closes again.
  termios2 Applied(const std::string& settings) {
    termios2 t{};
    const std::string open = "\\\\.\\COM" + std::to_string(kPort) + "/" + settings;
    EXPECT_EQ(port_.Open(open.c_str()), 1) << open;
    EXPECT_EQ(ioctl(slave_, TCGETS2, &t), 0);
    port_.Close();
    return t;
  }

  int master_ = -1;
  int slave_ = -1;
  SerialPort port_;
};

TEST_F(LineSettingsOnPty, EveryRateOfTheOpenExport) {
  const unsigned rates[] = {1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600, 115200};
  for (const unsigned rate : rates) {
    const termios2 t = Applied("baud=" + std::to_string(rate) + "/parity=N/stop=1/data=8");
    EXPECT_EQ(t.c_ospeed, rate);
    EXPECT_EQ(t.c_ispeed, rate);
  }
}

TEST_F(LineSettingsOnPty, RateIsSetAfreshAfterACustomOne) {
  Applied("baud=28800");
  const termios2 t = Applied("baud=9600");
  EXPECT_EQ(t.c_ospeed, 9600u);
  EXPECT_EQ(t.c_cflag & CBAUD, static_cast<tcflag_t>(B9600));
}

TEST_F(LineSettingsOnPty, StopBitsAndParityKind) {
  struct Case {
    const char* settings;
    bool twoStop;
    tcflag_t parityBits;  // of PARODD | CMSPAR, which the pty keeps
  };
  const Case cases[] = {
      {"baud=9600/parity=N/stop=1/data=8", false, 0},
      {"baud=9600/parity=E/stop=2/data=7", true, 0},
      {"baud=9600/parity=O/stop=1/data=7", false, PARODD},
      {"baud=9600/parity=M/stop=2/data=8", true, PARODD | CMSPAR},
      {"baud=9600/parity=S/stop=1/data=8", false, CMSPAR},
      {"baud=9600/parity=O/stop=2/data=8", true, PARODD},
  };
  for (const auto& c : cases) {
    const termios2 t = Applied(c.settings);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStop) << c.settings;
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), c.parityBits) << c.settings;
  }
}

TEST_F(LineSettingsOnPty, RawAndWithoutFlowControl) {
  // Start from a cooked, flow-controlled line.
  termios2 cooked{};
  ASSERT_EQ(ioctl(slave_, TCGETS2, &cooked), 0);
  cooked.c_iflag |= IXON | IXOFF | INPCK | ICRNL;
  cooked.c_cflag |= CRTSCTS;
  cooked.c_cflag &= ~CLOCAL;
  cooked.c_lflag |= ICANON | ECHO;
  ASSERT_EQ(ioctl(slave_, TCSETS2, &cooked), 0);

  const termios2 t = Applied("baud=19200/parity=E/stop=1/data=7");
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | INPCK | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

}  // namespace
}  // namespace vantorel::link
