#include "pinpad/entry_wait.h"

#include <algorithm>
#include <atomic>

#include "link/reply_ownership.h"

namespace vantorel::pinpad {
namespace {

using link::kAck;
using link::kNak;

// Which wait started last. Two waits under the same flag (two encrypted-data entries from
// two threads) would otherwise both wait for the one answer the terminal gives, and the
// loser would wait for ever; the older one ends as superseded instead. Written and read
// with the link lock held.
std::atomic<std::uint64_t> currentEntry{0};

std::atomic<std::uint8_t>& FlagOf(WaitFlag flag) noexcept {
  auto& state = link::State();
  return flag == WaitFlag::kPinEntry ? state.pinEntryActive : state.encryptedEntryActive;
}

// Link held. Takes the other kind's flag away and raises our own.
std::uint64_t BeginWait(WaitFlag flag) noexcept {
  auto& state = link::State();
  if (flag == WaitFlag::kEncryptedEntry) {
    state.encryptedEntryActive = 1;
    state.pinEntryActive = 0;
  } else {
    state.encryptedEntryActive = 0;
    state.pinEntryActive = 1;
  }
  return ++currentEntry;
}

bool StillWaiting(WaitFlag flag, std::uint64_t entry) noexcept {
  return FlagOf(flag).load() != 0 && currentEntry.load() == entry;
}

}  // namespace

Verdict JudgePinPadMessage(const void*, const std::uint8_t* message, int count) noexcept {
  if (count > 10 && message[3] == kAck) return Verdict::kDone;
  if (count > 6 && (message[3] == kNak || (message[3] == kAck && message[4] == kNak))) {
    return Verdict::kRefused;
  }
  return Verdict::kKeepWaiting;  // nothing, a read error, a short or unrelated message
}

EntryOutcome RunEntry(const link::CommandBytes& command, WaitFlag flag, EntryMessage& message,
                      EntryJudge judge, const void* judgeContext) noexcept {
  EntryOutcome outcome;
  std::uint64_t entry = 0;
  link::LoopListener listener;
  const std::uint8_t rc = link::RunCommand(command, {link::Accept::Ack, link::Millis{0}, true},
                                           [&](const std::uint8_t*, int) {
                                             entry = BeginWait(flag);
                                             listener.Begin();
                                           });
  if (rc != 1) {
    outcome.code = rc;
    return outcome;
  }

  for (;;) {
    bool done = false;
    link::WithIdleLink([&] {
      // Checked with the link held: an entry that superseded this one did so holding the
      // link too, so its answer is never read here.
      if (!StillWaiting(flag, entry)) return;
      message.fill(0);
      const int r = link::ReadMessage(message.data(), message.size(), link::kHidReplyTimeoutMs);
      if (r <= 0) return;
      switch (judge(judgeContext, message.data(), r)) {
        case Verdict::kDone:
          outcome.kind = EntryOutcome::Kind::kMessage;
          outcome.length = r;
          break;
        case Verdict::kRefused:
          outcome.kind = EntryOutcome::Kind::kRefused;
          outcome.code = link::MapReplyStatus(message.data());
          break;
        case Verdict::kKeepWaiting:
          return;
      }
      FlagOf(flag) = 0;
      done = true;
    });
    if (done) return outcome;
    link::Pause(link::kEntryPassSleep);
    if (!StillWaiting(flag, entry)) {
      outcome.kind = EntryOutcome::Kind::kEndedFromOutside;
      return outcome;
    }
  }
}

}  // namespace vantorel::pinpad
