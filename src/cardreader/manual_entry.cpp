// Manual card entry: one command describing the entry, then a wait of its own for the
// terminal's answer.
#include "cardreader/manual_entry.h"

#include <array>
#include <cstring>

#include "crypto/secure_wipe.h"
#include "link/command.h"
#include "link/trace.h"
#include "pinpad/entry_wait.h"
#include "pinpad/prompt_line.h"

namespace vantorel::cardreader {
namespace {

// A data-returning entry ends on the first message longer than this, whatever its status.
constexpr int kDataMessageMinimum = 11;

using pinpad::Verdict;

// Deliberately not the PIN-pad rule: a data-returning entry ends on any message longer than
// 10 bytes, an acknowledged one on an ACK of any length, and only a NAK at byte 3 refuses.
Verdict Judge(const void* context, const std::uint8_t* message, int count) noexcept {
  const bool endsOnAck = *static_cast<const bool*>(context);
  const link::Reply reply(message, count);
  if (endsOnAck) {
    if (reply.HasAck()) return Verdict::kDone;
  } else if (count >= kDataMessageMinimum) {
    return Verdict::kDone;
  }
  if (reply.HasNak()) return Verdict::kRefused;
  return Verdict::kKeepWaiting;
}

}  // namespace

bool ManualEntryValuesValid(const ManualEntryRequest& r) noexcept {
  return r.mode <= 1 && r.entryKind >= 1 && r.entryKind <= 3 && r.upperBound >= r.lowerBound &&
         r.selector <= 3 && pinpad::PromptLineCount(r.promptLineCount) <= pinpad::kMaxPromptLines;
}

std::size_t BuildManualEntryBody(const ManualEntryRequest& r, std::uint8_t* out) noexcept {
  link::ByteWriter<kManualBodyCapacity> body;
  body.Byte(r.mode).Byte(r.entryKind).Byte(r.upperBound).Byte(r.lowerBound);
  pinpad::PutEntryFields(body, r);
  if (!body.Fits()) return 0;
  std::memcpy(out, body.data(), body.size());
  return body.size();
}

}  // namespace vantorel::cardreader

using namespace vantorel;

extern "C" unsigned char VANTOREL_CALL
MSR_ManualInputCardData(ManualEntryRequest request) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!link::LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  link::LoopStart start(link::Mode::kManualEntry);
  if (const auto rc = start.Claim(); rc != 0) return call.Result(rc);
  if (!cardreader::ManualEntryValuesValid(request) || request.result == nullptr ||
      request.resultLength == nullptr) {
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  }
  std::array<std::uint8_t, cardreader::kManualBodyCapacity> body;
  const std::size_t bodyLength = cardreader::BuildManualEntryBody(request, body.data());
  if (bodyLength == 0) return call.Result(VANTOREL_INVALID_ARGUMENT);
  link::CommandBytes command{link::Command::kManualEntry};
  command.Bytes(body.data(), bodyLength);

  // The claim taken with the state checks keeps PIN entries and secure reading away until
  // the terminal answered. It is not the wait: an encrypted-data entry acknowledged while
  // this command is on its way may clear the flag, and the wait then raises it again once
  // the terminal acknowledged this entry (the later of the two runs on the terminal).
  const bool endsOnAck = cardreader::EndsOnAck(request);
  pinpad::EntryMessage message;
  const crypto::ScopedWipe wipe(message.data(), message.size());
  const pinpad::EntryOutcome outcome =
      pinpad::RunEntry(command, message, start, cardreader::Judge, &endsOnAck);
  switch (outcome.kind) {
    case pinpad::EntryOutcome::Kind::kMessage:
      if (endsOnAck) {
        *request.resultLength = 0;
      } else {
        std::memcpy(request.result, message.data(), static_cast<std::size_t>(outcome.length));
        *request.resultLength = outcome.length;
      }
      return call.Result(VANTOREL_SUCCESS);
    case pinpad::EntryOutcome::Kind::kEndedFromOutside:
      return call.Result(VANTOREL_FAILURE);  // closed, or superseded by an encrypted-data entry
    case pinpad::EntryOutcome::Kind::kNotStarted:
      return call.Result(outcome.code);
    case pinpad::EntryOutcome::Kind::kRefused:
      break;
  }
  return call.Result(outcome.code);
}
