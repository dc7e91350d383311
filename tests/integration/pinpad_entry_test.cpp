// PIN block, card account and encrypted data entries and the cancel command against the
// virtual PIN pad, over serial and HID.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "integration/pinpad_test_support.h"
#include "link/link_state.h"

namespace {

using pinpad_test::Answer;
using pinpad_test::Bytes;
using pinpad_test::Concat;
using pinpad_test::EntryFields;
using pinpad_test::Hold;
using pinpad_test::Pad;
using pinpad_test::Request;
using support::TransportTest;

class PinEntryTest : public TransportTest {};
VANTOREL_ON_BOTH_TRANSPORTS(PinEntryTest);

using Entry = std::function<unsigned char(const PinEntryRequest&)>;
const Entry kPinBlock = [](const PinEntryRequest& r) { return PIN_GetPINBlock(r); };
const Entry kCardAccount = [](const PinEntryRequest& r) { return PIN_GetCardAccount(r); };
const Entry kEncrypted = [](const PinEntryRequest& r) { return PIN_GetEncryptedData(0x33, r); };

struct BadArgument {
  const char* what;
  const Entry* entry;
  std::function<void(Request&)> spoil;
};

const std::string kLong(235, 'L');
const std::string kWide(200, 'W');

// Every bound of every entry, and the pointers and sizes refused for safety: 99, nothing
// sent.
TEST_P(PinEntryTest, ArgumentsOutOfRangeAreRefusedBeforeSending) {
  const BadArgument cases[] = {
      {"mode '2'", &kPinBlock, [](Request& r) { r.record.mode = '2'; }},
      {"mode 0x01", &kPinBlock, [](Request& r) { r.record.mode = 0x01; }},
      {"upper 3", &kPinBlock, [](Request& r) { r.record.upperBound = 3; }},
      {"upper 13", &kPinBlock, [](Request& r) { r.record.upperBound = 13; }},
      {"lower 3", &kPinBlock, [](Request& r) { r.record.lowerBound = 3; }},
      {"lower 13", &kPinBlock,
       [](Request& r) { r.record.upperBound = 12, r.record.lowerBound = 13; }},
      {"upper < lower", &kPinBlock,
       [](Request& r) { r.record.upperBound = 5, r.record.lowerBound = 6; }},
      {"15 digits", &kPinBlock, [](Request& r) { r.record.accountNumber = "412345678901234"; }},
      {"17 digits", &kPinBlock, [](Request& r) { r.record.accountNumber = "41234567890123456"; }},
      {"letter", &kPinBlock, [](Request& r) { r.record.accountNumber = "412345678901234A"; }},
      {"null account", &kPinBlock, [](Request& r) { r.record.accountNumber = nullptr; }},
      {"selector 4", &kPinBlock, [](Request& r) { r.record.selector = 4; }},
      {"11 lines", &kPinBlock, [](Request& r) { r.record.promptLineCount = 11; }},
      {"count 0x1FF", &kPinBlock, [](Request& r) { r.record.promptLineCount = 0x1FF; }},
      {"null result", &kPinBlock, [](Request& r) { r.record.result = nullptr; }},
      {"null length", &kPinBlock, [](Request& r) { r.record.resultLength = nullptr; }},
      {"null text", &kPinBlock,
       [](Request& r) { r.Line("x").record.promptLines[0].text = nullptr; }},
      {"text 235", &kPinBlock, [](Request& r) { r.Line(kLong); }},
      {"body > 512", &kPinBlock, [](Request& r) { r.Line(kWide).Line(kWide).Line(kWide); }},
      {"upper 11", &kCardAccount, [](Request& r) { r.record.upperBound = 11; }},
      {"upper 21", &kCardAccount, [](Request& r) { r.record.upperBound = 21; }},
      {"lower 11", &kCardAccount, [](Request& r) { r.record.lowerBound = 11; }},
      {"lower 21", &kCardAccount,
       [](Request& r) { r.record.upperBound = 20, r.record.lowerBound = 21; }},
      {"upper < lower", &kCardAccount,
       [](Request& r) { r.record.upperBound = 13, r.record.lowerBound = 14; }},
      {"selector 4", &kCardAccount, [](Request& r) { r.record.selector = 4; }},
      {"11 lines", &kCardAccount, [](Request& r) { r.record.promptLineCount = 11; }},
      {"null result", &kCardAccount, [](Request& r) { r.record.result = nullptr; }},
      {"text 235", &kCardAccount, [](Request& r) { r.Line(kLong); }},
      {"upper 21", &kEncrypted, [](Request& r) { r.record.upperBound = 21; }},
      {"lower 21", &kEncrypted,
       [](Request& r) { r.record.upperBound = 20, r.record.lowerBound = 21; }},
      {"upper < lower", &kEncrypted,
       [](Request& r) { r.record.upperBound = 0, r.record.lowerBound = 1; }},
      {"selector 4", &kEncrypted, [](Request& r) { r.record.selector = 4; }},
      {"11 lines", &kEncrypted, [](Request& r) { r.record.promptLineCount = 11; }},
      {"null length", &kEncrypted, [](Request& r) { r.record.resultLength = nullptr; }},
      {"null text", &kEncrypted,
       [](Request& r) { r.Line("x").record.promptLines[0].text = nullptr; }},
  };
  ASSERT_EQ(session.Open(), 1);
  for (const auto& c : cases) {
    Request request(c.entry == &kPinBlock ? 8 : 16, c.entry == &kPinBlock ? 4 : 12);
    c.spoil(request);
    EXPECT_EQ((*c.entry)(request.record), 99) << c.what;
    EXPECT_EQ(request.resultLength, -7) << c.what;
  }
  EXPECT_TRUE(session.Commands().empty());
  EXPECT_EQ(vantorel::link::State().pinEntryActive.load(), 0);
  EXPECT_EQ(vantorel::link::State().encryptedEntryActive.load(), 0);
}

// Accepted edges go out: the terminal refuses the command itself, so the call returns at
// once with the mapped status and the bytes can be looked at.
TEST_P(PinEntryTest, BoundaryValuesAreSent) {
  struct Case {
    const char* what;
    const Entry* entry;
    std::uint8_t upper, lower;
    int count;
  } const cases[] = {
      {"pin 12/12", &kPinBlock, 12, 12, 0},         {"pin 4/4", &kPinBlock, 4, 4, 0},
      {"pin 0x100 lines", &kPinBlock, 8, 4, 0x100}, {"account 20/12", &kCardAccount, 20, 12, 0},
      {"account 12/12", &kCardAccount, 12, 12, 0},  {"encrypted 0/0", &kEncrypted, 0, 0, 0},
      {"encrypted 20/20", &kEncrypted, 20, 20, 0},
  };
  ASSERT_EQ(session.Open(), 1);
  for (const auto& c : cases) {
    Request request(c.upper, c.lower);
    request.record.promptLineCount = c.count;
    session.Clear();
    session.terminal().RefuseNext(1, 0xE8);
    EXPECT_EQ((*c.entry)(request.record), 104) << c.what;
    const Bytes sent = session.OnlyCommand();
    ASSERT_GE(sent.size(), 5u) << c.what;
    const std::size_t bounds = c.entry == &kCardAccount ? 3 : 4;
    EXPECT_EQ(sent[bounds], c.upper) << c.what;
    EXPECT_EQ(sent[bounds + 1], c.lower) << c.what;
  }
  EXPECT_EQ(vantorel::link::State().pinEntryActive.load(), 0);
}

TEST_P(PinEntryTest, StateChecksComeFirstAndInOrder) {
  Request request;
  EXPECT_EQ(PIN_GetPINBlock(request.record), 201);
  EXPECT_EQ(PIN_GetCardAccount(request.record), 201);
  EXPECT_EQ(PIN_GetEncryptedData(0, request.record), 201);
  EXPECT_EQ(PIN_CancelPIN(), 201);
  ASSERT_EQ(session.Open(), 1);
  auto& state = vantorel::link::State();
  request.record.mode = 'x';  // the flags are tested before the arguments
  state.pinEntryActive = 1;
  state.secureHeadActive = 1;
  state.captureActive = 1;
  state.encryptedEntryActive = 1;
  EXPECT_EQ(PIN_GetPINBlock(request.record), 202);
  EXPECT_EQ(PIN_GetCardAccount(request.record), 202);
  EXPECT_EQ(PIN_GetEncryptedData(0, request.record), 204);  // never 202
  state.pinEntryActive = 0;
  EXPECT_EQ(PIN_GetPINBlock(request.record), 204);
  state.secureHeadActive = 0;
  EXPECT_EQ(PIN_GetPINBlock(request.record), 205);
  EXPECT_EQ(PIN_GetEncryptedData(0, request.record), 205);
  state.captureActive = 0;
  // encryptedEntryActive is not tested by any entry.
  EXPECT_EQ(PIN_GetPINBlock(request.record), 99);
  state.encryptedEntryActive = 0;
  EXPECT_TRUE(session.Commands().empty());
}

TEST_P(PinEntryTest, PinBlockWithoutAccountOrLines) {
  ASSERT_EQ(session.Open(), 1);
  Answer(session, Bytes{'9', '8', 0x00, 0xFF});
  Request request;
  EXPECT_EQ(PIN_GetPINBlock(request.record), 1);
  const Bytes expected = Concat({0x75, 0x46, 0x07, '1', 8, 4, 0}, EntryFields(request.record));
  EXPECT_EQ(session.OnlyCommand(), expected);
  EXPECT_EQ(expected.size(), 35u);
  EXPECT_EQ(session.Frames().front().size(), 41u);
  EXPECT_EQ(request.resultLength, 4);
  EXPECT_EQ(Bytes(request.result.begin(), request.result.begin() + 6),
            (Bytes{'9', '8', 0x00, 0xFF, 0x00, 0xEE}));
  EXPECT_EQ(vantorel::link::State().pinEntryActive.load(), 0);
  EXPECT_EQ(vantorel::link::State().linkBusy.load(), 0);
}

TEST_P(PinEntryTest, PinBlockWithAccountNumberAndLines) {
  ASSERT_EQ(session.Open(), 1);
  Request request;
  request.record.mode = '0';
  request.record.accountNumber = "4761739001010119";
  request.Line("Enter PIN", 300, 239).Line("").Line("Amount 12.50", -1, 65536);
  EXPECT_EQ(PIN_GetPINBlock(request.record), 1);
  Bytes header{0x75, 0x46, 0x07, '0', 8, 4, 1};
  const std::string account = "4761739001010119";
  header.insert(header.end(), account.begin(), account.end());
  EXPECT_EQ(session.OnlyCommand(), Concat(header, EntryFields(request.record)));
  // The encoded lines, as the pad decoded them.
  const auto entry = Pad(session).LastEntry();
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->accountNumber, account);
  ASSERT_EQ(entry->lines.size(), 3u);
  EXPECT_EQ(entry->lines[0].text, "Enter PIN");
  EXPECT_EQ(entry->lines[0].x, 300);
  EXPECT_EQ(entry->lines[1].text, "");
  EXPECT_EQ(entry->lines[2].x, 0x00FF);  // -1: FF 00
  EXPECT_EQ(entry->lines[2].y, 0);       // 65536: 00 00
  // The pad's default PIN block, with the terminating zero.
  EXPECT_EQ(request.resultLength, 16);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(request.result.data())), "5A1F3C9E07B2D846");
}

