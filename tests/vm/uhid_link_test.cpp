// The library's hidraw backend, unchanged, against the terminal as a HID device of a real
// kernel (uhid): finding the device by its ids, the reports as the kernel carries them,
// the device leaving and rejoining the bus, and vanishing in the middle of a command.
// Runs only in the test VM (scripts/vm-tests.sh), where /dev/uhid exists.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "support/session.h"
#include "vterm/device.h"
#include "vterm/modules.h"
#include "vterm/uhid_front_end.h"

namespace {

using support::Bytes;
using support::ElapsedMs;
using support::Session;
using support::Transport;
using Clock = std::chrono::steady_clock;

const Bytes kVersionFrame{0x02, 0x03, 0x00, 0x78, 0x46, 0x01, 0x3F, 0xBF, 0x03};

// Waits until `done` holds; false after `timeoutMs`.
template <class Predicate>
bool WaitFor(Predicate done, int timeoutMs = 5000) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The frame bytes carried by a run of reports (report id first, then the count byte).
Bytes JoinReports(const std::vector<vterm::Report>& reports) {
  Bytes joined;
  for (const auto& r : reports)
    joined.insert(joined.end(), r.begin() + 2, r.begin() + 2 + (r[1] & 0x7F));
  return joined;
}

Bytes Report(std::uint8_t count, const Bytes& data) {
  Bytes r(vterm::kReportLength, 0);
  r[1] = count;
  std::copy(data.begin(), data.end(), r.begin() + 2);
  return r;
}

class UhidLink : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!vterm::UhidFrontEnd::Available()) GTEST_SKIP() << "no /dev/uhid";
  }
};

TEST_F(UhidLink, ReportsAreWhatTheKernelCarries) {
  Session session(Transport::kUhid);
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  char buffer[512];
  int length = 0;
  ASSERT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS);
  EXPECT_EQ(std::string(buffer, length), vterm::kDefaultVersion);

  // hidraw passes the 0 id byte through to the device side: 00 09, the frame, zeros.
  const auto out = session.uhid()->OutputReports();
  ASSERT_EQ(out.size(), 1u);
  Bytes expected(vterm::kReportLength, 0);
  expected[1] = 0x09;
  std::copy(kVersionFrame.begin(), kVersionFrame.end(), expected.begin() + 2);
  EXPECT_EQ(Bytes(out[0].begin(), out[0].end()), expected);
  EXPECT_EQ(session.Frames(), std::vector<Bytes>{kVersionFrame});

  const auto in = session.uhid()->InputReports();
  ASSERT_EQ(in.size(), 1u);
  EXPECT_EQ(JoinReports(in), vterm::AckFrame(Bytes(buffer, buffer + length)));
}

TEST_F(UhidLink, RepliesOfAnyLengthAreJoined) {
  Session session(Transport::kUhid);
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  // A reply frame is the text plus 7 bytes: one report up to 63, then one more per 63.
  const struct {
    std::size_t text;
    std::size_t reports;
  } cases[] = {{0, 1}, {56, 1}, {57, 2}, {119, 2}, {120, 3}, {498, 9}};
  for (const auto& c : cases) {
    std::string text;
    for (std::size_t i = 0; i < c.text; ++i) text += static_cast<char>('A' + i % 26);
    session.terminal().Device().SetVersion(text);
    session.Clear();
    char buffer[512];
    int length = -1;
    ASSERT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS) << c.text;
    EXPECT_EQ(std::string(buffer, length), text) << c.text;
    EXPECT_EQ(session.uhid()->InputReports().size(), c.reports) << c.text;
  }
}

TEST_F(UhidLink, ReplySplitAtAnyReportBoundaryIsJoined) {
  Session session(Transport::kUhid);
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  const Bytes reply = vterm::AckFrame(Bytes{'X'});  // 8 bytes
  const std::vector<std::vector<std::size_t>> splits = {{5, 3}, {1, 1, 1, 1, 1, 1, 1, 1}, {7, 1}};
  for (const auto& split : splits) {
    std::vector<Bytes> reports;
    std::size_t offset = 0;
    for (std::size_t i = 0; i < split.size(); ++i) {
      const bool last = i + 1 == split.size();
      const Bytes part(reply.begin() + offset, reply.begin() + offset + split[i]);
      reports.push_back(Report(static_cast<std::uint8_t>((last ? 0 : 0x80) | split[i]), part));
      offset += split[i];
    }
    session.uhid()->ReplaceNextMessage(reports);
    char buffer[512];
    int length = -1;
    ASSERT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS) << split.size();
    EXPECT_EQ(std::string(buffer, length), "X") << split.size();
  }
}

TEST_F(UhidLink, LongCommandGoesOutAsSeveralReports) {
  Session session(Transport::kUhid);
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  const std::string text(200, 'w');
  ASSERT_EQ(Zelto_DrawString(10, 20, static_cast<int>(text.size()), text.c_str()),
            VANTOREL_SUCCESS);
  const auto frames = session.terminal().Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_TRUE(frames[0].valid());
  const auto out = session.uhid()->OutputReports();
  ASSERT_GE(out.size(), 4u);
  for (std::size_t i = 0; i + 1 < out.size(); ++i) EXPECT_EQ(out[i][1], 0xBF) << i;
  EXPECT_LT(out.back()[1], 0x40);
  EXPECT_EQ(JoinReports(out), frames[0].raw);
}

