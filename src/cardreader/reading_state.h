// State the card reader's exports share beyond the connection flags.
#pragma once

#include <atomic>

namespace vantorel::cardreader {

// Claimed by an enable call from its state checks until it returns, so that a second enable
// cannot slip in while the first still switches the head on or still runs its last pass.
// A manual entry is refused only while the head is being switched on (secureHeadActive is
// not yet set then); once reading has ended, the loop reads nothing more (it checks
// secureHeadActive with the link held), so a manual entry may start at once.
enum class ReadingPhase : int { kIdle, kSwitchingOn, kReading };
std::atomic<ReadingPhase>& ReadingClaim() noexcept;

}  // namespace vantorel::cardreader
