// State the card reader's exports share beyond the connection flags.
#pragma once

#include <atomic>

#include "link/modes.h"

namespace vantorel::cardreader {

// The reader's claim lives in LinkState (link/link_state.h), its accessor with the mode table
// (link/modes.h). A manual entry is refused only while the head is being switched on; once
// reading has ended, the loop reads nothing more (it checks that it is still the current
// reading loop with the link held), so a manual entry may start at once.
using link::ReadingClaim;
using link::ReadingPhase;

}  // namespace vantorel::cardreader
