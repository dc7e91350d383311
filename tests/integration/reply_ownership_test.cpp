// A reply belongs to the command that sent it: replies that come after their command gave up,
// a restart's acknowledgement, and messages that arrive while a command holds the link.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <string>

#include "cardreader_test_support.h"
#include "link/link_state.h"
#include "pinpad_test_support.h"
#include "signpad_test_support.h"
#include "vterm/device.h"

namespace {

using namespace std::chrono_literals;
using support::Bytes;

// Later than any command waits for its reply (serial 600 ms, HID 612 ms), but inside the
// window in which a late reply is still recognised.
constexpr int kLateMs = 1200;

auto& State() {
  return vantorel::link::State();
}

bool WaitFor(const std::atomic<std::uint8_t>& flag, std::uint8_t value) {
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (flag.load() != value) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// Runs a long-running export on its own thread; if it has not returned within `limit`,
// closes the connection to end it. Returns its code and whether the close was needed.
struct Bounded {
  int rc = -1;
  bool hung = false;
};
Bounded RunBounded(const std::function<unsigned char()>& call, std::chrono::milliseconds limit) {
  auto result = std::async(std::launch::async, call);
  Bounded b;
  if (result.wait_for(limit) != std::future_status::ready) {
    b.hung = true;
    Brixa_Close();
  }
  b.rc = result.get();
  return b;
}

class ReplyOwnership : public signpad_test::PadTest {
 protected:
  void TearDown() override { Zelto_AddPointHandle(nullptr, nullptr); }

  // A capture in format 1 that the pen writes the known strokes into; what reached the
  // handler, after an acknowledged exit.
  std::vector<int> CaptureKnownStrokes() {
    signpad_test::Recorder recorder;
    recorder.Register();
    signpad_test::Capture capture(1);
    EXPECT_TRUE(signpad_test::Capture::WaitRunning());
    pad().Write(signpad_test::KnownStrokes());
    recorder.WaitForPoints(signpad_test::Expected(signpad_test::KnownStrokes()).size(), 5s);
    EXPECT_EQ(Zelto_ExitCapture(), 1);
    EXPECT_EQ(capture.Finish(), 1);
    Zelto_AddPointHandle(nullptr, nullptr);
    return recorder.Points();
  }
};
VANTOREL_ON_BOTH_TRANSPORTS(ReplyOwnership);

TEST_P(ReplyOwnership, LateReplyNeverBecomesTheNextCommandsResult) {
  char buffer[512];
  int length = -1;
  session.terminal().DelayNext(1, kLateMs);
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE);

  // The next command is lost: the version text arrives during its wait and is not its reply.
  session.terminal().SilenceNext(1);
  EXPECT_EQ(Brixa_GetSerialNumber(buffer, &length), VANTOREL_FAILURE);
  EXPECT_EQ(length, -1);

  // Answered this time: the late version comes first, the serial number's own reply after it.
  session.terminal().DelayNext(1, kLateMs);
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE);
  ASSERT_EQ(Brixa_GetSerialNumber(buffer, &length), VANTOREL_SUCCESS);
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(length)), vterm::kDefaultSerial);
}

TEST_P(ReplyOwnership, ReplyThatWaitedOnTheLineIsDroppedBeforeTheNextCommand) {
  char buffer[512];
  int length = -1;
  session.terminal().DelayNext(1, 700);
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE);
  std::this_thread::sleep_for(1200ms);  // it arrived long ago; nobody was reading
  ASSERT_EQ(Brixa_GetSerialNumber(buffer, &length), VANTOREL_SUCCESS);
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(length)), vterm::kDefaultSerial);
}

// Each start is lost on its way: the late version reply must not acknowledge it.
TEST_P(ReplyOwnership, LateReplyNeverAcknowledgesALongRunningStart) {
  pinpad_test::Request pin;
  struct Case {
    const char* what;
    std::function<unsigned char()> start;
  } const cases[] = {
      {"capture", [] { return Zelto_StartCapture(1, 1, 2, 3, 4, 5, 6, 7); }},
      {"secure reading", [] { return MSR_EnableSecureHead(); }},
      {"PIN block", [&] { return PIN_GetPINBlock(pin.record); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    char buffer[512];
    int length = 0;
    session.terminal().DelayNext(1, kLateMs);
    EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE);
    session.terminal().SilenceNext(1);
    const Bounded b = RunBounded(c.start, 4s);
    EXPECT_FALSE(b.hung) << "took a stale reply for its acknowledgement";
    EXPECT_EQ(b.rc, VANTOREL_FAILURE);
    EXPECT_EQ(State().captureActive.load(), 0);
    EXPECT_EQ(State().secureHeadActive.load(), 0);
    EXPECT_EQ(State().pinEntryActive.load(), 0);
    if (b.hung) {
      ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
    }
  }
}

TEST_P(ReplyOwnership, LateReplyNeverBecomesAnEntrysAnswer) {
  pinpad_test::Hold(session);
  pinpad_test::Request request;
  auto entry = std::async(std::launch::async, [&] { return PIN_GetPINBlock(request.record); });
  ASSERT_TRUE(WaitFor(State().pinEntryActive, 1));
  char buffer[512];
  int length = 0;
  session.terminal().DelayNext(1, kLateMs);
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE);
  std::this_thread::sleep_for(std::chrono::milliseconds(kLateMs));  // arrived and read meanwhile
  EXPECT_EQ(entry.wait_for(0ms), std::future_status::timeout) << "the version became the PIN";
  session.terminal().Push(vterm::AckFrame(Bytes{0x12, 0x34, 0x56, 0x78}));
  ASSERT_EQ(entry.get(), VANTOREL_SUCCESS);
  EXPECT_EQ(request.resultLength, 4);
  EXPECT_EQ(Bytes(request.result.begin(), request.result.begin() + 5),
            (Bytes{0x12, 0x34, 0x56, 0x78, 0x00}));
}

