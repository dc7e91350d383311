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
// Each kind counts in every phase in which its loop could read the link: claimed (its start's
// command on its way), switching on (the reader's three commands), running. Once a loop was
// ended it reads nothing more (it checks that it is current with the link held), so its last
// pass refuses only a second enable of the reader. The kinds are looked at in one order,
// whatever the start: a PIN-pad or manual entry (202), secure reading (204), capture (205),
// an encrypted entry (207). A start is not refused by its own kind where a new one supersedes
// the old (capture, the encrypted entry), nor by the kind it supersedes (a PIN-pad entry and
// an encrypted entry take each other's place; a manual entry takes the encrypted entry's).
std::uint8_t StartRefusal(Mode mode) noexcept;

// A start's claim on its kind: from its state checks until its loop began or the start failed
// (the reader's from the enable's checks until it returns: switching on, reading, last pass).
// Take() asks the table and claims in one step, so two starts that race see each other.
class StartClaim {
 public:
  explicit StartClaim(Mode mode) noexcept : mode_(mode) {}
  ~StartClaim();
  StartClaim(const StartClaim&) = delete;
  StartClaim& operator=(const StartClaim&) = delete;

  // 0 when claimed, else the code that refuses the start (nothing claimed then).
  std::uint8_t Take() noexcept;
  // The start's exchange is over: its loop began (its flag speaks for it from now on) or it
  // failed. The reader's claim stays until the claim goes.
  void Release() noexcept;

 private:
  Mode mode_;
  bool held_ = false;
};

}  // namespace vantorel::link
