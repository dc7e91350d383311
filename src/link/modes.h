// The long-running exports and which of them may start while another runs: one table that
// every start consults before it sends anything.
#pragma once

#include <atomic>
#include <cstdint>

#include "link/link_state.h"

namespace vantorel::link {

// What a start is, and what may be running when it is called.
enum class Mode : std::uint8_t {
  kCapture,         // Zelto_StartCapture
  kSecureReading,   // MSR_EnableSecureHead
  kPinPadEntry,     // PIN_GetPINBlock, PIN_GetNumericOrAmount, PIN_GetCardAccount
  kEncryptedEntry,  // PIN_GetEncryptedData
  kManualEntry,     // MSR_ManualInputCardData
};

// The reader's claim (LinkState::readingClaim, phases in link_state.h).
inline std::atomic<ReadingPhase>& ReadingClaim() noexcept {
  return State().readingClaim;
}

// The code that refuses starting `mode` in the state as it is now, or 0 when it may start.
// The running modes are looked at in one order, whatever the start: a waiting PIN-pad or
// manual entry (202), secure reading (204), capture (205), an encrypted entry (207). A start
// is not refused by its own kind where a new one supersedes the old (capture, the encrypted
// entry), nor by the kind it supersedes (a PIN-pad entry and an encrypted entry take each
// other's place; a manual entry takes the encrypted entry's).
std::uint8_t StartRefusal(Mode mode) noexcept;

}  // namespace vantorel::link