TEST_F(UhidLink, DevicesWithOtherIdsAreSkipped) {
  // Created first, so they are on the bus before the terminal.
  vterm::Terminal otherProduct;
  vterm::InstallAllModules(otherProduct);
  vterm::UhidFrontEnd productFrontEnd(otherProduct, vterm::kVendorId, vterm::kProductId + 1);
  vterm::Terminal otherVendor;
  vterm::UhidFrontEnd vendorFrontEnd(otherVendor, vterm::kVendorId + 1, vterm::kProductId);
  Session session(Transport::kUhid);

  EXPECT_EQ(Brixa_OpenHid(vterm::kVendorId, vterm::kProductId + 2), VANTOREL_FAILURE);
  EXPECT_EQ(Brixa_OpenHid(vterm::kVendorId + 0x10000, vterm::kProductId), VANTOREL_FAILURE);
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  char buffer[512];
  int length = 0;
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS);
  EXPECT_EQ(session.Commands().size(), 1u);
  for (auto* t : {&otherProduct, &otherVendor}) EXPECT_TRUE(t->Frames().empty());
  EXPECT_EQ(productFrontEnd.OpenCount(), 0);
  EXPECT_EQ(vendorFrontEnd.OpenCount(), 0);

  // And each of the others is found by its own ids.
  ASSERT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
  EXPECT_EQ(Brixa_OpenHid(vterm::kVendorId, vterm::kProductId + 1), VANTOREL_SUCCESS);
  EXPECT_EQ(otherProduct.Commands().size(), 2u) << "the two handshakes";
  EXPECT_TRUE(otherVendor.Frames().empty());
}

TEST_F(UhidLink, AfterAResetTheNextExchangeFindsTheTerminalAgain) {
  Session session(Transport::kUhid);
  session.terminal().SetRestartDuration(1500);
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  const std::string before = session.uhid()->NodePath();
  ASSERT_FALSE(before.empty());

  ASSERT_EQ(Brixa_ReSet(), VANTOREL_SUCCESS);
  ASSERT_TRUE(WaitFor([&] { return session.terminal().RestartCount() == 1; }));
  EXPECT_FALSE(session.uhid()->Plugged());
  char buffer[512];
  int length = 0;
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE) << "off the bus";

  // Another device arrives meanwhile and takes the freed hidraw number: the terminal
  // comes back under a different node, and only its ids lead to it.
  vterm::Terminal intruder;
  vterm::UhidFrontEnd intruderFrontEnd(intruder, vterm::kVendorId, vterm::kProductId + 1);
  ASSERT_TRUE(WaitFor([&] { return !session.uhid()->NodePath().empty(); }));
  EXPECT_NE(session.uhid()->NodePath(), before);

  session.Clear();
  ASSERT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS) << "back with the same ids";
  EXPECT_EQ(std::string(buffer, length), vterm::kDefaultVersion);
  EXPECT_EQ(session.Commands().size(), 1u);
  EXPECT_TRUE(intruder.Frames().empty());
}

TEST_F(UhidLink, UnpluggedTerminalFailsAndIsFoundAgainWhenBack) {
  Session session(Transport::kUhid);
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  session.uhid()->Unplug();
  EXPECT_TRUE(session.uhid()->NodePath().empty());
  char buffer[512];
  int length = 0;
  const auto start = Clock::now();
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE);
  EXPECT_EQ(Brixa_ControlAudio(1), VANTOREL_FAILURE);
  EXPECT_LT(ElapsedMs(start), 2000) << "a missing device costs no read wait";
  EXPECT_TRUE(session.Frames().empty());

  session.uhid()->Plug();
  const int opens = session.uhid()->OpenCount();
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS);
  EXPECT_EQ(session.uhid()->OpenCount(), opens + 1) << "searched and opened afresh";
}

TEST_F(UhidLink, TerminalVanishingMidCommandGivesZero) {
  struct Case {
    const char* what;
    std::function<void(Session&)> arrange;
  };
  const Case cases[] = {
      {"while waiting for the reply", [](Session& s) { s.terminal().SilenceNext(1); }},
      {"between reports of a reply",
       [](Session& s) {
         // The first of several reports, then nothing: the host waits for the rest.
         s.uhid()->ReplaceNextMessage({Report(0xBF, Bytes(63, 0x41))});
       }},
  };
  for (const Case& c : cases) {
    Session session(Transport::kUhid);
    ASSERT_EQ(session.Open(), VANTOREL_SUCCESS) << c.what;
    c.arrange(session);
    std::thread unplug([&] {
      session.terminal().WaitForFrames(1, std::chrono::milliseconds(3000));
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      session.uhid()->Unplug();
    });
    char buffer[512];
    int length = -7;
    const auto start = Clock::now();
    EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE) << c.what;
    EXPECT_LT(ElapsedMs(start), 3000) << c.what;
    EXPECT_EQ(length, -7) << c.what;
    unplug.join();

    EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE) << c.what << ": still gone";
    session.uhid()->Plug();
    session.terminal().BehaveNormally();
    EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_SUCCESS) << c.what << ": back";
  }
}

}  // namespace
