// Entries answered by a person at the pad (the browser view): the keys build the answer, a
// keyed answer never leaves before a serial host has finished reading the command's reply,
// and the PIN block holds exactly the digits keyed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "vterm/card_reader.h"
#include "vterm/frame_codec.h"
#include "vterm/modules.h"
#include "vterm/pin_pad.h"

namespace {

using namespace std::chrono_literals;
using vterm::Bytes;

// 75 46 07, mode, bounds, the account, then selector, 16 option bytes, four words, flag,
// no lines, 00 (all zero). Sized first, then filled: g++ 12 misreads inserts behind a
// braced-initialised vector (-Warray-bounds).
Bytes PinEntryCommand(std::uint8_t upper, std::uint8_t lower, const std::string& account) {
  Bytes c(7 + account.size() + 28, 0);
  const std::uint8_t head[] = {
      0x75, 0x46, 0x07, '1', upper, lower, static_cast<std::uint8_t>(account.empty() ? 0 : 1)};
  std::copy(std::begin(head), std::end(head), c.begin());
  std::copy(account.begin(), account.end(), c.begin() + 7);
  return c;
}

class KeyedEntry : public ::testing::Test {
 protected:
  KeyedEntry() {
    vterm::InstallAllModules(terminal);
    pinPad().SetKeyedEntries(true);
    reader().SetKeyedManualEntry(true);
  }
  vterm::PinPadModule& pinPad() { return terminal.Get<vterm::PinPadModule>(); }
  vterm::CardReaderModule& reader() { return terminal.Get<vterm::CardReaderModule>(); }
  void Send(const Bytes& content) {
    terminal.ClearSent();
    terminal.Receive(vterm::HostFrame(content));
    accepted = std::chrono::steady_clock::now();
  }
  // The message that ended the entry, and how long after the command it left.
  std::pair<Bytes, long> Answer() {
    if (!terminal.WaitForSent(2, 3s)) return {};
    const auto sent = terminal.Sent();
    return {
        sent[1].bytes,
        static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(sent[1].at - accepted).count())};
  }

  vterm::Terminal terminal;
  std::chrono::steady_clock::time_point accepted;
};

TEST_F(KeyedEntry, KeysBuildThePinBlock) {
  struct Case {
    std::string keys;  // 'E' last
    std::string account;
    std::string digits;  // what the block must hold; empty: the entry is cancelled
  };
  const std::vector<Case> cases = {
      {"1234E", "4761739001010119", "1234"},
      {"12E34E", "", "1234"},                      // Enter below the lower bound does nothing
      {"1234567E", "4761739001010119", "123456"},  // past the upper bound: ignored
      {"19BB2X5678E", "5413330089010608", "5678"},
      {"12C", "4761739001010119", ""},
  };
  for (const Case& c : cases) {
    Send(PinEntryCommand(6, 4, c.account));
    ASSERT_TRUE(pinPad().KeyedEntryPending()) << c.keys;
    for (char k : c.keys) pinPad().Key(k);
    EXPECT_FALSE(pinPad().KeyedEntryPending()) << c.keys;
    EXPECT_EQ(pinPad().KeyedDigitCount(), 0u) << c.keys;
    const auto [answer, afterMs] = Answer();
    ASSERT_FALSE(answer.empty()) << c.keys;
    // Keyed at once, answered no earlier than a serial host's reply read allows.
    EXPECT_GE(afterMs, vterm::kDefaultEntryDelayMs - 50) << c.keys;
    if (c.digits.empty()) {
      EXPECT_EQ(answer, vterm::NakFrame(vterm::kStatusEntryCancelled)) << c.keys;
      continue;
    }
    ASSERT_EQ(answer.size(), 23u) << c.keys;
    const std::string block(answer.begin() + 4, answer.begin() + 20);
    EXPECT_EQ(vterm::PinPadModule::PinFromBlock(block, c.account), c.digits) << c.keys;
  }
}

