// Which long-running export may start while another is claimed, runs or finishes its last
// pass, and which running loop a new start supersedes: observed through the loop start every
// such export uses.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <utility>
#include <vector>

#include "link/link_state.h"
#include "link/modes.h"
#include "vantorel.h"

namespace vantorel::link {
namespace {

enum class Phase { kClaimed, kRunning, kLastPass };

constexpr std::uint8_t P = VANTOREL_PIN_ENTRY_ACTIVE, H = VANTOREL_SECURE_HEAD_ACTIVE,
                       C = VANTOREL_CAPTURE_ACTIVE, E = VANTOREL_ENCRYPTED_ENTRY_ACTIVE;
constexpr std::array kStarts{Mode::kCapture, Mode::kSecureReading, Mode::kPinPadEntry,
                             Mode::kEncryptedEntry, Mode::kManualEntry};

class ModeTable : public ::testing::Test {
 protected:
  // Brings a start of `mode` to `phase` as its export would: claimed (its command on its
  // way), running (acknowledged and begun), or on its last pass (ended, not returned yet).
  LoopStart& Put(Mode mode, Phase phase) {
    auto& start = *held_.emplace_back(std::make_unique<LoopStart>(mode));
    EXPECT_EQ(start.Claim(), 0) << "setting up mode " << static_cast<int>(mode);
    if (phase != Phase::kClaimed) start.Begin();
    if (phase == Phase::kLastPass) start.Kind().End();
    return start;
  }
  // As a close would: every loop ends, then every start returns.
  void Clear() {
    State().EndLoops();
    held_.clear();
    EXPECT_TRUE(State().Reset());
  }
  void TearDown() override { Clear(); }

  std::vector<std::unique_ptr<LoopStart>> held_;
};

TEST_F(ModeTable, EveryStartAgainstWhatIsClaimedOrRunning) {
  struct Row {
    const char* what;
    std::vector<std::pair<Mode, Phase>> before;
    // capture, secure reading, PIN-pad entry, encrypted entry, manual entry
    std::array<std::uint8_t, 5> expected;
  };
  const Row rows[] = {
      {"nothing", {}, {0, 0, 0, 0, 0}},
      {"capture claimed", {{Mode::kCapture, Phase::kClaimed}}, {0, C, C, C, C}},
      {"capture running", {{Mode::kCapture, Phase::kRunning}}, {0, C, C, C, C}},
      // Every other start would read beside the loop about to begin.
      {"head switching on", {{Mode::kSecureReading, Phase::kClaimed}}, {H, H, H, H, H}},
      {"secure reading", {{Mode::kSecureReading, Phase::kRunning}}, {H, H, H, H, H}},
      {"reading's last pass", {{Mode::kSecureReading, Phase::kLastPass}}, {0, H, 0, 0, 0}},
      {"PIN-pad entry claimed", {{Mode::kPinPadEntry, Phase::kClaimed}}, {P, P, P, 0, P}},
      {"PIN-pad entry waiting", {{Mode::kPinPadEntry, Phase::kRunning}}, {P, P, P, 0, P}},
      {"manual entry waiting", {{Mode::kManualEntry, Phase::kRunning}}, {P, P, P, 0, P}},
      {"encrypted entry claimed", {{Mode::kEncryptedEntry, Phase::kClaimed}}, {E, E, 0, 0, 0}},
      {"encrypted entry waiting", {{Mode::kEncryptedEntry, Phase::kRunning}}, {E, E, 0, 0, 0}},
      {"entry that ended", {{Mode::kPinPadEntry, Phase::kLastPass}}, {0, 0, 0, 0, 0}},
      // Several at once: the first code in the fixed order wins.
      {"last pass and capture",
       {{Mode::kSecureReading, Phase::kLastPass}, {Mode::kCapture, Phase::kRunning}},
       {0, H, C, C, C}},
      {"last pass and encrypted entry",
       {{Mode::kSecureReading, Phase::kLastPass}, {Mode::kEncryptedEntry, Phase::kRunning}},
       {E, H, 0, 0, 0}},
  };
  for (const Row& row : rows) {
    for (std::size_t i = 0; i < kStarts.size(); ++i) {
      for (const auto& [mode, phase] : row.before) Put(mode, phase);
      {
        LoopStart second(kStarts[i]);
        EXPECT_EQ(second.Claim(), row.expected[i]) << row.what << ", start " << i;
      }
      Clear();
    }
  }
  EXPECT_EQ(StartRefusal(Mode::kSecureReading), 0) << "every start released";
}

// Whether a running loop is still its kind's current one once a new start claimed, and once
// that start began.
TEST_F(ModeTable, NewStartsSupersedeRunningLoops) {
  struct Row {
    Mode running, next;
    bool currentAfterClaim, currentAfterBegin;
  };
  const Row rows[] = {
      {Mode::kCapture, Mode::kCapture, false, false},  // the old capture ends at once
      {Mode::kEncryptedEntry, Mode::kEncryptedEntry, true, false},
      {Mode::kPinPadEntry, Mode::kEncryptedEntry, true, false},
      {Mode::kEncryptedEntry, Mode::kPinPadEntry, true, false},
      {Mode::kEncryptedEntry, Mode::kManualEntry, true, false},
      {Mode::kCapture, Mode::kEncryptedEntry, true, true},  // refused: nothing changes
  };
  for (const Row& row : rows) {
    LoopStart& first = Put(row.running, Phase::kClaimed);
    const PollingMode::Ticket ticket = first.Begin();
    ASSERT_NE(ticket, 0u);
    {
      LoopStart next(row.next);
      const bool claimed = next.Claim() == 0;
      EXPECT_EQ(first.Kind().Current(ticket), row.currentAfterClaim) << static_cast<int>(row.next);
      if (claimed) {
        EXPECT_NE(next.Begin(), 0u);
      }
      EXPECT_EQ(first.Kind().Current(ticket), row.currentAfterBegin) << static_cast<int>(row.next);
    }
    Clear();
  }
}

// A start ended between its claim and its begin does not begin: a capture overtaken by a
// newer capture, a reading switched off while it was being switched on.
TEST_F(ModeTable, AStartEndedBeforeItsBeginDoesNotBegin) {
  LoopStart& older = Put(Mode::kCapture, Phase::kClaimed);
  LoopStart& newer = Put(Mode::kCapture, Phase::kClaimed);
  EXPECT_EQ(older.Begin(), 0u);
  EXPECT_NE(newer.Begin(), 0u);
  Clear();

  LoopStart& reading = Put(Mode::kSecureReading, Phase::kClaimed);
  State().reading.Forestall();  // the disable
  EXPECT_TRUE(reading.EndedSinceClaim());
  EXPECT_EQ(reading.Begin(), 0u);
  EXPECT_EQ(State().secureHeadActive.load(), 0);
}

}  // namespace
}  // namespace vantorel::link
