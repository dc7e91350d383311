// Manual card entry against the virtual terminal: both behaviours, refusals, the wait's end.
#include <gtest/gtest.h>

#include <array>
#include <future>
#include <string>
#include <vector>

#include "cardreader_test_support.h"
#include "link/link_state.h"

namespace {

using namespace cardreader_test;
using support::TransportTest;
using vterm::ManualEntryOutcome;

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

struct Request {
  ManualEntryRequest r{};
  std::array<unsigned char, 512> result{};
  int length = -7;
  std::vector<std::string> texts;

  Request(std::uint8_t mode, std::uint8_t kind) {
    result.fill(0xEE);
    r.result = result.data();
    r.resultLength = &length;
    r.mode = mode;
    r.entryKind = kind;
    r.upperBound = 19;
    r.lowerBound = 13;
    r.selector = 1;
    for (int i = 0; i < 16; ++i) r.optionBytes[i] = static_cast<unsigned char>(i);
    r.value1 = 0x0102;
    r.value2 = 0x0304;
    r.value3 = -1;
    r.value4 = 256;
    r.flagByte = 0x77;
    texts.reserve(10);
  }
  Request& Line(std::string text) {
    texts.push_back(std::move(text));
    PromptLine& line = r.promptLines[r.promptLineCount++];
    for (int i = 0; i < 13; ++i) line.attributes[i] = static_cast<unsigned char>(0x30 + i);
    line.x = 8;
    line.y = 100 + r.promptLineCount;
    line.text = texts.back().c_str();
    return *this;
  }
  Bytes Result() const { return Bytes(result.begin(), result.begin() + length); }
};

class ManualEntry : public TransportTest {
 protected:
  void SetUp() override { ASSERT_EQ(session.Open(), VANTOREL_SUCCESS); }
  vterm::CardReaderModule& reader() { return Reader(session); }
};
VANTOREL_ON_BOTH_TRANSPORTS(ManualEntry);

TEST_P(ManualEntry, AcknowledgedEntryEndsOnTheAck) {
  Request req(0, 2);
  req.Line("ENTER CARD NUMBER").Line("");
  EXPECT_EQ(MSR_ManualInputCardData(req.r), VANTOREL_SUCCESS);
  EXPECT_EQ(req.length, 0);
  EXPECT_EQ(req.result[0], 0xEE);
  EXPECT_EQ(vantorel::link::State().pinEntryActive.load(), 0);

  const Bytes command = session.OnlyCommand();
  ASSERT_EQ(command.size(), 3u + 32u + 21u + 17u + 21u);
  EXPECT_EQ(Bytes(command.begin(), command.begin() + 3), (Bytes{0x75, 0x46, 0x40}));
  const auto entry = reader().LastManualEntry();
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->mode, 0);
  EXPECT_EQ(entry->entryKind, 2);
  EXPECT_EQ(entry->upperBound, 19);
  EXPECT_EQ(entry->lowerBound, 13);
  EXPECT_EQ(entry->selector, 1);
  EXPECT_EQ(entry->values[0], 0x0102);
  EXPECT_EQ(entry->values[2], 0x00FF);  // -1 goes out as FF 00
  EXPECT_EQ(entry->values[3], 0x0100);
  EXPECT_EQ(entry->flagByte, 0x77);
  ASSERT_EQ(entry->lines.size(), 2u);
  EXPECT_EQ(entry->lines[0].text, "ENTER CARD NUMBER");
  EXPECT_EQ(entry->lines[1].y, 102);
}

TEST_P(ManualEntry, DataEntryReturnsTheWholeMessage) {
  Request req(1, 1);
  const Bytes keyed = Text("5413330089010434=2512");
  reader().ScriptManualEntry(ManualEntryOutcome::Data(keyed));
  EXPECT_EQ(MSR_ManualInputCardData(req.r), VANTOREL_SUCCESS);
  EXPECT_EQ(req.Result(), vterm::AckFrame(keyed)) << "STX to ETX, as received";
  EXPECT_EQ(req.result[req.length], 0xEE) << "no terminator";
  // No lines: a 32-byte body, framed over 35 bytes.
  EXPECT_EQ(session.Frames().at(0).size(), 35u + 6u);
}

