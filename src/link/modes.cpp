#include "link/modes.h"

#include "link/link_state.h"
#include "vantorel.h"

namespace vantorel::link {
namespace {

// What refuses a start, in the order it is looked at. Secure reading counts in three
// strengths: running (secureHeadActive), being switched on, or claimed at all (which also
// covers the last pass after reading was ended).
struct Refusals {
  bool pinEntry;           // 202
  bool reading;            // 204: secureHeadActive
  bool readingSwitchedOn;  // 204: the head is being switched on
  bool readingClaimed;     // 204: any phase of the claim
  bool capture;            // 205
  bool encryptedEntry;     // 207
};

constexpr Refusals kTable[] = {
    //                 202    204    204 on 204 any 205    207
    /* capture */ {true, true, false, false, false, true},
    /* reading */ {true, true, true, true, true, true},
    /* PIN-pad */ {true, true, false, false, true, false},
    /* encrypted */ {false, true, false, false, true, false},
    /* manual */ {true, true, true, false, true, false},
};

}  // namespace

std::uint8_t StartRefusal(Mode mode) noexcept {
  const Refusals& r = kTable[static_cast<int>(mode)];
  const LinkState& state = State();
  const ReadingPhase claim = ReadingClaim().load();
  if (r.pinEntry && state.pinEntryActive.load() != 0) return VANTOREL_PIN_ENTRY_ACTIVE;
  if ((r.reading && state.secureHeadActive.load() != 0) ||
      (r.readingSwitchedOn && claim == ReadingPhase::kSwitchingOn) ||
      (r.readingClaimed && claim != ReadingPhase::kIdle)) {
    return VANTOREL_SECURE_HEAD_ACTIVE;
  }
  if (r.capture && state.captureActive.load() != 0) return VANTOREL_CAPTURE_ACTIVE;
  if (r.encryptedEntry && state.encryptedEntryActive.load() != 0) {
    return VANTOREL_ENCRYPTED_ENTRY_ACTIVE;
  }
  return 0;
}

}  // namespace vantorel::link
