// Fault table, a reply that comes after its command gave up, over both transports. The
// version query is answered late; the next call (an ordinary command, or the start of a
// long-running export) runs while the stale reply arrives, during its wait or its read.
// The stale reply belongs to nobody: it is never the next command's result or
// acknowledgement, and never reaches a point, card-data or entry result.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "cardreader_test_support.h"
#include "fault_table_support.h"
#include "link/link_state.h"
#include "pinpad_test_support.h"
#include "signpad_test_support.h"
#include "vterm/frame_codec.h"

// The table drives the virtual terminal's own front ends (split reports, unplugging);
// the VM's kernel HID device has neither.
#ifndef VANTOREL_TEST_UHID

namespace {

using namespace fault_table;
using support::Transport;

enum class Next {
  kSerialNumber,
  kSerialNumberSilent,
  kSetterSilent,
  kCapture,
  kCaptureSilent,
  kSecureReading,
  kSecureReadingSilent,
  kManualEntry,
  kManualEntrySilent,
  kPinBlock,
  kPinBlockSilent,
  kCardAccount,
  kCardAccountSilent,
  kEncryptedData,
  kEncryptedDataSilent,
};

struct LateRow {
  const char* name;
  Next next;
  int lateMs;  // how late the version query's reply leaves, after the query arrived
};

// The version query gives up after kSilent; a reply this late arrives while the next
// call waits between its write and its read (serial) or reads (HID) ...
constexpr int kDuringWait = 700;
// ... or while the next call's serial read runs.
constexpr int kDuringRead = 950;

const LateRow kRows[] = {
    {"SerialNumberWhileItWaits", Next::kSerialNumber, kDuringWait},
    {"SerialNumberWhileItReads", Next::kSerialNumber, kDuringRead},
    {"SilentSerialNumberWhileItWaits", Next::kSerialNumberSilent, kDuringWait},
    {"SilentSerialNumberWhileItReads", Next::kSerialNumberSilent, kDuringRead},
    {"SilentSetterWhileItReads", Next::kSetterSilent, kDuringRead},
    {"CaptureStartWhileItWaits", Next::kCapture, kDuringWait},
    {"CaptureStartWhileItReads", Next::kCapture, kDuringRead},
    {"SilentCaptureStart", Next::kCaptureSilent, kDuringRead},
    {"SecureReadingStart", Next::kSecureReading, kDuringRead},
    {"SilentSecureReadingStart", Next::kSecureReadingSilent, kDuringRead},
    {"ManualEntryStart", Next::kManualEntry, kDuringRead},
    {"SilentManualEntryStart", Next::kManualEntrySilent, kDuringRead},
    {"PinBlockStartWhileItWaits", Next::kPinBlock, kDuringWait},
    {"PinBlockStartWhileItReads", Next::kPinBlock, kDuringRead},
    {"SilentPinBlockStart", Next::kPinBlockSilent, kDuringRead},
    {"CardAccountStart", Next::kCardAccount, kDuringRead},
    {"SilentCardAccountStart", Next::kCardAccountSilent, kDuringRead},
    {"EncryptedDataStart", Next::kEncryptedData, kDuringRead},
    {"SilentEncryptedDataStart", Next::kEncryptedDataSilent, kDuringRead},
};

void PrintTo(const LateRow& row, std::ostream* os) {
  *os << row.name;
}

// The entry's answer, recognisable and unlike the version text.
const Bytes kEntryData{'4', '7', '1', '1', 0x00, 0xFF, '0', '8', '1', '5'};
constexpr int kEntryAnswerMs = 300;
// An answering terminal's next call ends well within this.
constexpr long kAnsweredWithin = 3000;
// A silent start that has not returned by then took something for its acknowledgement.
constexpr long kStuck = 2500;

class FaultLate : public ::testing::TestWithParam<std::tuple<Transport, support::Timing, LateRow>> {
 protected:
  support::Session session{std::get<0>(GetParam()), std::get<1>(GetParam())};
  const LateRow& row() const { return std::get<2>(GetParam()); }

  // When the stale reply arrives, in milliseconds after the next call started.
  long arrival = 0;

  // The silent next call: its own wait, stretched at most by the stale bytes that
  // arrive inside it and are read and thrown away. Under the prompt profile the call writes
  // at once, so it first waits for the stale reply, then its whole own wait.
  void ExpectSilentTime(long elapsed, Span silent) {
    const long own = Expected(session, silent);
    const long tail = session.serial() ? kSerialGap + kSerialSilence : kHidReportWait;
    const long upper =
        session.prompt() ? std::max(arrival, 0L) + own : std::max(own, arrival + tail);
    EXPECT_GE(elapsed, own - kEarly) << "returned before its own wait ended";
    EXPECT_LE(elapsed, upper + kLate) << "waited longer than the protocol allows";
  }

