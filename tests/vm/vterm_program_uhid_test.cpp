// The vantorel-vterm program with --uhid, started as a process of its own inside the test
// VM: the library finds it with Brixa_OpenHid through hidraw, as it would the hardware,
// and every family answers; a capture over the kernel's HID device carries the console's
// pen strokes and pad events to the point handler.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/vterm_process.h"
#include "vantorel.h"
#include "vterm/hid_front_end.h"

#ifndef VANTOREL_VM_VTERM
#define VANTOREL_VM_VTERM "/bin/vantorel-vterm"
#endif

namespace {

using namespace std::chrono_literals;

class UhidProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access("/dev/uhid", W_OK) != 0) GTEST_SKIP() << "no /dev/uhid";
    if (::access(VANTOREL_VM_VTERM, X_OK) != 0) GTEST_SKIP() << "no " VANTOREL_VM_VTERM;
    program_.emplace(VANTOREL_VM_VTERM, std::vector<std::string>{"--uhid"});
    const auto node = program_->ReadLine(20s);
    ASSERT_TRUE(node.has_value()) << program_->Errors();
    ASSERT_EQ(node->rfind("/dev/hidraw", 0), 0u) << *node;
    ASSERT_EQ(Brixa_OpenHid(vterm::kVendorId, vterm::kProductId), 1);
    EXPECT_EQ(program_->Execute("clear"), "");
  }
  void TearDown() override {
    Brixa_Close();
    if (program_) {
      EXPECT_EQ(program_->Terminate(10s), 0) << program_->Errors();
    }
  }
  std::optional<support::VtermProcess> program_;
};

TEST_F(UhidProgram, EveryFamilyAnswers) {
  char text[64] = {};
  int length = 0;
  EXPECT_EQ(Brixa_GetVersion(text, &length), 1);
  EXPECT_EQ(std::string(text, static_cast<std::size_t>(length)), "VT 2.04");
  EXPECT_EQ(Zelto_DrawLine(1, 2, 300, 200), 1);
  unsigned char setting = 0;
  EXPECT_EQ(MSR_GetDecodingSetting(&setting), 1);
  EXPECT_EQ(program_->Execute("pinkey back"), "");
  EXPECT_EQ(PIN_GetKey(text, &length), 1);
  EXPECT_STREQ(text, "BACKSPACE");
  // Exactly those commands reached the terminal.
  EXPECT_EQ(program_->Execute("frames"),
            "3 ok 02 03 00 78 46 01 3F BF 03\n"
            "4 ok 02 0B 00 8A 46 11 01 00 02 00 2C 01 C8 00 3B D9 03\n"
            "5 ok 02 03 00 73 52 1D 3C E2 03\n"
            "6 ok 02 03 00 75 46 81 B2 3C 03\n");
}

std::mutex gMutex;
std::vector<std::vector<int>> gCalls;

void VANTOREL_CALL OnPoints(const int* values, int count, void*) {
  std::lock_guard lock(gMutex);
  gCalls.emplace_back(values, values + count);
}

std::vector<int> Joined() {
  std::lock_guard lock(gMutex);
  std::vector<int> all;
  for (const auto& c : gCalls) all.insert(all.end(), c.begin(), c.end());
  return all;
}

TEST_F(UhidProgram, CaptureCarriesStrokesAndPadEvents) {
  const unsigned char label[] = {'O', 'K'};
  ASSERT_EQ(Zelto_CreateRegion(5, 1, 0, 10, 10, 100, 50, 2, label), 1);
  Zelto_AddPointHandle(&OnPoints, &gCalls);
  std::thread capture([] { Zelto_StartCapture(1, 1, 2, 3, 4, 5, 6, 7); });
  std::vector<std::string> replies;
  // The console's own wait tells when the capture runs.
  replies.push_back(program_->Execute("wait capture-start 20000"));
  replies.push_back(program_->Execute("sign 100,200 110,210 120,220"));
  replies.push_back(program_->Execute("touch 5"));
  replies.push_back(program_->Execute("padkey enter"));
  const std::vector<int> points{100, 200, 110, 210, 120, 220, -1, -1};
  for (int i = 0; i < 200 && Joined().size() < points.size() + 4; ++i) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(Zelto_ExitCapture(), 1);
  capture.join();
  Zelto_AddPointHandle(nullptr, nullptr);
  for (const auto& r : replies) EXPECT_EQ(r, "");
  // Events arrive as pairs of their own, whenever the pad sends them; the points in order.
  std::vector<int> stream;
  bool touched = false, entered = false;
  {
    std::lock_guard lock(gMutex);
    for (const auto& c : gCalls) {
      if (c == std::vector<int>{122, 5}) {
        touched = true;
      } else if (c == std::vector<int>{123, 3}) {
        entered = true;
      } else {
        stream.insert(stream.end(), c.begin(), c.end());
      }
    }
  }
  EXPECT_TRUE(touched);
  EXPECT_TRUE(entered);
  EXPECT_EQ(stream, points);
}

}  // namespace
