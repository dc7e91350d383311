// The long-running exports and which of them may start while another runs: one table that
// every start consults before it sends anything.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "link/link_state.h"
#include "link/reply_ownership.h"

namespace vantorel::link {

// What a start is, and what may be running when it is called.
enum class Mode : std::uint8_t {
  kCapture,         // Zelto_StartCapture
  kSecureReading,   // MSR_EnableSecureHead
  kPinPadEntry,     // PIN_GetPINBlock, PIN_GetNumericOrAmount, PIN_GetCardAccount
  kEncryptedEntry,  // PIN_GetEncryptedData
  kManualEntry,     // MSR_ManualInputCardData
};

// The code that refuses starting `mode` in the state as it is now, or 0 when it may start.
// Each kind counts in every phase in which its loop could read the link: claimed (its start's
// command on its way; the reader's three commands), running. Once a loop was ended it reads
// nothing more (it checks that it is current with the link held), so a reading loop's last
// pass refuses only a second enable. The kinds are looked at in one order, whatever the
// start: a PIN-pad or manual entry (202), secure reading (204), capture (205), an encrypted
// entry (207). A start is not refused by its own kind where a new one supersedes the old
// (capture, the encrypted entry), nor by the kind it supersedes (a PIN-pad entry and an
// encrypted entry take each other's place; a manual entry takes the encrypted entry's).
std::uint8_t StartRefusal(Mode mode) noexcept;

// The one way a long-running export starts its loop:
//   Claim()  from the state checks: asks the mode table and claims the kind in one step (two
//            starts that race see each other) and ends what the start supersedes at once (a
//            capture ends the running capture and any capture start not begun yet);
//   its starting command(s), `proceed` may ask EndedSinceClaim();
//   Listen() with the link held, on the acknowledgement: what the terminal sends from now on
//            is kept for the loop;
//   Begin()  with the link held: the loop becomes its kind's current one unless it was ended
//            since the claim (a disable, a newer start), and ends the kinds it takes the
//            place of (the other entry kind); the claim goes, the flag speaks from now on;
//   the loop, reading while Current(ticket); it counts as running until the start goes.
// Release() lets the claim go when the start failed; the destructor does what is left.
class LoopStart {
 public:
  explicit LoopStart(Mode mode) noexcept;
  ~LoopStart();
  LoopStart(const LoopStart&) = delete;
  LoopStart& operator=(const LoopStart&) = delete;

  // 0 when claimed, else the code that refuses the start (nothing claimed then).
  std::uint8_t Claim() noexcept;
  // Whether the loop was ended since the claim (a switch-off overtook the switch-on).
  bool EndedSinceClaim() const noexcept;
  void Listen(LoopMessageTest isMessage = nullptr, const void* context = nullptr) noexcept;
  // The loop's ticket, 0 when it was ended before it began.
  PollingMode::Ticket Begin() noexcept;
  void Release() noexcept;
  // The kind's current-loop marker the loop asks.
  PollingMode& Kind() const noexcept { return kind_; }

 private:
  Mode mode_;
  PollingMode& kind_;
  PollingMode::Ticket mark_ = 0;
  bool claimed_ = false;
  bool running_ = false;
  std::optional<LoopListener> listener_;  // goes before the claim
};

}  // namespace vantorel::link
