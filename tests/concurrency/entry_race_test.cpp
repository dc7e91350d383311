// Manual card entry and the encrypted-data entry started at the same moment from two threads:
// whichever the terminal acknowledged last is the one that waits for the terminal's answer,
// the other ends as superseded. Neither may end while the terminal runs its entry.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "integration/cardreader_test_support.h"
#include "integration/pinpad_test_support.h"
#include "link/link_state.h"

namespace {

using namespace std::chrono_literals;
using pinpad_test::Bytes;

class EntryRace : public support::TransportTest {
 protected:
  void SetUp() override { ASSERT_EQ(session.Open(), 1); }
};
VANTOREL_ON_BOTH_TRANSPORTS(EntryRace);

// Which of the two entry commands reached the terminal last (0x40 manual, 0x25 encrypted).
std::uint8_t LastEntryCommand(const support::Session& session) {
  std::uint8_t last = 0;
  for (const auto& c : session.Commands()) {
    if (c.size() >= 3 && c[0] == 0x75 && c[1] == 0x46 && (c[2] == 0x40 || c[2] == 0x25)) {
      last = c[2];
    }
  }
  return last;
}

TEST_P(EntryRace, ManualEntryAndEncryptedDataNeverStrandEachOther) {
  constexpr int kRounds = 5;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    session.Clear();
    pinpad_test::Hold(session);
    cardreader_test::Reader(session).ScriptManualEntry(vterm::ManualEntryOutcome::Silent());

    ManualEntryRequest manual{};
    std::array<unsigned char, 512> manualResult{};
    int manualLength = -1;
    manual.result = manualResult.data();
    manual.resultLength = &manualLength;
    manual.mode = 1;  // returns the keyed data
    manual.entryKind = 1;
    pinpad_test::Request encrypted(8, 4);

    std::atomic<bool> go{false};
    // The two starts contend for the link; the stagger varies who sends first.
    const auto stagger = std::chrono::microseconds(round * 700);
    auto manualCall = std::async(std::launch::async, [&] {
      while (!go.load()) std::this_thread::yield();
      return MSR_ManualInputCardData(manual);
    });
    auto encryptedCall = std::async(std::launch::async, [&] {
      while (!go.load()) std::this_thread::yield();
      std::this_thread::sleep_for(stagger);
      return PIN_GetEncryptedData(0x01, encrypted.record);
    });
    go = true;

    // Both commands acknowledged; exactly one call ends as superseded.
    const auto until = std::chrono::steady_clock::now() + 8s;
    while (manualCall.wait_for(0ms) != std::future_status::ready &&
           encryptedCall.wait_for(0ms) != std::future_status::ready) {
      ASSERT_LT(std::chrono::steady_clock::now(), until) << "neither start came back";
      std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(300ms);  // the later one is in its wait by now
    const std::uint8_t last = LastEntryCommand(session);
    ASSERT_TRUE(last == 0x40 || last == 0x25);
    const Bytes answer = vterm::AckFrame(Bytes{0x00, 0x04, 0x31, 0x32, 0x33, 0x34});
    if (last == 0x40) {
      ASSERT_EQ(encryptedCall.wait_for(0ms), std::future_status::ready);
      EXPECT_EQ(encryptedCall.get(), 1) << "superseded: success with outputs untouched";
      EXPECT_EQ(encrypted.resultLength, -7);
      ASSERT_EQ(manualCall.wait_for(0ms), std::future_status::timeout) << "manual entry stranded";
      session.terminal().Push(answer);
      ASSERT_EQ(manualCall.wait_for(5s), std::future_status::ready);
      EXPECT_EQ(manualCall.get(), 1);
      EXPECT_EQ(Bytes(manualResult.begin(), manualResult.begin() + manualLength), answer);
    } else {
      ASSERT_EQ(manualCall.wait_for(0ms), std::future_status::ready);
      EXPECT_EQ(manualCall.get(), 0) << "superseded";
      EXPECT_EQ(manualLength, -1);
      ASSERT_EQ(encryptedCall.wait_for(0ms), std::future_status::timeout)
          << "encrypted-data entry stranded";
      session.terminal().Push(answer);
      ASSERT_EQ(encryptedCall.wait_for(5s), std::future_status::ready);
      EXPECT_EQ(encryptedCall.get(), 1);
      EXPECT_EQ(encrypted.resultLength, 4);
    }
    EXPECT_EQ(vantorel::link::State().pinEntryActive.load(), 0);
    EXPECT_EQ(vantorel::link::State().encryptedEntryActive.load(), 0);
  }
}

}  // namespace