TEST_P(ManualEntry, DataEntryWaitsPastShortAcksAndEndsOnLongMessagesWhateverTheirStatus) {
  Request req(0, 3);
  reader().ScriptManualEntry(ManualEntryOutcome::Silent());
  session.terminal().PushAfter(1000, vterm::AckFrame(Bytes{'1'}));  // 8 bytes: ignored
  Bytes odd = vterm::AckFrame(Text("ABCDE"));                       // 11 bytes...
  odd[3] = 0x07;                                                    // ...without ACK
  session.terminal().PushAfter(2200, odd);
  EXPECT_EQ(MSR_ManualInputCardData(req.r), VANTOREL_SUCCESS);
  EXPECT_EQ(req.Result(), odd);
}

TEST_P(ManualEntry, RefusalsReturnTheMappedStatus) {
  Request wait(1, 2);
  reader().ScriptManualEntry(ManualEntryOutcome::Refuse(0xE8));
  EXPECT_EQ(MSR_ManualInputCardData(wait.r), 104);
  EXPECT_EQ(wait.length, -7);
  EXPECT_EQ(vantorel::link::State().pinEntryActive.load(), 0);

  Request command(0, 1);
  reader().ScriptManualEntry(ManualEntryOutcome::RefuseCommand(0x0D));
  EXPECT_EQ(MSR_ManualInputCardData(command.r), 110);
  EXPECT_EQ(vantorel::link::State().pinEntryActive.load(), 0);

  // An acknowledged entry ends on a NAK too.
  Request ack(0, 1);
  reader().ScriptManualEntry(ManualEntryOutcome::Refuse(0x05));
  EXPECT_EQ(MSR_ManualInputCardData(ack.r), 109);
}

TEST_P(ManualEntry, CloseEndsTheWaitWithZero) {
  Request req(1, 3);
  reader().ScriptManualEntry(ManualEntryOutcome::Silent());
  auto call = std::async(std::launch::async, [&] { return MSR_ManualInputCardData(req.r); });
  ASSERT_TRUE(session.terminal().WaitForFrames(1, 5000ms));
  std::this_thread::sleep_for(800ms);  // into the wait
  EXPECT_EQ(vantorel::link::State().pinEntryActive.load(), 1);
  EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
  ASSERT_EQ(call.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(call.get(), VANTOREL_FAILURE);
  EXPECT_EQ(req.length, -7);
}

TEST_P(ManualEntry, BadArgumentsAreRefusedWithoutSending) {
  struct Case {
    const char* what;
    void (*change)(Request&);
  };
  const Case cases[] = {
      {"mode 2", [](Request& q) { q.r.mode = 2; }},
      {"kind 0", [](Request& q) { q.r.entryKind = 0; }},
      {"kind 4", [](Request& q) { q.r.entryKind = 4; }},
      {"upper below lower", [](Request& q) { q.r.upperBound = 12; }},
      {"selector 4", [](Request& q) { q.r.selector = 4; }},
      {"11 lines", [](Request& q) { q.r.promptLineCount = 11; }},
      {"null result", [](Request& q) { q.r.result = nullptr; }},
      {"null length", [](Request& q) { q.r.resultLength = nullptr; }},
      {"null text", [](Request& q) { q.r.promptLineCount = 1; }},
      {"text of 235", [](Request& q) { q.Line(std::string(235, 'x')); }},
      {"body over 512",
       [](Request& q) { q.Line(std::string(234, 'x')).Line(std::string(234, 'y')); }},
  };
  for (const Case& c : cases) {
    Request req(1, 1);
    c.change(req);
    EXPECT_EQ(MSR_ManualInputCardData(req.r), 99) << c.what;
  }
  EXPECT_TRUE(session.Commands().empty());
  EXPECT_EQ(vantorel::link::State().pinEntryActive.load(), 0);
}

TEST_P(ManualEntry, StateChecks) {
  Request req(1, 1);
  auto& state = vantorel::link::State();
  state.pinEntryActive = 1;
  EXPECT_EQ(MSR_ManualInputCardData(req.r), 202);
  state.pinEntryActive = 0;
  state.captureActive = 1;
  EXPECT_EQ(MSR_ManualInputCardData(req.r), 205);
  state.captureActive = 0;
  state.encryptedEntryActive = 1;  // not tested: the entry starts and ends it
  reader().ScriptManualEntry(ManualEntryOutcome::Ack(800));
  Request ack(0, 1);
  EXPECT_EQ(MSR_ManualInputCardData(ack.r), VANTOREL_SUCCESS);
  EXPECT_EQ(state.encryptedEntryActive.load(), 0);
  Brixa_Close();
  EXPECT_EQ(MSR_ManualInputCardData(req.r), VANTOREL_NOT_OPEN);
}

}  // namespace
