// The entry wait against other threads: cancel, close, entries superseding each other,
// ordinary commands during the wait and during an entry's starting exchange.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "integration/pinpad_test_support.h"
#include "link/link_state.h"
#include "vterm/device.h"

namespace {

using pinpad_test::Answer;
using pinpad_test::Bytes;
using pinpad_test::Hold;
using pinpad_test::Pad;
using pinpad_test::Request;
using namespace std::chrono_literals;

class PinWaitTest : public support::TransportTest {
 protected:
  void SetUp() override { ASSERT_EQ(session.Open(), 1); }
};
VANTOREL_ON_BOTH_TRANSPORTS(PinWaitTest);

bool WaitFor(const std::atomic<std::uint8_t>& flag, std::uint8_t value) {
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (flag.load() != value) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

auto& State() {
  return vantorel::link::State();
}

TEST_P(PinWaitTest, CancelFromAnotherThreadEndsTheEntryWithTheRefusal) {
  Hold(session);
  Request request;
  auto entry = std::async(std::launch::async, [&] { return PIN_GetPINBlock(request.record); });
  ASSERT_TRUE(WaitFor(State().pinEntryActive, 1));
  EXPECT_EQ(PIN_CancelPIN(), 1);
  EXPECT_EQ(entry.get(), 105);  // the pad's NAK 18
  EXPECT_EQ(request.resultLength, -7);
  EXPECT_EQ(State().pinEntryActive.load(), 0);
}

TEST_P(PinWaitTest, CloseEndsEachKindOfWait) {
  struct Case {
    const char* what;
    std::function<unsigned char(const PinEntryRequest&)> entry;
    unsigned char expected;
    std::uint8_t upper, lower;
  } const cases[] = {
      {"pin block", [](const PinEntryRequest& r) { return PIN_GetPINBlock(r); }, 0, 8, 4},
      {"card account", [](const PinEntryRequest& r) { return PIN_GetCardAccount(r); }, 0, 16, 12},
      {"encrypted", [](const PinEntryRequest& r) { return PIN_GetEncryptedData(1, r); }, 1, 16, 12},
  };
  for (const auto& c : cases) {
    if (!vantorel::link::LinkIsOpen()) {
      ASSERT_EQ(session.Open(), 1);
    }
    Hold(session);
    Request request(c.upper, c.lower);
    auto entry = std::async(std::launch::async, [&] { return c.entry(request.record); });
    ASSERT_TRUE(WaitFor(c.expected == 1 ? State().encryptedEntryActive : State().pinEntryActive, 1))
        << c.what;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Brixa_Close(), 1);
    EXPECT_EQ(entry.get(), c.expected) << c.what;
    EXPECT_LT(support::ElapsedMs(start), 2000) << c.what;
    EXPECT_EQ(request.resultLength, -7) << c.what;
    EXPECT_EQ(request.result[0], 0xEE) << c.what;
  }
}

TEST_P(PinWaitTest, EncryptedEntrySupersedesAWaitingPinEntry) {
  Hold(session);
  Request waiting(16, 12);
  auto first = std::async(std::launch::async, [&] { return PIN_GetCardAccount(waiting.record); });
  ASSERT_TRUE(WaitFor(State().pinEntryActive, 1));
  Answer(session, Bytes{0x00, 0x03, 0x11, 0x22, 0x33});
  Request request(0, 0);
  EXPECT_EQ(PIN_GetEncryptedData(7, request.record), 1);  // no 202
  EXPECT_EQ(first.get(), 0);
  EXPECT_EQ(waiting.resultLength, -7);
  EXPECT_EQ(request.resultLength, 3);
  EXPECT_EQ(Bytes(request.result.begin(), request.result.begin() + 3), (Bytes{0x11, 0x22, 0x33}));
}

TEST_P(PinWaitTest, AnyNewEntrySupersedesAWaitingEncryptedEntry) {
  for (bool pinBlock : {true, false}) {
    Hold(session);
    Request waiting(0, 0);
    auto first =
        std::async(std::launch::async, [&] { return PIN_GetEncryptedData(1, waiting.record); });
    ASSERT_TRUE(WaitFor(State().encryptedEntryActive, 1));
    Answer(session, pinBlock ? Bytes{1, 2, 3, 4, 5} : Bytes{0, 3, 9, 8, 7});
    Request request(pinBlock ? 8 : 0, pinBlock ? 4 : 0);
    // A second encrypted entry too: two waits on one flag would both wait for one answer.
    EXPECT_EQ(pinBlock ? PIN_GetPINBlock(request.record) : PIN_GetEncryptedData(2, request.record),
              1);
    EXPECT_EQ(first.get(), 1);
    EXPECT_EQ(waiting.resultLength, -7);
    EXPECT_EQ(request.resultLength, pinBlock ? 5 : 3);
    EXPECT_EQ(State().encryptedEntryActive.load(), 0);
    EXPECT_EQ(State().pinEntryActive.load(), 0);
  }
}

TEST_P(PinWaitTest, OrdinaryCommandsDuringTheWaitGetTheirOwnReplies) {
  Hold(session);
  Request request;
  auto entry = std::async(std::launch::async, [&] { return PIN_GetPINBlock(request.record); });
  ASSERT_TRUE(WaitFor(State().pinEntryActive, 1));
  for (int i = 0; i < 3; ++i) {
    char version[64] = {};
    int length = 0;
    EXPECT_EQ(Brixa_GetVersion(version, &length), 1);
    EXPECT_EQ(std::string(version, length), vterm::kDefaultVersion);
    int keyLength = -1;
    EXPECT_EQ(PIN_GetKey(version, &keyLength), 1);
  }
  session.terminal().PushAfter(session.serial() ? 600 : 50,
                               vterm::AckFrame(Bytes{'P', 'I', 'N', '!'}));
  EXPECT_EQ(entry.get(), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(request.result.data())), "PIN!");
}

// An entry's starting exchange holds the link: a command from another thread neither
// interleaves with it nor takes its ACK, and the entry never takes the command's reply.
// (The pad answers late enough that its answer cannot land inside the command's own
// exchange, which would take it: a serial read takes everything until the line is quiet,
// and over HID a message that arrives between the command's write and its reply is
// indistinguishable from the reply.)
TEST_P(PinWaitTest, StartingExchangeDoesNotMixWithAConcurrentCommand) {
  const int rounds = session.serial() ? 2 : 6;
  for (int i = 0; i < rounds; ++i) {
    Answer(session, Bytes{'o', 'k', static_cast<std::uint8_t>('0' + i), '.'},
           session.serial() ? 2500 : 400);
    Request request;
    std::atomic<bool> go{false};
    auto command = std::async(std::launch::async, [&] {
      while (!go.load()) std::this_thread::yield();
      char version[64] = {};
      int length = 0;
      const unsigned char rc = Brixa_GetVersion(version, &length);
      return rc == 1 ? std::string(version, length) : std::string("rc ") + std::to_string(rc);
    });
    go = true;
    EXPECT_EQ(PIN_GetPINBlock(request.record), 1);
    EXPECT_EQ(command.get(), vterm::kDefaultVersion);
    EXPECT_EQ(request.resultLength, 4);
    EXPECT_EQ(request.result[2], '0' + i);
  }
}

}  // namespace
