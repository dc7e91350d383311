// Commands from several threads, and a polling reader beside them: every reply must reach
// the command that asked for it.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "link/command.h"
#include "support/session.h"
#include "vterm/device.h"

namespace {

using support::TransportTest;

class LinkConcurrency : public TransportTest {
 protected:
  void SetUp() override { ASSERT_EQ(session.Open(), VANTOREL_SUCCESS); }
  int Rounds() const { return session.serial() ? 6 : 40; }
};
VANTOREL_ON_BOTH_TRANSPORTS(LinkConcurrency);

// Reads a text export and returns it, or "rc=N" on failure.
std::string ReadText(unsigned char(VANTOREL_CALL* read)(char*, int*)) {
  char buffer[512];
  int length = 0;
  const unsigned char rc = read(buffer, &length);
  return rc == VANTOREL_SUCCESS ? std::string(buffer, length) : "rc=" + std::to_string(rc);
}

TEST_P(LinkConcurrency, TwoThreadsEachGetTheirOwnReplies) {
  std::atomic<int> wrong{0};
  auto worker = [&](unsigned char(VANTOREL_CALL * read)(char*, int*), std::string expected) {
    for (int i = 0; i < Rounds(); ++i) {
      const std::string got = ReadText(read);
      if (got != expected) {
        ++wrong;
        ADD_FAILURE() << "expected " << expected << ", got " << got;
      }
    }
  };
  std::thread a(worker, Brixa_GetVersion, std::string(vterm::kDefaultVersion));
  std::thread b(worker, Brixa_GetModelNumber, std::string(vterm::kDefaultModel));
  a.join();
  b.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(session.Commands().size(), static_cast<std::size_t>(2 * Rounds()));
}

TEST_P(LinkConcurrency, PollingReaderNeverTakesACommandsReply) {
  std::atomic<bool> stop{false};
  std::atomic<int> reads{0};
  std::atomic<int> stolen{0};
  std::thread poller([&] {
    std::uint8_t buffer[512];
    while (!stop.load()) {
      int n = 0;
      const bool ran = vantorel::link::WithIdleLink([&] {
        n = vantorel::link::ReadMessage(buffer, sizeof buffer, vantorel::link::kHidPointWait);
      });
      if (!ran) {
        vantorel::link::Pause(vantorel::link::kCaptureYield);
        continue;
      }
      ++reads;
      stolen += n;
    }
  });
  for (int i = 0; i < Rounds(); ++i) {
    EXPECT_EQ(ReadText(Brixa_GetSerialNumber), vterm::kDefaultSerial);
    EXPECT_EQ(Brixa_ControlLED(1, 1), VANTOREL_SUCCESS);
    // A pause, as an application makes between commands: the reader gets the link.
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
  }
  stop = true;
  poller.join();
  EXPECT_GT(reads.load(), 0) << "the reader really ran between the commands";
  EXPECT_EQ(stolen.load(), 0) << "no reply bytes reached the polling reader";
}

TEST_P(LinkConcurrency, CloseFromAnotherThreadWaitsForTheExchangeInProgress) {
  session.terminal().DelayNext(1, 150);
  std::thread closer([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
  });
  EXPECT_EQ(ReadText(Brixa_GetVersion), vterm::kDefaultVersion)
      << "the command that held the link finishes with its reply";
  closer.join();
  EXPECT_EQ(ReadText(Brixa_GetVersion), "rc=201");
}

}  // namespace