  void RunNext();
};

// Manual entry's request: one line, a data entry.
struct ManualRequest {
  ManualEntryRequest r{};
  std::array<unsigned char, 512> result{};
  int length = -7;
  ManualRequest() {
    result.fill(0xEE);
    r.result = result.data();
    r.resultLength = &length;
    r.mode = 1;
    r.entryKind = 1;
    r.upperBound = 19;
    r.lowerBound = 13;
    r.selector = 1;
    r.promptLineCount = 1;
    r.promptLines[0].text = "CARD NUMBER";
  }
};

void ExpectEntryUntouched(const unsigned char* result, int length) {
  EXPECT_EQ(length, -7) << "no result length";
  EXPECT_TRUE(std::all_of(result, result + 512, [](unsigned char b) { return b == 0xEE; }))
      << "nothing written to the result";
}

void FaultLate::RunNext() {
  const bool silent =
      row().next == Next::kSerialNumberSilent || row().next == Next::kSetterSilent ||
      row().next == Next::kCaptureSilent || row().next == Next::kSecureReadingSilent ||
      row().next == Next::kManualEntrySilent || row().next == Next::kPinBlockSilent ||
      row().next == Next::kCardAccountSilent || row().next == Next::kEncryptedDataSilent;
  if (silent) session.terminal().SilenceNext(1);
  const auto start = Clock::now();

  switch (row().next) {
    case Next::kSerialNumber: {
      Output out;
      EXPECT_EQ(Brixa_GetSerialNumber(out.buffer.data(), &out.length), VANTOREL_SUCCESS);
      EXPECT_EQ(out.Text(), kSerial) << "its own reply, not the stale one, nor both";
      EXPECT_TRUE(out.NothingBeyond());
      EXPECT_LE(ElapsedMs(start), kAnsweredWithin);
      break;
    }
    case Next::kSerialNumberSilent: {
      Output out;
      EXPECT_EQ(Brixa_GetSerialNumber(out.buffer.data(), &out.length), VANTOREL_FAILURE)
          << "the stale version reply is not the serial number";
      EXPECT_TRUE(out.Untouched());
      ExpectSilentTime(ElapsedMs(start), kSilent);
      break;
    }
    case Next::kSetterSilent: {
      EXPECT_EQ(Brixa_ControlAudio(2), VANTOREL_FAILURE) << "a stale ACK acknowledges nothing";
      ExpectSilentTime(ElapsedMs(start), kSilent);
      break;
    }
    case Next::kCapture: {
      signpad_test::Recorder recorder;
      recorder.Register();
      auto& pad = session.terminal().Get<vterm::SignpadModule>();
      pad.SetHidLink(!session.serial());
      pad.SetPenTiming({.intervalMs = 15, .packetsPerMessage = 2, .startDelayMs = 0});
      signpad_test::Capture capture(1);
      ASSERT_TRUE(signpad_test::Capture::WaitRunning());
      EXPECT_LE(ElapsedMs(start), kAnsweredWithin);
      const auto strokes = signpad_test::KnownStrokes();
      pad.Write(strokes);
      const auto expected = signpad_test::Expected(strokes);
      EXPECT_TRUE(recorder.WaitForPoints(expected.size(), 4s));
      EXPECT_TRUE(WaitUntil([&] { return pad.PendingPackets() == 0; }));
      std::this_thread::sleep_for(150ms);  // a batch still in the loop
      EXPECT_EQ(Zelto_ExitCapture(), VANTOREL_SUCCESS);
      EXPECT_EQ(capture.Finish(), std::optional<int>(VANTOREL_SUCCESS));
      EXPECT_EQ(recorder.Points(), expected) << "every pen point, and nothing stale";
      EXPECT_TRUE(recorder.Events().empty());
      break;
    }
    case Next::kCaptureSilent: {
      signpad_test::Recorder recorder;
      recorder.Register();
      EXPECT_EQ(Bounded([] { return Zelto_StartCapture(1, 1, 2, 3, 4, 5, 6, 7); }, kStuck),
                std::optional<unsigned char>(VANTOREL_FAILURE))
          << "the stale reply does not acknowledge the start";
      ExpectSilentTime(ElapsedMs(start), kSilentStart);
      EXPECT_EQ(vantorel::link::State().captureActive.load(), 0);
      EXPECT_TRUE(recorder.Calls().empty());
      break;
    }
    case Next::kSecureReading: {
      auto& deliveries = cardreader_test::Deliveries::Instance();
      deliveries.Register();
      auto& reader = cardreader_test::Reader(session);
      const Bytes swipe =
          vterm::CardReaderModule::TrackText({"%B4761739001010119^FAULT/TABLE^2512101?"});
      {
        cardreader_test::Reading reading;
        ASSERT_TRUE(cardreader_test::WaitForKeyPolls(session, 1));
        EXPECT_LE(ElapsedMs(start), kAnsweredWithin);
        reader.Swipe(swipe, vterm::Via::kUnsolicited);
        EXPECT_TRUE(deliveries.WaitFor(1));
        ASSERT_TRUE(cardreader_test::WaitForKeyPolls(session, reader.KeyPolls() + 2));
        EXPECT_EQ(MSR_DisableSecureHead(), VANTOREL_SUCCESS);
        EXPECT_EQ(reading.Result(), std::optional<unsigned char>(VANTOREL_SUCCESS));
      }
      Bytes rewritten = swipe;
      std::replace(rewritten.begin(), rewritten.end(), std::uint8_t{'\n'}, std::uint8_t{'\r'});
      EXPECT_EQ(deliveries.Received(), std::vector<Bytes>{rewritten})
          << "the swipe, and no stale reply as card data";
      break;
    }
    case Next::kSecureReadingSilent: {
      auto& deliveries = cardreader_test::Deliveries::Instance();
      deliveries.Register();
      EXPECT_EQ(Bounded([] { return MSR_EnableSecureHead(); }, kStuck),
                std::optional<unsigned char>(VANTOREL_FAILURE))
          << "the stale reply does not acknowledge the switch-on";
      ExpectSilentTime(ElapsedMs(start), kSilentStart);
      EXPECT_EQ(vantorel::link::State().secureHeadActive.load(), 0);
      std::this_thread::sleep_for(200ms);
      EXPECT_TRUE(deliveries.Received().empty());
      break;
    }
    case Next::kManualEntry: {
      ManualRequest request;
      cardreader_test::Reader(session).ScriptManualEntry(
          vterm::ManualEntryOutcome::Data(kEntryData));
      EXPECT_EQ(Bounded([&] { return MSR_ManualInputCardData(request.r); }, kAnsweredWithin),
                std::optional<unsigned char>(VANTOREL_SUCCESS));
      EXPECT_LE(ElapsedMs(start), kAnsweredWithin);
      const Bytes message = vterm::AckFrame(kEntryData);
      ASSERT_EQ(request.length, static_cast<int>(message.size()));
      EXPECT_EQ(Bytes(request.result.begin(), request.result.begin() + request.length), message)
          << "the entry's own message";
      break;
    }
    case Next::kManualEntrySilent: {
      ManualRequest request;
      EXPECT_EQ(Bounded([&] { return MSR_ManualInputCardData(request.r); }, kStuck),
                std::optional<unsigned char>(VANTOREL_FAILURE));
      ExpectSilentTime(ElapsedMs(start), kSilentStart);
      ExpectEntryUntouched(request.result.data(), request.length);
      EXPECT_EQ(vantorel::link::State().pinEntryActive.load(), 0);
      break;
    }
    case Next::kPinBlock:
    case Next::kCardAccount:
    case Next::kEncryptedData: {
      pinpad_test::Answer(session, kEntryData, kEntryAnswerMs);
      const bool pin = row().next == Next::kPinBlock;
      pinpad_test::Request request(pin ? 8 : 14, pin ? 4 : 12);
      const auto rc = Bounded(
          [&] {
            return pin                                ? PIN_GetPINBlock(request.record)
                   : row().next == Next::kCardAccount ? PIN_GetCardAccount(request.record)
                                                      : PIN_GetEncryptedData(0x31, request.record);
          },
          kAnsweredWithin);
      // The PIN block is the data with a zero after it; the other two drop two bytes.
      Bytes expected(kEntryData.begin() + (pin ? 0 : 2), kEntryData.end());
      if (pin) expected.push_back(0);
      EXPECT_EQ(rc, std::optional<unsigned char>(VANTOREL_SUCCESS));
      EXPECT_LE(ElapsedMs(start), kAnsweredWithin);
      const int dataLength = static_cast<int>(kEntryData.size()) - (pin ? 0 : 2);
      EXPECT_EQ(request.resultLength, dataLength) << "the entry's own result";
      EXPECT_EQ(Bytes(request.result.begin(), request.result.begin() + expected.size()), expected);
      break;
    }
    case Next::kPinBlockSilent:
    case Next::kCardAccountSilent:
    case Next::kEncryptedDataSilent: {
      const bool pin = row().next == Next::kPinBlockSilent;
      pinpad_test::Request request(pin ? 8 : 14, pin ? 4 : 12);
      const auto rc = Bounded(
          [&] {
            return pin ? PIN_GetPINBlock(request.record)
                   : row().next == Next::kCardAccountSilent
                       ? PIN_GetCardAccount(request.record)
                       : PIN_GetEncryptedData(0x31, request.record);
          },
          kStuck);
      EXPECT_EQ(rc, std::optional<unsigned char>(VANTOREL_FAILURE))
          << "the stale reply does not acknowledge the entry";
      ExpectSilentTime(ElapsedMs(start), kSilentStart);
      EXPECT_EQ(request.resultLength, -7);
      EXPECT_TRUE(std::all_of(request.result.begin(), request.result.end(),
                              [](unsigned char b) { return b == 0xEE; }));
      EXPECT_EQ(vantorel::link::State().pinEntryActive.load(), 0);
      EXPECT_EQ(vantorel::link::State().encryptedEntryActive.load(), 0);
      break;
    }
  }
}

TEST_P(FaultLate, StaleReplyBelongsToNobody) {
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  session.terminal().DelayNext(1, row().lateMs);
  Output out;
  const auto start = Clock::now();
  EXPECT_EQ(Brixa_GetVersion(out.buffer.data(), &out.length), VANTOREL_FAILURE);
  const long gaveUp = ElapsedMs(start);
  ExpectTime(gaveUp, Expected(session, kSilent), "the late query");
  EXPECT_TRUE(out.Untouched());
  arrival = (session.prompt() ? 0 : kCommandWait) + row().lateMs - gaveUp;
  RunNext();
  if (vantorel::link::State().linkOpen.load() == 0) {
    ADD_FAILURE() << "the next call had to be ended with Brixa_Close";
    ASSERT_EQ(OpenAgain(session), VANTOREL_SUCCESS);
  }
  // The stale reply did leave the terminal: the row tested what it meant to.
  bool staleSent = false;
  for (const auto& m : session.terminal().Sent()) {
    staleSent |= m.bytes == vterm::AckFrame(Bytes(kVersion.begin(), kVersion.end()));
  }
  EXPECT_TRUE(staleSent);
  ExpectOwnSerialNumber("afterwards");
}

INSTANTIATE_TEST_SUITE_P(, FaultLate,
                         ::testing::Combine(kTransports, kTimings, ::testing::ValuesIn(kRows)),
                         RowName<LateRow>);

// A command from another thread while a loop runs, its reply late: the stale reply reaches
// neither the point handler, nor the card-data handler, nor the entry's result, while what
// the terminal sends afterwards by itself reaches them complete and in order.
enum class Loop { kCapture, kSecureReading, kPinEntry };

struct LoopRow {
  const char* name;
  Loop loop;
};

void PrintTo(const LoopRow& row, std::ostream* os) {
  *os << row.name;
}

const LoopRow kLoopRows[] = {
    {"DuringACapture", Loop::kCapture},
    {"DuringSecureReading", Loop::kSecureReading},
    {"DuringAPinEntry", Loop::kPinEntry},
};

class FaultLateInLoop
    : public ::testing::TestWithParam<std::tuple<Transport, support::Timing, LoopRow>> {
 protected:
  support::Session session{std::get<0>(GetParam()), std::get<1>(GetParam())};

  // The serial number query from this thread, answered after it gave up.
  void LateCommand() {
    vterm::Misbehaviour late;
    late.fault = vterm::Fault::kLate;
    late.delayMs = kDuringRead;
    late.only = vterm::CommandKey{0x78, 0x46, 0x02};
    session.terminal().Misbehave(late);
    Output out;
    EXPECT_EQ(Brixa_GetSerialNumber(out.buffer.data(), &out.length), VANTOREL_FAILURE);
    EXPECT_TRUE(out.Untouched());
    // The stale reply arrives while the loop reads again.
    ASSERT_TRUE(WaitUntil(
        [&] {
          for (const auto& m : session.terminal().Sent()) {
            if (m.bytes == vterm::AckFrame(Bytes(kSerial.begin(), kSerial.end()))) return true;
          }
          return false;
        },
        3s));
    std::this_thread::sleep_for(300ms);
  }
};

TEST_P(FaultLateInLoop, StaleReplyNeverReachesTheLoop) {
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  switch (std::get<2>(GetParam()).loop) {
    case Loop::kCapture: {
      signpad_test::Recorder recorder;
      recorder.Register();
      auto& pad = session.terminal().Get<vterm::SignpadModule>();
      pad.SetHidLink(!session.serial());
      pad.SetPenTiming({.intervalMs = 15, .packetsPerMessage = 2, .startDelayMs = 0});
      signpad_test::Capture capture(1);
      ASSERT_TRUE(signpad_test::Capture::WaitRunning());
      LateCommand();
      const auto strokes = signpad_test::KnownStrokes();
      pad.Write(strokes);
      const auto expected = signpad_test::Expected(strokes);
      EXPECT_TRUE(recorder.WaitForPoints(expected.size(), 4s));
      EXPECT_TRUE(WaitUntil([&] { return pad.PendingPackets() == 0; }));
      std::this_thread::sleep_for(150ms);
      EXPECT_EQ(Zelto_ExitCapture(), VANTOREL_SUCCESS);
      EXPECT_EQ(capture.Finish(), std::optional<int>(VANTOREL_SUCCESS));
      EXPECT_EQ(recorder.Points(), expected) << "every pen point, and nothing stale";
      EXPECT_TRUE(recorder.Events().empty());
      break;
    }
    case Loop::kSecureReading: {
      auto& deliveries = cardreader_test::Deliveries::Instance();
      deliveries.Register();
      auto& reader = cardreader_test::Reader(session);
      // The stale reply is as long as card data: it is told from card data only by what
      // follows it within the late-reply window (the swipe here). A frame that nothing follows
      // within the window is the loop's (Scenario.Holds/Defect10...).
      reader.SetUnsolicitedDelay(50);
      const Bytes swipe = vterm::CardReaderModule::TrackText({";4761739001010119=2512101?"});
      cardreader_test::Reading reading;
      ASSERT_TRUE(cardreader_test::WaitForKeyPolls(session, 1));
      LateCommand();
      reader.Swipe(swipe, vterm::Via::kUnsolicited);
      EXPECT_TRUE(deliveries.WaitFor(1));
      ASSERT_TRUE(cardreader_test::WaitForKeyPolls(session, reader.KeyPolls() + 2));
      EXPECT_EQ(MSR_DisableSecureHead(), VANTOREL_SUCCESS);
      EXPECT_EQ(reading.Result(), std::optional<unsigned char>(VANTOREL_SUCCESS));
      Bytes rewritten = swipe;
      std::replace(rewritten.begin(), rewritten.end(), std::uint8_t{'\n'}, std::uint8_t{'\r'});
      EXPECT_EQ(deliveries.Received(), std::vector<Bytes>{rewritten})
          << "the swipe, and no stale reply as card data";
      break;
    }
    case Loop::kPinEntry: {
      pinpad_test::Hold(session);
      pinpad_test::Request request;
      auto entry = std::async(std::launch::async, [&] { return PIN_GetPINBlock(request.record); });
      ASSERT_TRUE(WaitUntil([] { return vantorel::link::State().pinEntryActive.load() != 0; }));
      LateCommand();
      session.terminal().Push(vterm::AckFrame(kEntryData));
      ASSERT_EQ(entry.wait_for(3s), std::future_status::ready);
      EXPECT_EQ(entry.get(), VANTOREL_SUCCESS);
      EXPECT_EQ(request.resultLength, static_cast<int>(kEntryData.size()))
          << "the entry's own result, not the stale reply";
      EXPECT_EQ(Bytes(request.result.begin(), request.result.begin() + kEntryData.size()),
                kEntryData);
      break;
    }
  }
  ExpectOwnSerialNumber("afterwards");
}

INSTANTIATE_TEST_SUITE_P(
    , FaultLateInLoop, ::testing::Combine(kTransports, kTimings, ::testing::ValuesIn(kLoopRows)),
    [](const ::testing::TestParamInfo<std::tuple<Transport, support::Timing, LoopRow>>& info) {
      return std::string(std::get<2>(info.param).name) + "_" +
             support::TransportLabel(std::get<0>(info.param)) +
             support::TimingSuffix(std::get<1>(info.param));
    });

}  // namespace

#endif  // VANTOREL_TEST_UHID