// During the wait: 7-10 byte ACK messages without 0x15 after the ACK are ignored, the
// first ACK message of more than 10 bytes ends the entry.
TEST_P(PinEntryTest, ShortAckMessagesAreIgnoredDuringTheWait) {
  ASSERT_EQ(session.Open(), 1);
  Hold(session);
  session.terminal().PushAfter(900, vterm::AckFrame(Bytes{1, 2, 3}));      // 10 bytes
  session.terminal().PushAfter(1500, vterm::AckFrame(Bytes{4, 5, 6, 7}));  // 11 bytes
  Request request;
  EXPECT_EQ(PIN_GetPINBlock(request.record), 1);
  EXPECT_EQ(request.resultLength, 4);
  EXPECT_EQ(Bytes(request.result.begin(), request.result.begin() + 5), (Bytes{4, 5, 6, 7, 0}));
}

TEST_P(PinEntryTest, RefusalsDuringTheWait) {
  struct Case {
    const char* what;
    Bytes message;
    unsigned char expected;
  } const cases[] = {
      {"NAK 18", {0x02, 0x02, 0x00, 0x15, 0x18, 0x0D, 0x2D, 0x03}, 105},
      {"ACK then 15", vterm::AckFrame(Bytes{0x15}), 0},
      {"ACK then 15, 7 bytes", {0x02, 0x01, 0x00, 0x06, 0x15, 0x06, 0x03}, 0},
      {"NAK E1", vterm::NakFrame(0xE1), 99},
  };
  ASSERT_EQ(session.Open(), 1);
  for (const auto& c : cases) {
    Hold(session);
    session.terminal().PushAfter(900, c.message);
    Request request(16, 12);
    EXPECT_EQ(PIN_GetCardAccount(request.record), c.expected) << c.what;
    EXPECT_EQ(request.resultLength, -7) << c.what;
    EXPECT_EQ(vantorel::link::State().pinEntryActive.load(), 0) << c.what;
  }
}

