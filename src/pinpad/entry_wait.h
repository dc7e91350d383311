// The entry wait shared by the four PIN-pad entries: the starting exchange, then passes that
// read what the terminal sends by itself until it answers or the wait flag is cleared.
//
// The PIN, amount and account entries wait under pinEntryActive, the encrypted-data entry
// under encryptedEntryActive. Starting a wait takes the other kind's flag away, so a new
// entry supersedes a waiting one of the other kind (the terminal runs one entry at a time).
#pragma once

#include <array>
#include <cstdint>

#include "link/command.h"
#include "link/modes.h"

namespace vantorel::pinpad {

using EntryMessage = std::array<std::uint8_t, link::kReplySize>;

struct EntryOutcome {
  enum class Kind {
    kNotStarted,        // the command was refused or unanswered; no flag changed
    kMessage,           // the terminal's data message is in the caller's buffer
    kRefused,           // the terminal refused the entry during the wait
    kEndedFromOutside,  // the wait flag was cleared by another thread
  };
  Kind kind = Kind::kNotStarted;
  std::uint8_t code = 0;  // kNotStarted, kRefused: the return code
  int length = 0;         // kMessage: bytes of the message (more than 10)
};

// What one message read during the wait means.
enum class Verdict { kKeepWaiting, kDone, kRefused };
using EntryJudge = Verdict (*)(const void* context, const std::uint8_t* message, int count);

// The PIN-pad entries' rule: ACK with more than three data bytes is the answer; a whole frame
// with NAK, or with ACK followed by 0x15, a refusal; anything else is ignored.
Verdict JudgePinPadMessage(const void* context, const std::uint8_t* message, int count) noexcept;

// Sends `command` (no kCommandWait: the entry's own exchange, but holding the link so that
// neither a polling loop nor another command's exchange interleaves with it). When the
// terminal acknowledges, starts the wait while the link is still held (its flag raised, the
// other kind's flag cleared, this wait made the current one) and runs passes: read (only
// while no command wants the link and this wait is still the current one), judge, sleep
// kEntryPassSleep, look at the flag. A refusal's code is the message's Status().
// `start` (claimed by the state checks) begins the wait and is released once the command was
// answered; the mode table says which kind the wait runs under and which it supersedes.
// Manual card entry uses the same wait with a judge of its own.
EntryOutcome RunEntry(const link::CommandBytes& command, EntryMessage& message,
                      link::LoopStart& start, EntryJudge judge = JudgePinPadMessage,
                      const void* judgeContext = nullptr) noexcept;

}  // namespace vantorel::pinpad
