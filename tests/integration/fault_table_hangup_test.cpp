// Fault table, the port hanging up or the HID device leaving the bus, over both transports:
// during a command, a capture, secure reading and an entry. Each call returns within its
// wait, nothing reaches a handler or the caller that the terminal did not send, Brixa_Close
// reports the open connection, and a fresh open on the terminal's new port (or the device
// back on the bus) works at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <tuple>

#include "cardreader_test_support.h"
#include "fault_table_support.h"
#include "link/link_state.h"
#include "pinpad_test_support.h"
#include "signpad_test_support.h"

// The table drives the virtual terminal's own front ends (split reports, unplugging);
// the VM's kernel HID device has neither.
#ifndef VANTOREL_TEST_UHID

namespace {

using namespace fault_table;
using support::Transport;

enum class During { kCommand, kCapture, kSecureReading, kPinEntry };

struct HangupRow {
  const char* name;
  During during;
};

const HangupRow kRows[] = {
    {"DuringACommand", During::kCommand},
    {"DuringACapture", During::kCapture},
    {"DuringSecureReading", During::kSecureReading},
    {"DuringAPinEntry", During::kPinEntry},
};

// Brixa_Close waits for a read in progress: a serial read call, or one report wait of a
// loop (64 ms in a capture, 512 ms in secure reading and the entries). With the port gone
// reads fail at once, so these are upper bounds.
constexpr long kCaptureRead = 64;

void PrintTo(const HangupRow& row, std::ostream* os) {
  *os << row.name;
}

// Under both profiles; the bounds hold for both (prompt only ever waits less).
class FaultHangup
    : public ::testing::TestWithParam<std::tuple<Transport, support::Timing, HangupRow>> {
 protected:
  support::Session session{std::get<0>(GetParam()), std::get<1>(GetParam())};

  // The port hangs up, or the device leaves the bus.
  void Vanish() {
    if (session.serial()) {
      session.pty()->Hangup();
    } else {
      session.hid()->Unplug();
    }
  }
  // Brixa_Close ends the running loop; both within their bounds.
  void ExpectCloseWithin(long bound) {
    const auto start = Clock::now();
    EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS) << "a connection was open";
    EXPECT_LE(ElapsedMs(start), bound + kLate) << "Brixa_Close waited too long";
  }
};