TEST_P(PinEntryTest, RefusedOrUnansweredCommandChangesNoFlag) {
  ASSERT_EQ(session.Open(), 1);
  auto& state = vantorel::link::State();
  state.encryptedEntryActive = 1;  // would be cleared by a wait that started
  session.terminal().RefuseNext(1, 0x81);
  Request request;
  EXPECT_EQ(PIN_GetPINBlock(request.record), 103);
  session.terminal().SilenceNext(1);
  EXPECT_EQ(PIN_GetPINBlock(request.record), 0);
  EXPECT_EQ(state.encryptedEntryActive.load(), 1);
  EXPECT_EQ(state.pinEntryActive.load(), 0);
  EXPECT_EQ(request.resultLength, -7);
  state.encryptedEntryActive = 0;
}

TEST_P(PinEntryTest, CardAccountCopiesTheDataAfterItsFirstTwoBytes) {
  ASSERT_EQ(session.Open(), 1);
  const Bytes data{0xA1, 0xA2, '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '1'};
  Answer(session, data);  // a 20-byte message
  Request request(20, 12);
  request.Line("Account?");
  EXPECT_EQ(PIN_GetCardAccount(request.record), 1);
  const Bytes body = EntryFields(request.record);
  EXPECT_EQ(session.OnlyCommand(), Concat({0x75, 0x46, 0x24, 20, 12}, body));
  EXPECT_EQ(body.size() + 2, 30u + 21u + 8u);  // a 30-byte header, then the line
  EXPECT_EQ(request.resultLength, 11);
  EXPECT_EQ(Bytes(request.result.begin(), request.result.begin() + 12),
            Concat(Bytes(data.begin() + 2, data.end()), {0xEE}));  // no terminator
}

TEST_P(PinEntryTest, EncryptedDataSendsItsModeAndCopiesLikeTheAccount) {
  ASSERT_EQ(session.Open(), 1);
  Answer(session, pinpad_test::Bytes{0x00, 0x04, 0xDE, 0xAD, 0xBE, 0xEF});
  Request request(0, 0);
  EXPECT_EQ(PIN_GetEncryptedData(0xC3, request.record), 1);
  const Bytes sent = session.OnlyCommand();
  EXPECT_EQ(sent, Concat({0x75, 0x46, 0x25, 0xC3, 0, 0}, EntryFields(request.record)));
  EXPECT_EQ(sent.size(), 3u + 31u);
  EXPECT_EQ(request.resultLength, 4);
  EXPECT_EQ(Bytes(request.result.begin(), request.result.begin() + 5),
            (Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0xEE}));
  EXPECT_EQ(vantorel::link::State().encryptedEntryActive.load(), 0);
}

TEST_P(PinEntryTest, CancelIsSentAndNothingIsRead) {
  ASSERT_EQ(session.Open(), 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(PIN_CancelPIN(), 1);
  // The 100 ms wait and the write; over serial no 300 ms wait and no read.
  EXPECT_LT(support::ElapsedMs(start), 280);
  ASSERT_TRUE(session.terminal().WaitForFrames(1, std::chrono::milliseconds(1000)));
  EXPECT_EQ(session.Frames().front(),
            (Bytes{0x02, 0x03, 0x00, 0x75, 0x46, 0x09, 0x3A, 0xC4, 0x03}));
  EXPECT_EQ(Pad(session).CancelCount(), 1);
}

}  // namespace
