// Secure reading with other threads at work: commands during the loop and during the
// switch-on get their own replies, two enables at once, a handler that calls exports.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "../integration/cardreader_test_support.h"
#include "link/link_state.h"

namespace {

using namespace cardreader_test;
using support::TransportTest;
using vterm::PadKey;
using vterm::Via;

class ReadingConcurrency : public TransportTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
    Deliveries::Instance().Register();
  }
  int Rounds(int hid, int serial) const { return session.serial() ? serial : hid; }
};
VANTOREL_ON_BOTH_TRANSPORTS(ReadingConcurrency);

// Writes a value and reads it back: both replies must be the command's own.
void SetAndReadBack(int i) {
  const auto value = static_cast<unsigned char>('0' + i % 5);
  ASSERT_EQ(MSR_SetDecodingSetting(value), VANTOREL_SUCCESS) << i;
  unsigned char got = 0;
  ASSERT_EQ(MSR_GetDecodingSetting(&got), VANTOREL_SUCCESS) << i;
  EXPECT_EQ(got, value) << i;
  unsigned char serial[512];
  int length = 0;
  ASSERT_EQ(MSR_SerialNumber(serial, &length), VANTOREL_SUCCESS) << i;
  EXPECT_EQ(std::string(serial, serial + length), vterm::kDefaultReaderSerial) << i;
}

TEST_P(ReadingConcurrency, SettingsCommandsDuringReadingGetTheirOwnReplies) {
  Reading reading;
  ASSERT_TRUE(WaitForKeyPolls(session, 1));
  const int rounds = Rounds(12, 5);
  for (int i = 0; i < rounds; ++i) {
    Reader(session).PressKey(i % 2 ? PadKey::kEnter : PadKey::kCancel, Via::kKeyPoll);
    SetAndReadBack(i);
  }
  // The loop went on reading: every key press still arrives, and nothing else did.
  ASSERT_TRUE(Deliveries::Instance().WaitFor(static_cast<std::size_t>(rounds), 20000ms));
  for (const auto& d : Deliveries::Instance().Received()) {
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0], 0x7B);
  }
  EXPECT_EQ(MSR_DisableSecureHead(), VANTOREL_SUCCESS);
  EXPECT_EQ(reading.Result(), VANTOREL_SUCCESS);
  EXPECT_EQ(vantorel::link::State().linkBusy.load(), 0);
}

TEST_P(ReadingConcurrency, CommandsDuringTheSwitchOnKeepTheirReplies) {
  // The enable call starts its loop while another thread's command may be waiting for the
  // link; the loop must not take that command's reply.
  const int rounds = Rounds(8, 3);
  for (int i = 0; i < rounds; ++i) {
    std::atomic<bool> go{false};
    std::thread commands([&] {
      while (!go.load()) std::this_thread::yield();
      SetAndReadBack(i);
    });
    {
      Reading reading;
      go = true;
      commands.join();
      ASSERT_TRUE(WaitForKeyPolls(session, Reader(session).KeyPolls() + 1));
      EXPECT_EQ(MSR_DisableSecureHead(), VANTOREL_SUCCESS);
      EXPECT_EQ(reading.Result(), VANTOREL_SUCCESS);
    }
    EXPECT_TRUE(Deliveries::Instance().Received().empty());
  }
}

TEST_P(ReadingConcurrency, TwoEnablesAtOnceStartOneLoop) {
  std::atomic<bool> go{false};
  auto enable = [&] {
    while (!go.load()) std::this_thread::yield();
    return MSR_EnableSecureHead();
  };
  auto first = std::async(std::launch::async, enable);
  auto second = std::async(std::launch::async, enable);
  go = true;
  // One of them is refused at once; the other reads until disabled.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  unsigned char refused = 0;
  while (refused == 0 && std::chrono::steady_clock::now() < deadline) {
    if (first.wait_for(10ms) == std::future_status::ready)
      refused = first.get();
    else if (second.wait_for(10ms) == std::future_status::ready)
      refused = second.get();
  }
  EXPECT_EQ(refused, VANTOREL_SECURE_HEAD_ACTIVE);
  ASSERT_TRUE(WaitForKeyPolls(session, 1));
  EXPECT_EQ(MSR_DisableSecureHead(), VANTOREL_SUCCESS);
  auto& running = first.valid() ? first : second;
  ASSERT_EQ(running.wait_for(8s), std::future_status::ready);
  EXPECT_EQ(running.get(), VANTOREL_SUCCESS);
  int switchOns = 0;
  for (const auto& c : session.Commands()) {
    switchOns += c == Bytes{0x73, 0x46, 0xE1, 0x01, 0x31};
  }
  EXPECT_EQ(switchOns, 1);
}

// Calls an export from inside the handler: the loop holds no lock while it delivers.
std::atomic<int> handlerReads{0};
void VANTOREL_CALL ReadingHandler(const unsigned char*, int count, int) {
  unsigned char value = 0;
  if (count == 2 && MSR_GetKeyModel(&value) == VANTOREL_SUCCESS) ++handlerReads;
}

TEST_P(ReadingConcurrency, HandlerMayCallExports) {
  handlerReads = 0;
  MSR_AddDataHandle(ReadingHandler, 0);
  Reading reading;
  ASSERT_TRUE(WaitForKeyPolls(session, 1));
  Reader(session).PressKey(PadKey::kEnter, Via::kKeyPoll);
  const auto deadline = std::chrono::steady_clock::now() + 8s;
  while (handlerReads.load() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(handlerReads.load(), 1);
  EXPECT_EQ(MSR_DisableSecureHead(), VANTOREL_SUCCESS);
  EXPECT_EQ(reading.Result(), VANTOREL_SUCCESS);
}

}  // namespace
