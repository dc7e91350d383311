#include "link/reply_ownership.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

#include "link/command.h"
#include "link/hid_device.h"
#include "link/serial_port.h"

namespace vantorel::link {
namespace {

using Clock = std::chrono::steady_clock;

// Serial bytes that arrived while a command held the link, for the loop that waits for them.
constexpr std::size_t kInboxSize = 4096;

struct Ownership {
  // A late reply is owed until this time (none when `owed` is false).
  bool owed = false;
  Clock::time_point owedUntil{};
  int listeners = 0;
  std::array<std::uint8_t, kInboxSize> inbox{};
  std::size_t inboxLength = 0;
};

// Touched only with LinkLock held.
Ownership& Own() noexcept {
  static Ownership ownership;
  return ownership;
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

// Bytes nobody asked for: a listening loop gets them (over HID as a kept message), otherwise
// they are dropped.
void HandOn(const std::uint8_t* bytes, std::size_t count, bool keep = false) noexcept {
  Ownership& own = Own();
  if ((own.listeners == 0 && !keep) || count == 0) return;
  if (IsHid()) {
    TheHidDevice().AppendKept(bytes, count);
    return;
  }
  const std::size_t room = own.inbox.size() - own.inboxLength;
  const std::size_t take = std::min(count, room);  // a loop that never reads loses the rest
  std::memcpy(own.inbox.data() + own.inboxLength, bytes, take);
  own.inboxLength += take;
}

// Removes the owed late reply from bytes[0, count) when it is there; the new count. `owed`
// is whether it was still owed when the read began: a read that ends after the window
// closed may still hold a reply that arrived inside it.
std::size_t DropOwedFrame(std::uint8_t* bytes, std::size_t count, bool owed) noexcept {
  if (!owed || !Own().owed) return count;
  FrameSpan frame;
  if (!FindFrame(bytes, count, frame)) return count;
  const std::size_t end = frame.offset + frame.length;
  std::memmove(bytes + frame.offset, bytes + end, count - end);
  std::memset(bytes + count - frame.length, 0, frame.length);
  Own().owed = false;
  return count - frame.length;
}

// Serial: keeps reading until the owed reply came or its window closed; everything else
// that came meanwhile is handed on.
void SettleSerial() noexcept {
  SerialPort& port = TheSerialPort();
  std::array<std::uint8_t, kReplySize> scratch;
  std::size_t gathered = 0;
  for (;;) {
    const int n = port.ReadWaiting(scratch.data() + gathered, scratch.size() - gathered);
    if (n < 0) break;
    gathered += static_cast<std::size_t>(n);
    if (!StillOwed()) break;
    const std::size_t left = DropOwedFrame(scratch.data(), gathered, true);
    if (left != gathered) {
      gathered = left;
      break;
    }
    if (gathered == scratch.size()) {
      HandOn(scratch.data(), gathered);
      gathered = 0;
    }
    if (n == 0) Pause(kSettlePoll);
  }
  HandOn(scratch.data(), gathered);
  // Whatever else waits: a loop's messages or bytes nobody owns.
  for (;;) {
    const int n = port.ReadWaiting(scratch.data(), scratch.size());
    if (n <= 0) break;
    HandOn(scratch.data(), static_cast<std::size_t>(n));
  }
}

bool KeepForLoop(void*, const std::uint8_t* message, std::size_t length) {
  if (StillOwed()) {
    FrameSpan frame;
    if (FindFrame(message, length, frame)) {
      Own().owed = false;
      return false;
    }
  }
  return Own().listeners != 0;
}

// HID: the reports kept from the old handle are sorted, then the new handle is read until
// the owed reply came or its window closed.
void SettleHid() noexcept {
  HidDevice& device = TheHidDevice();
  device.FilterKept(KeepForLoop, nullptr);
  std::array<std::uint8_t, kReplySize> message;
  while (StillOwed()) {
    const auto left =
        std::chrono::duration_cast<Millis>(Own().owedUntil - Clock::now()).count() + 1;
    const int n = device.ReadReply(message.data(), message.size(), static_cast<int>(left));
    if (n > 0 && KeepForLoop(nullptr, message.data(), static_cast<std::size_t>(n))) {
      device.AppendKept(message.data(), static_cast<std::size_t>(n));
    }
  }
}

}  // namespace

void ResetInput() noexcept {
  Ownership& own = Own();
  own.owed = false;
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

void SettleInput() noexcept {
  if (IsHid()) {
    SettleHid();
  } else {
    SettleSerial();
  }
}

void DropUnclaimedInput() noexcept {
  if (Own().listeners != 0) return;
  Own().inboxLength = 0;
  TheHidDevice().ForgetKept();
}

int CarveReply(std::uint8_t* reply, int received, bool startsLoop) noexcept {
  if (received <= 0) return received;
  const auto count = static_cast<std::size_t>(received);
  FrameSpan frame;
  if (!FindFrame(reply, count, frame)) return received;
  HandOn(reply, frame.offset);
  const std::size_t end = frame.offset + frame.length;
  HandOn(reply + end, count - end, startsLoop);
  std::memmove(reply, reply + frame.offset, frame.length);
  std::memset(reply + frame.length, 0, count - frame.length);
  return static_cast<int>(frame.length);
}

int ReadMessage(std::uint8_t* buffer, std::size_t maxLength, int hidTimeoutMs) noexcept {
  const bool owed = StillOwed();
  int received = 0;
  Ownership& own = Own();
  if (IsHid()) {
    received = TheHidDevice().ReadReply(buffer, maxLength, hidTimeoutMs, true);
  } else if (own.inboxLength > 0) {
    // What a command's exchange set aside comes first, as one message.
    const std::size_t n = std::min(own.inboxLength, maxLength);
    std::memcpy(buffer, own.inbox.data(), n);
    std::memmove(own.inbox.data(), own.inbox.data() + n, own.inboxLength - n);
    own.inboxLength -= n;
    received = static_cast<int>(n);
  } else {
    received = TheSerialPort().Read(buffer, maxLength);
  }
  if (received <= 0) return 0;
  return static_cast<int>(DropOwedFrame(buffer, static_cast<std::size_t>(received), owed));
}

int ReadSerialRaw(std::uint8_t* buffer, std::size_t count) noexcept {
  const bool owed = StillOwed();
  Ownership& own = Own();
  int received = 0;
  if (own.inboxLength > 0) {
    const std::size_t n = std::min(own.inboxLength, count);
    std::memcpy(buffer, own.inbox.data(), n);
    std::memmove(own.inbox.data(), own.inbox.data() + n, own.inboxLength - n);
    own.inboxLength -= n;
    received = static_cast<int>(n);
  } else {
    received = TheSerialPort().ReadRaw(buffer, count);
  }
  if (received <= 0) return received;
  return static_cast<int>(DropOwedFrame(buffer, static_cast<std::size_t>(received), owed));
}

void LoopListener::Begin() noexcept {
  if (listening_) return;
  listening_ = true;
  ++Own().listeners;
}

LoopListener::~LoopListener() {
  if (!listening_) return;
  std::lock_guard<std::mutex> lock(LinkLock());
  Ownership& own = Own();
  if (--own.listeners > 0) return;
  // The last loop is gone: what was kept for loops belongs to nobody now.
  own.inboxLength = 0;
  TheHidDevice().ForgetKept();
}

}  // namespace vantorel::link
