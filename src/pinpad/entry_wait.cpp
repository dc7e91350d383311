#include "pinpad/entry_wait.h"

#include "link/reply_ownership.h"

namespace vantorel::pinpad {
namespace {

using link::kAck;
using link::kNak;

}  // namespace

Verdict JudgePinPadMessage(const void*, const std::uint8_t* message, int count) noexcept {
  const link::Reply reply(message, count);
  if (reply.HasAck() && reply.Holds(4)) return Verdict::kDone;
  // A refusal is a message of more than the frame's overhead with a NAK at byte 3, or an
  // ACK there and a NAK at byte 4. Byte 4 is read directly: the data view holds it only
  // from eight bytes on, and the terminal's shortest such refusal has seven.
  const bool wholeFrame = reply.Count() > link::kShortFrameOverhead;
  if (wholeFrame && (reply.HasNak() || (reply.HasAck() && message[4] == kNak))) {
    return Verdict::kRefused;
  }
  return Verdict::kKeepWaiting;  // nothing, a read error, a short or unrelated message
}

EntryOutcome RunEntry(const link::CommandBytes& command, EntryMessage& message,
                      link::LoopStart& start, EntryJudge judge, const void* judgeContext) noexcept {
  EntryOutcome outcome;
  link::PollingMode::Ticket entry = 0;
  // A frame this entry would end on is its answer, never a late reply to somebody's command.
  struct Answer {
    EntryJudge judge;
    const void* context;
    static bool Is(const void* self, const std::uint8_t* frame, std::size_t length) {
      const auto* a = static_cast<const Answer*>(self);
      return a->judge(a->context, frame, static_cast<int>(length)) != Verdict::kKeepWaiting;
    }
  } answer{judge, judgeContext};
  const link::CommandOptions immediate{.wait = link::kNoWait, .exchange = {.startsLoop = true}};
  const std::uint8_t rc = link::RunCommand(command, immediate, [&](const link::Reply&) {
    start.Listen(&Answer::Is, &answer);
    entry = start.Begin();
  });
  start.Release();
  if (rc != 1) {
    outcome.code = rc;
    return outcome;
  }

  for (;;) {
    bool done = false;
    link::WithIdleLink([&] {
      // Checked with the link held: an entry that superseded this one did so holding the
      // link too, so its answer is never read here.
      if (!start.Kind().Current(entry)) return;
      message.fill(0);
      const int r = link::ReadMessage(message.data(), message.size(), link::kHidReplyTimeout);
      if (r <= 0) return;
      switch (judge(judgeContext, message.data(), r)) {
        case Verdict::kDone:
          outcome.kind = EntryOutcome::Kind::kMessage;
          outcome.length = r;
          break;
        case Verdict::kRefused:
          outcome.kind = EntryOutcome::Kind::kRefused;
          outcome.code = link::Reply(message.data(), r).Status();
          break;
        case Verdict::kKeepWaiting:
          return;
      }
      start.Kind().End();
      done = true;
    });
    if (done) return outcome;
    link::Pause(link::kEntryPassSleep);
    if (!start.Kind().Current(entry)) {
      outcome.kind = EntryOutcome::Kind::kEndedFromOutside;
      return outcome;
    }
  }
}

}  // namespace vantorel::pinpad
