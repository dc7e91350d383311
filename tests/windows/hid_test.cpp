// The Win32 HID backend against a real device: the virtual terminal as a USB HID device of
// the Linux kernel (uhid), which wine's HID bus presents through hidraw to SetupAPI and
// HID.DLL. Runs only when scripts/wine-tests.sh --hid set that up (VANTOREL_WINE_HID=1,
// in the VM of scripts/wine-hid-vm.sh); the serial run leaves these tests out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "vantorel.h"
#include "vterm_console.h"

namespace wintest {
namespace {

// The virtual terminal's USB ids.
constexpr int kVendorId = 0x0ACD;
constexpr int kProductId = 0x3910;

class WineHid : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("VANTOREL_WINE_HID") == nullptr) GTEST_SKIP() << "no USB HID terminal";
    Brixa_Close();
    console.Clear();
  }
  void TearDown() override {
    Brixa_Close();
    console.Clear();
  }
  VtermConsole& console = VtermConsole::Instance();
};

TEST_F(WineHid, OpenFindsTheTerminalAndCommandsTravelInReports) {
  ASSERT_EQ(Brixa_OpenHid(kVendorId, kProductId), VANTOREL_SUCCESS);
  // Both handshakes reached the terminal.
  const auto opened = console.Frames();
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0].raw, Framed({0x78, 0x46, 0x01}));
  EXPECT_EQ(opened[1].raw, Framed({0x73, 0x46, 0xE1, 0x01, 0x30}));
  EXPECT_EQ(Brixa_OpenHid(kVendorId, kProductId), VANTOREL_ALREADY_OPEN);

  // A reply's data come back whole; a setting's bytes arrive as sent.
  const std::string version = console.State("version");
  ASSERT_FALSE(version.empty());
  console.Clear();
  char buffer[512];
  int length = 0;
  ASSERT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS);
  EXPECT_EQ(std::string(buffer, length), version);
  EXPECT_EQ(Brixa_GenerateTone(1000, 500), VANTOREL_SUCCESS);
  const auto commands = console.Commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0], (Bytes{0x78, 0x46, 0x01}));
  EXPECT_EQ(commands[1], (Bytes{0x7B, 0x46, 0x02, 0xE8, 0x03, 0xF4, 0x01}));

  // The terminal's refusal maps to its code over HID too.
  console.Execute("refuse 1 EC");
  EXPECT_EQ(Brixa_ControlAudio(1), VANTOREL_STATUS_EC);
  EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
}

TEST_F(WineHid, OtherIdsFindNothing) {
  EXPECT_EQ(Brixa_OpenHid(kVendorId, kProductId + 1), VANTOREL_FAILURE);
  EXPECT_EQ(Brixa_OpenHid(kVendorId + 1, kProductId), VANTOREL_FAILURE);
  EXPECT_TRUE(console.Frames().empty());
}

}  // namespace
}  // namespace wintest