TEST_F(KeyedEntry, KeysOutsideAnEntryAreRefused) {
  EXPECT_FALSE(pinPad().Key('1'));
  EXPECT_FALSE(pinPad().Key('E'));
  Send(PinEntryCommand(6, 4, ""));
  EXPECT_FALSE(pinPad().Key('B'));  // nothing to remove
  EXPECT_FALSE(pinPad().Key('X'));
  EXPECT_FALSE(pinPad().Key('E'));  // below the lower bound
  EXPECT_FALSE(pinPad().Key('#'));
  EXPECT_TRUE(pinPad().Key('7'));
  EXPECT_EQ(pinPad().KeyedDigitCount(), 1u);
  // The host's cancel ends a keyed entry like any other.
  terminal.Receive(vterm::HostFrame(Bytes{0x75, 0x46, 0x09}));
  EXPECT_FALSE(pinPad().KeyedEntryPending());
  EXPECT_EQ(pinPad().KeyedDigitCount(), 0u);
  EXPECT_FALSE(pinPad().Key('1'));
}

// A script a test queued still wins over the person at the pad.
TEST_F(KeyedEntry, ScriptedEntriesAnswerThemselves) {
  vterm::EntryScript script;
  script.delayMs = 10;
  script.data = {'4', '2', '4', '2', '4', '2', '4', '2', '4', '2', '4', '2', '4', '2', '4', '2'};
  pinPad().ScriptNextEntry(script);
  Send(PinEntryCommand(6, 4, ""));
  EXPECT_FALSE(pinPad().KeyedEntryPending());
  EXPECT_EQ(Answer().first, vterm::AckFrame(script.data));
}

TEST(PinBlock, HoldsTheDigitsForItsAccountOnly) {
  const std::string account = "4761739001010119";
  for (const std::string digits : {"1234", "0000", "98765432109876"}) {
    const std::string block = vterm::PinPadModule::PinBlock(digits, account);
    ASSERT_EQ(block.size(), 16u);
    EXPECT_EQ(block.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(vterm::PinPadModule::PinFromBlock(block, account), digits);
    EXPECT_NE(vterm::PinPadModule::PinFromBlock(block, "5413330089010608"), digits);
    EXPECT_NE(block, vterm::PinPadModule::PinBlock(digits, "5413330089010608"));
  }
  EXPECT_EQ(vterm::PinPadModule::PinFromBlock("XYZ", account), std::nullopt);
  EXPECT_EQ(vterm::PinPadModule::PinFromBlock("0011", account), std::nullopt);
}

TEST_F(KeyedEntry, ManualEntryWaitsForItsAnswer) {
  // mode, kind, bounds, selector, 16 options, four words, flag, no lines, 00.
  const auto command = [](std::uint8_t mode, std::uint8_t kind) {
    Bytes c(3 + 32, 0);
    const std::uint8_t head[] = {0x75, 0x46, 0x40, mode, kind, 19, 12};
    std::copy(std::begin(head), std::end(head), c.begin());
    return c;
  };
  const Bytes data = {'5', '4', '1', '3', '=', '2', '8'};
  struct Case {
    const char* what;
    std::uint8_t mode, kind;
    bool refuse;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {"data-returning", 1, 1, false, vterm::AckFrame(data)},
      {"acknowledged", 0, 1, false, vterm::AckFrame()},
      {"refused", 0, 3, true, vterm::NakFrame(0x18)},
  };
  for (const Case& c : cases) {
    Send(command(c.mode, c.kind));
    ASSERT_TRUE(reader().ManualEntryPending()) << c.what;
    EXPECT_TRUE(c.refuse ? reader().RefuseManualEntry(0x18) : reader().AnswerManualEntry(data));
    EXPECT_FALSE(reader().ManualEntryPending());
    EXPECT_FALSE(reader().AnswerManualEntry(data)) << c.what;  // answered once only
    const auto [answer, afterMs] = Answer();
    EXPECT_EQ(answer, c.expected) << c.what;
    EXPECT_GE(afterMs, vterm::kManualAnswerDelayMs - 50) << c.what;
  }
}

}  // namespace
