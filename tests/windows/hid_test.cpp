// The Win32 HID backend against a real device: the virtual terminal as a USB HID device of
// the Linux kernel (uhid), which wine's HID bus presents through hidraw to SetupAPI and
// HID.DLL. Runs only when scripts/wine-tests.sh --hid set that up (VANTOREL_WINE_HID=1,
// in the VM of scripts/wine-hid-vm.sh); the serial run leaves these tests out.
//
// wine's device manager announces the hidraw device on its own schedule, some time after
// the session started, and for a moment after that an open may still get no answer to
// its handshakes (wine's HID bus not yet passing the device's input reports on). Before
// the first test the run waits until SetupAPI lists an interface with the terminal's ids
// that opens and answers its attributes, then until an open is answered (closed again at
// once; each test starts from a cleared console): at most VANTOREL_WINE_HID_WAIT seconds
// in all, default 120. When the wait runs out, every test fails saying which step did not
// come.
// clang-format off
#include <windows.h>
#include <setupapi.h>
// mingw's HID class library header declares C functions without C++ linkage guards.
extern "C" {
#include <hidsdi.h>
}
// clang-format on
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "vantorel.h"
#include "vterm_console.h"

namespace wintest {
namespace {

// The virtual terminal's USB ids.
constexpr int kVendorId = 0x0ACD;
constexpr int kProductId = 0x3910;

// True when SetupAPI lists a present HID interface that opens and carries these ids. Opened
// without read or write access: the search disturbs nothing.
bool Announced(int vendorId, int productId) {
  GUID guid;
  ::HidD_GetHidGuid(&guid);
  const HDEVINFO set =
      ::SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  SP_DEVICE_INTERFACE_DATA data;
  for (DWORD index = 0; !found; ++index) {
    std::memset(&data, 0, sizeof data);
    data.cbSize = sizeof data;
    if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &data)) break;
    DWORD required = 0;
    ::SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
    std::string storage(required, '\0');
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!::SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr)) {
      continue;
    }
    const HANDLE h = ::CreateFileA(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) continue;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    found = ::HidD_GetAttributes(h, &attributes) && attributes.VendorID == vendorId &&
            attributes.ProductID == productId;
    ::CloseHandle(h);
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return found;
}

// Waits once, before the first test, for wine to announce the terminal.
class AnnouncementWait : public ::testing::Environment {
 public:
  void SetUp() override {
    if (std::getenv("VANTOREL_WINE_HID") == nullptr) return;
    const char* limitText = std::getenv("VANTOREL_WINE_HID_WAIT");
    const int limit = limitText != nullptr ? std::atoi(limitText) : 120;
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::seconds(limit);
    while (!(announced = Announced(kVendorId, kProductId)) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    const auto since = [&start] {
      return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    const double seconds = since();
    int tries = 0;
    while (announced && !answered && std::chrono::steady_clock::now() < deadline) {
      ++tries;
      answered = Brixa_OpenHid(kVendorId, kProductId) == VANTOREL_SUCCESS;
      Brixa_Close();
      if (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    char text[200];
    if (answered) {
      std::snprintf(text, sizeof text,
                    "wine announced the USB HID device %04X:%04X after %.1f s; an open was "
                    "answered after %.1f s (%d %s)",
                    kVendorId, kProductId, seconds, since(), tries, tries == 1 ? "try" : "tries");
    } else if (announced) {
      std::snprintf(text, sizeof text,
                    "wine announced the USB HID device %04X:%04X after %.1f s, but no open "
                    "was answered within %d s (VANTOREL_WINE_HID_WAIT; %d tries)",
                    kVendorId, kProductId, seconds, limit, tries);
    } else {
      std::snprintf(text, sizeof text,
                    "wine did not announce the USB HID device %04X:%04X within %d s "
                    "(VANTOREL_WINE_HID_WAIT): its HID bus never listed the hidraw node",
                    kVendorId, kProductId, limit);
    }
    message = text;
    std::printf("wine-hid: %s\n", text);
    std::fflush(stdout);
  }
  static inline bool announced = false;
  static inline bool answered = false;
  static inline std::string message;
};

[[maybe_unused]] ::testing::Environment* const gAnnouncementWait =
    ::testing::AddGlobalTestEnvironment(new AnnouncementWait);

class WineHid : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("VANTOREL_WINE_HID") == nullptr) GTEST_SKIP() << "no USB HID terminal";
    ASSERT_TRUE(AnnouncementWait::answered) << AnnouncementWait::message;
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