TEST_P(ReplyOwnership, LateReplyNeverEntersThePenStream) {
  signpad_test::Recorder recorder;
  recorder.Register();
  signpad_test::Capture capture(1);
  ASSERT_TRUE(signpad_test::Capture::WaitRunning());
  char buffer[512];
  int length = 0;
  session.terminal().DelayNext(1, kLateMs);
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), VANTOREL_FAILURE);
  std::this_thread::sleep_for(std::chrono::milliseconds(kLateMs));
  pad().Write(signpad_test::KnownStrokes());
  const auto expected = signpad_test::Expected(signpad_test::KnownStrokes());
  recorder.WaitForPoints(expected.size(), 5s);
  EXPECT_EQ(Zelto_ExitCapture(), 1);
  EXPECT_EQ(capture.Finish(), 1);
  EXPECT_EQ(recorder.Points(), expected);
}

// Silent: the terminal goes down at once. Answered: it acknowledges and goes down later; the
// acknowledgement must not reach the capture that runs before it does.
TEST_P(ReplyOwnership, RestartAnsweredOrSilentThenACapture) {
  const auto expected = signpad_test::Expected(signpad_test::KnownStrokes());
  for (const bool answered : {false, true}) {
    SCOPED_TRACE(answered ? "answered" : "silent");
    session.terminal().Device().SetRestartReply(answered, 3000);
    session.Clear();
    const int restarts = session.terminal().RestartCount();
    EXPECT_EQ(Brixa_ReSet(), VANTOREL_SUCCESS);
    ASSERT_TRUE(session.terminal().WaitForFrames(1, 1s));
    EXPECT_EQ(session.OnlyCommand(), (Bytes{0x78, 0x46, 0x0A, 'I', 'R', 'F', 'W'}));
    if (session.hid() != nullptr) {
      EXPECT_EQ(session.hid()->PendingInputReports(), 0u) << "nothing left for the next loop";
    }
    if (!answered) {
      EXPECT_EQ(session.terminal().RestartCount(), restarts + 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(vterm::kDefaultRestartMs + 150));
      pad().SetHidLink(!session.serial());
      pad().SetPenTiming({.intervalMs = 15, .packetsPerMessage = 2, .startDelayMs = 0});
    }
    EXPECT_EQ(CaptureKnownStrokes(), expected);
    if (answered) {
      EXPECT_EQ(session.terminal().RestartCount(), restarts) << "captured before the restart";
      while (session.terminal().RestartCount() == restarts) std::this_thread::sleep_for(20ms);
      std::this_thread::sleep_for(std::chrono::milliseconds(vterm::kDefaultRestartMs + 150));
    }
  }
}

// A message that arrives while a command waits for or holds the link reaches the waiting
// entry, and the command still gets its own reply.
TEST_P(ReplyOwnership, EntryAnswerArrivingAroundACommandReachesTheEntry) {
  for (const int offsetMs : {30, 70}) {
    SCOPED_TRACE(offsetMs);
    pinpad_test::Hold(session);
    pinpad_test::Request request;
    auto entry = std::async(std::launch::async, [&] { return PIN_GetPINBlock(request.record); });
    ASSERT_TRUE(WaitFor(State().pinEntryActive, 1));
    char buffer[512];
    int length = 0;
    auto version =
        std::async(std::launch::async, [&] { return Brixa_GetVersion(buffer, &length); });
    std::this_thread::sleep_for(std::chrono::milliseconds(offsetMs));
    session.terminal().Push(vterm::AckFrame(Bytes{0x0A, 0x0B, 0x0C, 0x0D}));
    ASSERT_EQ(version.get(), VANTOREL_SUCCESS);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(length)), vterm::kDefaultVersion);
    ASSERT_EQ(entry.get(), VANTOREL_SUCCESS);
    EXPECT_EQ(Bytes(request.result.begin(), request.result.begin() + request.resultLength),
              (Bytes{0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_EQ(PIN_CancelPIN(), VANTOREL_SUCCESS);  // the held entry ends on the pad too
  }
}

// Reading that has ended leaves the PIN pad to a manual entry at once, also after the
// connection was closed and opened again while the reading loop still ran.
TEST_P(ReplyOwnership, EndedSecureReadingDoesNotRefuseAManualEntry) {
  cardreader_test::Deliveries::Instance().Register();
  struct Case {
    const char* what;
    std::function<void(support::Session&)> end;
  } const cases[] = {
      {"disable", [](support::Session&) { EXPECT_EQ(MSR_DisableSecureHead(), VANTOREL_SUCCESS); }},
      {"close and reopen",
       [](support::Session& s) {
         EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
         EXPECT_EQ(s.Open(), VANTOREL_SUCCESS);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int polls = cardreader_test::Reader(session).KeyPolls();
    cardreader_test::Reading reading;
    ASSERT_TRUE(cardreader_test::WaitForKeyPolls(session, polls + 1));
    c.end(session);
    ManualEntryRequest manual{};
    int resultLength = -1;
    std::array<unsigned char, 512> result{};
    manual.result = result.data();
    manual.resultLength = &resultLength;
    manual.mode = 0;
    manual.entryKind = 1;  // ends on the terminal's ACK
    cardreader_test::Reader(session).ScriptManualEntry(vterm::ManualEntryOutcome::Ack(100));
    EXPECT_EQ(MSR_ManualInputCardData(manual), VANTOREL_SUCCESS);
    EXPECT_EQ(resultLength, 0);
    EXPECT_EQ(reading.Result(), VANTOREL_SUCCESS);
  }
}

}  // namespace
