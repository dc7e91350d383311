// Which long-running export may start while another runs: every start against every
// running mode, and the order of the codes when several run at once.
#include <gtest/gtest.h>

#include <array>

#include "link/link_state.h"
#include "link/modes.h"
#include "vantorel.h"

namespace vantorel::link {
namespace {

struct Running {
  const char* what;
  std::uint8_t pinEntry, secureHead, capture, encrypted;
  ReadingPhase claim;
};

class ModeTable : public ::testing::Test {
 protected:
  void Set(const Running& r) {
    LinkState& s = State();
    s.pinEntryActive = r.pinEntry;
    s.secureHeadActive = r.secureHead;
    s.captureActive = r.capture;
    s.encryptedEntryActive = r.encrypted;
    ReadingClaim() = r.claim;
  }
  void TearDown() override { Set({"", 0, 0, 0, 0, ReadingPhase::kIdle}); }
};

TEST_F(ModeTable, EveryStartAgainstEveryRunningMode) {
  constexpr std::uint8_t P = VANTOREL_PIN_ENTRY_ACTIVE, H = VANTOREL_SECURE_HEAD_ACTIVE,
                         C = VANTOREL_CAPTURE_ACTIVE, E = VANTOREL_ENCRYPTED_ENTRY_ACTIVE;
  constexpr std::array kStarts{Mode::kCapture, Mode::kSecureReading, Mode::kPinPadEntry,
                               Mode::kEncryptedEntry, Mode::kManualEntry};
  struct Row {
    Running running;
    // capture, secure reading, PIN-pad entry, encrypted entry, manual entry
    std::array<std::uint8_t, 5> expected;
  };
  const Row rows[] = {
      {{"nothing", 0, 0, 0, 0, ReadingPhase::kIdle}, {0, 0, 0, 0, 0}},
      {{"PIN-pad or manual entry", 1, 0, 0, 0, ReadingPhase::kIdle}, {P, P, P, 0, P}},
      {{"secure reading", 0, 1, 0, 0, ReadingPhase::kReading}, {H, H, H, H, H}},
      // Every other start would read beside the loop about to begin.
      {{"head switching on", 0, 0, 0, 0, ReadingPhase::kSwitchingOn}, {H, H, H, H, H}},
      {{"reading's last pass", 0, 0, 0, 0, ReadingPhase::kReading}, {0, H, 0, 0, 0}},
      {{"capture", 0, 0, 1, 0, ReadingPhase::kIdle}, {0, C, C, C, C}},
      {{"encrypted entry", 0, 0, 0, 1, ReadingPhase::kIdle}, {E, E, 0, 0, 0}},
      // Several at once: the first code in the fixed order wins.
      {{"all of them", 1, 1, 1, 1, ReadingPhase::kReading}, {P, P, P, H, P}},
      {{"capture and encrypted entry", 0, 0, 1, 1, ReadingPhase::kIdle}, {E, C, C, C, C}},
  };
  for (const Row& row : rows) {
    Set(row.running);
    for (std::size_t i = 0; i < kStarts.size(); ++i) {
      EXPECT_EQ(StartRefusal(kStarts[i]), row.expected[i]) << row.running.what << ", start " << i;
    }
  }
}

// A start whose command is still on its way counts as its kind, for every other start: taking
// the claim and asking the table are one step.
TEST_F(ModeTable, AClaimedStartRefusesLikeItsRunningLoop) {
  struct Row {
    Mode first;
    std::array<std::uint8_t, 5> expected;  // as in the table above
  };
  constexpr std::uint8_t P = VANTOREL_PIN_ENTRY_ACTIVE, H = VANTOREL_SECURE_HEAD_ACTIVE,
                         C = VANTOREL_CAPTURE_ACTIVE, E = VANTOREL_ENCRYPTED_ENTRY_ACTIVE;
  constexpr std::array kStarts{Mode::kCapture, Mode::kSecureReading, Mode::kPinPadEntry,
                               Mode::kEncryptedEntry, Mode::kManualEntry};
  const Row rows[] = {
      {Mode::kCapture, {0, C, C, C, C}},     {Mode::kSecureReading, {H, H, H, H, H}},
      {Mode::kPinPadEntry, {P, P, P, 0, P}}, {Mode::kEncryptedEntry, {E, E, 0, 0, 0}},
      {Mode::kManualEntry, {P, P, P, 0, P}},
  };
  for (const Row& row : rows) {
    {
      StartClaim first(row.first);
      ASSERT_EQ(first.Take(), 0);
      for (std::size_t i = 0; i < kStarts.size(); ++i) {
        StartClaim second(kStarts[i]);
        EXPECT_EQ(second.Take(), row.expected[i]) << static_cast<int>(row.first) << ", start " << i;
      }
    }
    EXPECT_EQ(StartRefusal(Mode::kSecureReading), 0) << "released";
  }
}

}  // namespace
}  // namespace vantorel::link
