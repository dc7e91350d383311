#include "link/reply_ownership.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "crypto/secure_wipe.h"
#include "link/command.h"
#include "link/hid_device.h"
#include "link/serial_port.h"
#include "link/trace.h"

namespace vantorel::link {
namespace {

using Clock = std::chrono::steady_clock;

// A command's read gives up once this many bytes that were not its reply went by.
constexpr std::size_t kForeignLimit = 4096;

using Ownership = InputOwnership;

// Touched only with LinkLock held.
Ownership& Own() noexcept {
  return State().input;
}

bool IsHid() noexcept {
  return State().linkIsHid.load() != 0;
}

// True while a late reply is still owed; an expired debt is forgotten.
bool StillOwed() noexcept {
  Ownership& own = Own();
  if (own.owed && Clock::now() >= own.owedUntil) own.owed = false;
  return own.owed;
}

// Whether a listening loop waits for this frame.
bool LoopWaitsFor(const std::uint8_t* frame, std::size_t length) noexcept {
  for (const Ownership::Claimant& c : Own().claimants) {
    if (c.test != nullptr && c.test(c.context, frame, length)) return true;
  }
  return false;
}

void NoteLost(std::size_t count) noexcept {
  if (!trace::On()) [[likely]]
    return;  // the line is formatted only for the trace
  char text[128];
  std::snprintf(text, sizeof text,
                "%zu bytes for the listening loop lost (pen data or messages): no room left",
                count);
  trace::Note(text);
}

void ForgetHeld() noexcept {
  Ownership& own = Own();
  crypto::SecureWipe(own.held.data(), own.heldLength);
  own.heldLength = 0;
}

void TakeFromInbox(std::uint8_t* out, std::size_t n) noexcept {
  Ownership& own = Own();
  std::memcpy(out, own.inbox.data(), n);
  std::memmove(own.inbox.data(), own.inbox.data() + n, own.inboxLength - n);
  crypto::SecureWipe(own.inbox.data() + own.inboxLength - n, n);
  own.inboxLength -= n;
}

// Bytes nobody asked for: a listening loop gets them (over HID as a kept message), otherwise
// they are dropped.
void HandOn(const std::uint8_t* bytes, std::size_t count, bool keep = false) noexcept {
  Ownership& own = Own();
  if ((own.listeners == 0 && !keep) || count == 0) return;
  if (IsHid()) {
    const std::size_t kept = TheHidDevice().AppendKept(bytes, count);
    if (kept < count) NoteLost(count - kept);
    return;
  }
  const std::size_t room = own.inbox.size() - own.inboxLength;
  const std::size_t take = std::min(count, room);
  std::memcpy(own.inbox.data() + own.inboxLength, bytes, take);
  own.inboxLength += take;
  if (take < count) NoteLost(count - take);
}

// Bytes a command's read met beside its reply: they came after any frame held back, which was
// therefore the late reply (the terminal answers in order).
void HandOnArrived(const std::uint8_t* bytes, std::size_t count, bool keep = false) noexcept {
  Ownership& own = Own();
  if (count != 0 && own.heldLength > 0) {
    ForgetHeld();
    own.owed = false;
  }
  HandOn(bytes, count, keep);
}

// The late-reply rule, for input in the order it arrived while a reply is owed; returns the
// count left in bytes[0, count). The first complete frame is the late reply and is removed,
// unless a listening loop would take it as its message and nothing came behind it: then it is
// held back (it may be the loop's: an entry's answer, framed card data). Any input after a
// held frame shows that frame was the late reply (the terminal answers in order); a window
// that closes with nothing more shows it was the loop's (ReleaseHeld).
std::size_t SortOwed(std::uint8_t* bytes, std::size_t count) noexcept {
  Ownership& own = Own();
  if (!own.owed || count == 0) return count;
  if (own.heldLength > 0) {
    ForgetHeld();
    own.owed = false;
    return count;
  }
  FrameSpan frame;
  if (!FindFrame(bytes, count, frame)) return count;
  const std::size_t end = frame.offset + frame.length;
  if (end == count && frame.length <= own.held.size() &&
      LoopWaitsFor(bytes + frame.offset, frame.length)) {
    std::memcpy(own.held.data(), bytes + frame.offset, frame.length);
    own.heldLength = frame.length;
  } else {
    own.owed = false;
  }
  std::memmove(bytes + frame.offset, bytes + end, count - end);
  crypto::SecureWipe(bytes + count - frame.length, frame.length);
  return count - frame.length;
}

// A held frame whose window closed is the loop's: handed on to it.
void ReleaseHeld() noexcept {
  Ownership& own = Own();
  if (own.heldLength == 0 || StillOwed()) return;
  std::array<std::uint8_t, kReplySize> frame;
  const std::size_t n = own.heldLength;
  std::memcpy(frame.data(), own.held.data(), n);
  ForgetHeld();
  HandOn(frame.data(), n);
  crypto::SecureWipe(frame.data(), n);
}

// Serial: keeps reading until the owed reply came or its window closed; everything else
// that came meanwhile is handed on.
void SettleSerial(bool forLoop) noexcept {
  SerialPort& port = TheSerialPort();
  Ownership& own = Own();
  std::array<std::uint8_t, kReplySize> scratch;
  std::size_t gathered = 0;
  for (;;) {
    const int n = port.ReadWaiting(scratch.data() + gathered, scratch.size() - gathered);
    if (n < 0) break;
    gathered += static_cast<std::size_t>(n);
    if (!StillOwed() || (forLoop && own.heldLength > 0)) break;
    const bool wasHeld = own.heldLength > 0;
    gathered = SortOwed(scratch.data(), gathered);
    if (!own.owed) break;  // the late reply came
    if ((own.heldLength > 0 && !wasHeld) || gathered == scratch.size()) {
      // What came before a frame just held, or a full scratch area: the loop's.
      HandOn(scratch.data(), gathered);
      gathered = 0;
    }
    if (n == 0) Pause(kSettlePoll);
  }
  ReleaseHeld();
  HandOn(scratch.data(), gathered);
  // Whatever else waits: a loop's messages or bytes nobody owns.
  for (;;) {
    const int n = port.ReadWaiting(scratch.data(), scratch.size());
    if (n <= 0) break;
    HandOn(scratch.data(), static_cast<std::size_t>(n));
  }
  crypto::SecureWipe(scratch.data(), scratch.size());
}

// HID, one message at a time in the order it arrived: false when it is removed (the late
// reply, or held back), true when a listening loop keeps it.
bool KeepForLoop(void*, const std::uint8_t* message, std::size_t length) {
  if (StillOwed()) {
    std::array<std::uint8_t, kReplySize> copy;
    const std::size_t n = std::min(length, copy.size());
    std::memcpy(copy.data(), message, n);
    const std::size_t left = SortOwed(copy.data(), n);
    crypto::SecureWipe(copy.data(), copy.size());
    if (left != n) return false;
  }
  return Own().listeners != 0;
}

// HID: the reports kept from the old handle are sorted, then the new handle is read until
// the owed reply came or its window closed. A read that fails at once (a device gone) is
// followed by a short pause, so the wait never spins.
void SettleHid(bool forLoop) noexcept {
  HidDevice& device = TheHidDevice();
  device.FilterKept(KeepForLoop, nullptr);
  std::array<std::uint8_t, kReplySize> message;
  while (StillOwed() && !(forLoop && Own().heldLength > 0)) {
    const Millis left =
        std::chrono::duration_cast<Millis>(Own().owedUntil - Clock::now()) + Millis{1};
    const auto began = Clock::now();
    const int n = device.ReadReply(message.data(), message.size(), left);
    if (n > 0 && KeepForLoop(nullptr, message.data(), static_cast<std::size_t>(n))) {
      HandOn(message.data(), static_cast<std::size_t>(n));
    }
    if (n <= 0 && Clock::now() - began < kSettlePoll) Pause(kSettlePoll);
  }
  ReleaseHeld();
  crypto::SecureWipe(message.data(), message.size());
}

// Where, in area[0, count), the reply may still begin: the first STX whose frame is complete
// or may yet complete within `limit`. Everything before it belongs to somebody else. `count`
// when no byte can begin it.
std::size_t PossibleReplyStart(const std::uint8_t* area, std::size_t count, std::size_t limit,
                               bool longToo) noexcept {
  FrameSpan frame;
  const bool complete = FindFrame(area, count, frame, longToo);
  for (std::size_t i = 0; i < count; ++i) {
    if (complete && i == frame.offset) return i;
    if (FramePending(area + i, count - i, limit, longToo)) return i;
  }
  return count;
}

}  // namespace

void ResetInput() noexcept {
  Ownership& own = Own();
  own.owed = false;
  ForgetHeld();
  crypto::SecureWipe(own.inbox.data(), own.inboxLength);
  own.inboxLength = 0;
  TheHidDevice().ForgetKept();
}

void NoteUnanswered() noexcept {
  Ownership& own = Own();
  own.owed = true;
  own.owedUntil = Clock::now() + kLateReplyWindow;
}

void NoteSentWithoutReading() noexcept {
  if (Own().listeners == 0) NoteUnanswered();
}

void SettleInput(bool forLoop) noexcept {
  if (IsHid()) {
    SettleHid(forLoop);
  } else {
    SettleSerial(forLoop);
  }
}

void LoopMessageArrived() noexcept {
  Ownership& own = Own();
  if (own.heldLength == 0) return;
  ForgetHeld();
  own.owed = false;
}

void DropUnclaimedInput() noexcept {
  if (Own().listeners != 0) return;
  Ownership& own = Own();
  crypto::SecureWipe(own.inbox.data(), own.inboxLength);
  own.inboxLength = 0;
  TheHidDevice().ForgetKept();
}

int CarveReply(std::uint8_t* reply, int received, bool startsLoop, bool longToo) noexcept {
  if (received <= 0) return received;
  const auto count = static_cast<std::size_t>(received);
  FrameSpan frame;
  if (!FindFrame(reply, count, frame, longToo)) return received;
  HandOnArrived(reply, frame.offset);
  const std::size_t end = frame.offset + frame.length;
  HandOnArrived(reply + end, count - end, startsLoop);
  std::memmove(reply, reply + frame.offset, frame.length);
  crypto::SecureWipe(reply + frame.length, count - frame.length);
  return static_cast<int>(frame.length);
}

int ReadSerialReply(std::uint8_t* reply, const ReplyRead& how, ReadOverflow* overflow) noexcept {
  SerialPort& port = TheSerialPort();
  const std::size_t limit = how.limit;
  std::array<std::uint8_t, kReadChunkSize> chunk;
  const ReadEnd later{how.endAtFrame, Millis{0}};
  int got = port.ReadRaw(chunk.data(), chunk.size(), {how.endAtFrame, how.firstByteGrace});
  if (got < 0) return -1;
  // A lone ACK or status byte is a complete answer.
  if (got == 1 && chunk[0] != kEtx && limit >= 1) {
    reply[0] = chunk[0];
    return 1;
  }
  std::size_t count = 0;
  std::size_t foreign = 0;
  // The reply is whole and the line goes on: what follows is somebody else's. The reply is
  // carved now, so the bytes behind it are handed on before `rest`.
  const auto endWith = [&](const std::uint8_t* rest, std::size_t restLength) {
    count = static_cast<std::size_t>(
        CarveReply(reply, static_cast<int>(count), how.startsLoop, how.longToo));
    HandOnArrived(rest, restLength, how.startsLoop);
    crypto::SecureWipe(chunk.data(), chunk.size());
    return static_cast<int>(count);
  };
  FrameSpan frame;
  bool complete = false;
  while (got > 0) {
    const auto length = static_cast<std::size_t>(got);
    if (complete) return endWith(chunk.data(), length);
    for (std::size_t used = 0; used < length;) {
      if (count == limit) {
        if (FindFrame(reply, count, frame, how.longToo)) {
          return endWith(chunk.data() + used, length - used);
        }
        // No room left. A reply that began the read and states more than the room is too
        // large: the read ends as it always did, and the caller drops the rest.
        if (foreign == 0 && reply[0] == kStx && !FramePending(reply, count, limit, how.longToo)) {
          if (overflow != nullptr) {
            overflow->happened = true;
            overflow->arrived = count + (length - used);
            overflow->headLength = std::min(count, sizeof overflow->head);
            std::memcpy(overflow->head, reply, overflow->headLength);
          }
          crypto::SecureWipe(chunk.data(), chunk.size());
          return static_cast<int>(count);
        }
        // Otherwise the bytes that cannot begin the reply belong to somebody else.
        const std::size_t skip =
            std::max<std::size_t>(PossibleReplyStart(reply, count, limit, how.longToo), 1);
        HandOnArrived(reply, skip, how.startsLoop);
        std::memmove(reply, reply + skip, count - skip);
        count -= skip;
        foreign += skip;
      }
      const std::size_t take = std::min(length - used, limit - count);
      std::memcpy(reply + count, chunk.data() + used, take);
      count += take;
      used += take;
    }
    complete = FindFrame(reply, count, frame, how.longToo);
    if (complete && how.endAtFrame) return endWith(nullptr, 0);
    if (foreign > kForeignLimit) break;  // the reply is lost among others' bytes
    got = port.ReadRaw(chunk.data(), chunk.size(), later);
    if (got < 0) {
      crypto::SecureWipe(chunk.data(), chunk.size());
      return -1;
    }
  }
  crypto::SecureWipe(chunk.data(), chunk.size());
  return static_cast<int>(count);
}

int ReadHidReply(std::uint8_t* reply, const ReplyRead& how, bool* overflowed) noexcept {
  HidDevice& device = TheHidDevice();
  std::size_t foreign = 0;
  for (;;) {
    const int n = device.ReadReply(reply, how.limit, how.hidTimeout, false, overflowed);
    if (n <= 1 || reply[0] == kStx || Own().listeners == 0) return n;
    if (overflowed != nullptr && *overflowed) return n;
    // A message that begins no frame while a loop listens: a pen report, card data. It is
    // the loop's; the reply is still to come.
    const auto length = static_cast<std::size_t>(n);
    HandOnArrived(reply, length);
    crypto::SecureWipe(reply, length);
    foreign += length;
    if (foreign > kForeignLimit) return 0;
  }
}

int ReadMessage(std::uint8_t* buffer, std::size_t maxLength, Millis hidTimeout) noexcept {
  Ownership& own = Own();
  // A frame held back while a late reply was owed: the window closed and nothing else came, so
  // the terminal never answered that command, and the frame is the loop's message after all.
  if (own.heldLength > 0 && !StillOwed()) {
    const std::size_t n = std::min(own.heldLength, maxLength);
    std::memcpy(buffer, own.held.data(), n);
    ForgetHeld();
    return static_cast<int>(n);
  }
  const bool owed = StillOwed();
  int received = 0;
  if (IsHid()) {
    received = TheHidDevice().ReadReply(buffer, maxLength, hidTimeout, true);
  } else if (own.inboxLength > 0) {
    // What a command's exchange set aside comes first, as one message.
    const std::size_t n = std::min(own.inboxLength, maxLength);
    TakeFromInbox(buffer, n);
    received = static_cast<int>(n);
  } else {
    received = TheSerialPort().Read(buffer, maxLength);
  }
  trace::MessageReceived(buffer, received);
  if (received <= 0) return 0;
  if (!owed && own.heldLength == 0) return received;
  return static_cast<int>(SortOwed(buffer, static_cast<std::size_t>(received)));
}

int ReadSerialRaw(std::uint8_t* buffer, std::size_t count) noexcept {
  const bool owed = StillOwed();
  Ownership& own = Own();
  int received = 0;
  if (own.inboxLength > 0) {
    const std::size_t n = std::min(own.inboxLength, count);
    TakeFromInbox(buffer, n);
    received = static_cast<int>(n);
  } else {
    received = TheSerialPort().ReadRaw(buffer, count);
  }
  trace::MessageReceived(buffer, received);
  if (received <= 0 || (!owed && own.heldLength == 0)) return received;
  return static_cast<int>(SortOwed(buffer, static_cast<std::size_t>(received)));
}

void LoopListener::Begin(LoopMessageTest isMessage, const void* context) noexcept {
  Ownership& own = Own();
  if (isMessage != nullptr && claimant_ < 0) {
    for (std::size_t i = 0; i < own.claimants.size(); ++i) {
      if (own.claimants[i].test != nullptr) continue;
      own.claimants[i] = {isMessage, context};
      claimant_ = static_cast<int>(i);
      break;
    }
  }
  if (listening_) return;
  listening_ = true;
  ++own.listeners;
}

LoopListener::~LoopListener() {
  if (!listening_) return;
  std::lock_guard<std::mutex> lock(LinkLock());
  Ownership& own = Own();
  // The loop's message test points into its frame: gone with it.
  if (claimant_ >= 0) own.claimants[static_cast<std::size_t>(claimant_)] = {};
  if (--own.listeners > 0) return;
  ForgetHeld();
  // The last loop is gone: what was kept for loops belongs to nobody now.
  crypto::SecureWipe(own.inbox.data(), own.inboxLength);
  own.inboxLength = 0;
  TheHidDevice().ForgetKept();
}

bool KeptBuffersHold(const std::uint8_t* needle, std::size_t length) noexcept {
  const auto holds = [&](const std::uint8_t* hay, std::size_t n) {
    return length != 0 && n >= length &&
           std::search(hay, hay + n, needle, needle + length) != hay + n;
  };
  const auto& buffer = CommandBuffer();
  return holds(buffer.data(), buffer.size()) || holds(Own().inbox.data(), Own().inbox.size()) ||
         holds(Own().held.data(), Own().held.size()) || TheHidDevice().KeptHolds(needle, length);
}

}  // namespace vantorel::link