TEST_P(FaultHangup, CallsEndInTimeAndAFreshOpenWorks) {
  const HangupRow& row = std::get<2>(GetParam());
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);

  switch (row.during) {
    case During::kCommand: {
      // The terminal receives the version query and is gone before it answers.
      auto once = std::make_shared<std::atomic<bool>>(false);
      session.terminal().Register(0x78, 0x46, 0x01,
                                  [this, once](vterm::Terminal& t, const vterm::Command&) {
                                    if (once->exchange(true))
                                      return vterm::Response::Ack(t.Device().Version());
                                    Vanish();
                                    return vterm::Response::None();
                                  });
      Output out;
      auto start = Clock::now();
      EXPECT_EQ(Brixa_GetVersion(out.buffer.data(), &out.length), VANTOREL_FAILURE);
      EXPECT_LE(ElapsedMs(start), Expected(session, kSilent) + kLate);
      EXPECT_TRUE(out.Untouched());
      // Gone, not silent, and which device.
      const std::string cause = Brixa_GetLastErrorText();
      EXPECT_EQ(cause.rfind("device gone: " + (session.serial() ? session.pty()->Path()
                                                                : "the HID device 0ACD:3910"),
                            0),
                0u)
          << cause;
      start = Clock::now();
      EXPECT_EQ(Brixa_ControlAudio(1), VANTOREL_FAILURE) << "the port is gone";
      EXPECT_LE(ElapsedMs(start), Expected(session, kSilent) + kLate);
      ExpectCloseWithin(0);
      break;
    }
    case During::kCapture: {
      signpad_test::Recorder recorder;
      recorder.Register();
      auto& pad = session.terminal().Get<vterm::SignpadModule>();
      pad.SetHidLink(!session.serial());
      pad.SetPenTiming({.intervalMs = 15, .packetsPerMessage = 2, .startDelayMs = 0});
      signpad_test::Capture capture(1);
      ASSERT_TRUE(signpad_test::Capture::WaitRunning());
      const auto strokes = signpad_test::KnownStrokes();
      pad.Write(strokes);
      ASSERT_TRUE(recorder.WaitForPoints(10));
      Vanish();
      std::this_thread::sleep_for(300ms);
      EXPECT_FALSE(capture.Done()) << "a capture is ended from outside, never by itself";
      ExpectCloseWithin(session.serial() ? kSerialSilence : kCaptureRead);
      const auto closed = Clock::now();
      EXPECT_EQ(capture.Finish(), std::optional<int>(VANTOREL_SUCCESS));
      EXPECT_LE(ElapsedMs(closed), (session.serial() ? kSerialSilence : kCaptureRead) + kLate);
      // What arrived before the port went is delivered as it was sent: a prefix.
      const auto expected = signpad_test::Expected(strokes);
      const auto points = recorder.Points();
      ASSERT_LE(points.size(), expected.size());
      EXPECT_TRUE(std::equal(points.begin(), points.end(), expected.begin()));
      break;
    }
    case During::kSecureReading: {
      auto& deliveries = cardreader_test::Deliveries::Instance();
      deliveries.Register();
      cardreader_test::Reading reading;
      ASSERT_TRUE(cardreader_test::WaitForKeyPolls(session, 1));
      Vanish();
      std::this_thread::sleep_for(300ms);
      // A pass: the read, the key poll's exchange, 50 ms of sleep.
      const long pass = session.serial() ? kSerialSilence + kSerialWait + kSerialSilence + 50
                                         : kHidReportWait + kHidReportWait + 50;
      ExpectCloseWithin(session.serial() ? kSerialWait + kSerialSilence : kHidReportWait);
      const auto closed = Clock::now();
      EXPECT_EQ(reading.Result(), std::optional<unsigned char>(VANTOREL_SUCCESS));
      EXPECT_LE(ElapsedMs(closed), pass + kLate);
      EXPECT_TRUE(deliveries.Received().empty()) << "nothing was swiped";
      break;
    }
    case During::kPinEntry: {
      pinpad_test::Hold(session);
      pinpad_test::Request request;
      auto entry = std::async(std::launch::async, [&] { return PIN_GetPINBlock(request.record); });
      ASSERT_TRUE(WaitUntil([] { return vantorel::link::State().pinEntryActive.load() != 0; }));
      Vanish();
      std::this_thread::sleep_for(300ms);
      EXPECT_EQ(entry.wait_for(0s), std::future_status::timeout)
          << "an entry is ended from outside, never by itself";
      const long read = session.serial() ? kSerialSilence : kHidReportWait;
      ExpectCloseWithin(read);
      const auto closed = Clock::now();
      ASSERT_EQ(entry.wait_for(std::chrono::milliseconds(read + 100 + 2000)),
                std::future_status::ready);
      EXPECT_EQ(entry.get(), VANTOREL_FAILURE) << "closed from outside";
      EXPECT_LE(ElapsedMs(closed), read + 100 + kLate);
      EXPECT_EQ(request.resultLength, -7);
      EXPECT_EQ(request.result[0], 0xEE);
      break;
    }
  }

  EXPECT_EQ(Brixa_Close(), VANTOREL_FAILURE) << "already closed";
  session.Reattach();
  session.terminal().BehaveNormally();
  ASSERT_EQ(OpenAgain(session), VANTOREL_SUCCESS) << "a fresh open";
  Output out;
  EXPECT_EQ(Brixa_GetVersion(out.buffer.data(), &out.length), VANTOREL_SUCCESS);
  EXPECT_EQ(out.Text(), kVersion);
  ExpectOwnSerialNumber("after the fresh open");
}

INSTANTIATE_TEST_SUITE_P(, FaultHangup,
                         ::testing::Combine(kTransports, kTimings, ::testing::ValuesIn(kRows)),
                         RowName<HangupRow>);

}  // namespace

#endif  // VANTOREL_TEST_UHID
