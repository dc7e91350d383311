#include "link/command.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "crypto/secure_wipe.h"
#include "link/hid_device.h"
#include "link/reply_ownership.h"
#include "link/serial_port.h"
#include "link/trace.h"
#include "vantorel.h"

namespace vantorel::link {
namespace {

// Reads and drops what is still to come of a serial reply that did not fit, up to the end
// its first bytes state (silence ends it sooner), so that it reaches neither the next
// command nor a loop. Bytes that begin no frame say nothing about their end: nothing more is
// read then, and the next command settles whatever follows.
void DropRestOfReply(const ReadOverflow& overflow) noexcept {
  const std::size_t end = StatedReplyLength(overflow.head, overflow.headLength);
  std::array<std::uint8_t, kReadChunkSize> scratch;
  for (std::size_t arrived = overflow.arrived; arrived < end;) {
    const int n = TheSerialPort().ReadRaw(scratch.data(), std::min(scratch.size(), end - arrived));
    if (n <= 0) return;
    arrived += static_cast<std::size_t>(n);
  }
}

// "the command 78 46 01": class, function and sub-command, which never carry a secret. A
// ready frame (a picture) is named by that alone.
void NoteCommand(const Outgoing& outgoing, const Reply& view, int received) noexcept {
  const std::uint8_t* bytes = nullptr;
  std::size_t length = 0;
  if (outgoing.command != nullptr) {
    bytes = outgoing.command->data();
    length = outgoing.command->size();
  }
  char what[40] = "the command";
  if (length >= 3) {
    std::snprintf(what, sizeof what, "the command %02X %02X %02X", bytes[0], bytes[1], bytes[2]);
  }
  NoteUnacknowledged(view, received, what);
}

// Composes and frames the command in commandBuffer (or takes the frame given) and exchanges
// it into `area` (empty: only written).
int ComposeAndExchange(const Outgoing& outgoing, std::span<std::uint8_t> area,
                       const ExchangeOptions& options) noexcept {
  if (outgoing.command == nullptr) {
    return Exchange(outgoing.frame.data(), outgoing.frame.size(), area.data(), area.size(),
                    options);
  }
  auto& buffer = CommandBuffer();
  std::memcpy(buffer.data(), outgoing.command->data(), outgoing.command->size());
  const std::size_t frameLength = BuildFrame(buffer.data(), outgoing.command->size());
  const int received = Exchange(buffer.data(), frameLength, area.data(), area.size(), options);
  // The command may have carried an account number or key bytes.
  crypto::SecureWipe(buffer.data(), frameLength);
  return received;
}

}  // namespace

const char* LinkDeviceName(char* out, std::size_t outSize) noexcept {
  if (outSize == 0) return out;
  const LinkState& state = State();
  if (state.linkIsHid.load() != 0) {
    std::snprintf(out, outSize, "the HID device %04X:%04X",
                  static_cast<unsigned>(state.hidVendorId.load()) & 0xFFFFu,
                  static_cast<unsigned>(state.hidProductId.load()) & 0xFFFFu);
  } else {
    std::snprintf(out, outSize, "%s", TheSerialPort().Device());
  }
  return out;
}

void NoteUnacknowledged(const Reply& reply, int received, const char* what) noexcept {
  char device[kDeviceNameSize];
  LinkDeviceName(device, sizeof device);
  if (received <= 0) {
    last_error::Cause("no reply from %s to %s", device, what);
  } else if (reply.RefusalStatus() != 0 || reply.HasNak()) {
    last_error::Cause("%s refused with status 0x%02X", what, reply.RefusalStatus());
  } else if (reply.HasAck()) {
    last_error::Cause("the reply from %s to %s is too short (%d bytes)", device, what, received);
  } else {
    last_error::Cause("a garbled reply from %s to %s (%d bytes that are no reply frame)", device,
                      what, received);
  }
}

int Exchange(const std::uint8_t* frame, std::size_t frameLength, std::uint8_t* reply,
             std::size_t replyCapacity, const ExchangeOptions& options) noexcept {
  if (reply != nullptr) std::fill_n(reply, replyCapacity, std::uint8_t{0});
  const ExchangeEndMark endMark;
  trace::FrameSent(frame, frameLength);
  LinkState& state = State();
  ReplyRead how;
  how.longToo = options.longToo;
  how.startsLoop = options.startsLoop;
  how.hidTimeout = options.hidTimeout;
  int received = 0;
  bool overflowed = false;
  if (state.linkIsHid.load() != 0) {
    HidDevice& device = TheHidDevice();
    if (device.Open(state.hidVendorId.load(), state.hidProductId.load(), PromptTiming()) == 0)
      return 0;
    SettleInput(options.forLoop);
    KeepMinimumGap();
    if (device.WriteFrame(frame, frameLength) == 0 || reply == nullptr) return 0;
    how.limit = replyCapacity;
    received = ReadHidReply(reply, how, options.wholeReply ? &overflowed : nullptr);
  } else {
    SerialPort& port = TheSerialPort();
    SettleInput(options.forLoop);
    KeepMinimumGap();
    port.Write(frame, frameLength);
    if (reply == nullptr) return 0;
    PauseAfterWrite(options.serialWait);
    how.limit = std::min(options.serialLimit, replyCapacity);
    how.endAtFrame = PromptTiming();
    how.firstByteGrace = FirstByteGrace(options.serialWait);
    ReadOverflow overflow;
    received = ReadSerialReply(reply, how, options.wholeReply ? &overflow : nullptr);
    if (overflow.happened) {
      DropRestOfReply(overflow);
      overflowed = true;
    }
  }
  if (overflowed) {
    // It came, so nothing is owed; but no part of it is taken for the whole: cut to what
    // fit, the data would be a different text or block than the terminal sent, and a
    // different one on each transport.
    trace::ReplyReceived(frame, frameLength, reply, received);
    trace::Note("reply larger than the room for it: dropped whole");
    crypto::SecureWipe(reply, replyCapacity);
    char device[kDeviceNameSize];
    last_error::Cause("a reply from %s larger than the room for it (%u bytes), dropped whole",
                      LinkDeviceName(device, sizeof device), static_cast<unsigned>(replyCapacity));
    return 0;
  }
  received = std::max(received, 0);  // a failed read counts as no reply
  if (received == 0 && options.replyMayComeLate) NoteUnanswered();
  received = CarveReply(reply, received, options.startsLoop, options.longToo);
  trace::ReplyReceived(frame, frameLength, reply, received);
  return received;
}

std::uint8_t RunCommandWith(const Outgoing& outgoing, const CommandOptions& options,
                            ReplyHandler onSuccess, void* context) noexcept {
  if (outgoing.command != nullptr && !outgoing.command->Fits()) return VANTOREL_INVALID_ARGUMENT;
  std::optional<LinkGuard> guard;
  if (!options.linkHeld) {
    guard.emplace();
    if (!LinkIsOpen()) return VANTOREL_NOT_OPEN;
  }
  PauseBeforeWrite(options.wait);
  if (options.proceed != nullptr && !options.proceed(options.proceedContext))
    return VANTOREL_SUCCESS;
  const bool hid = State().linkIsHid.load() != 0;
  const bool read =
      options.reply == ReplyUse::kDroppedOverHid ? hid : options.reply != ReplyUse::kNotRead;
  std::array<std::uint8_t, kReplySize> ownArea;
  // The reply may hold a secret the handler reads (a key field, card data): wiped on return.
  const crypto::ScopedWipe wipe(ownArea.data(), ownArea.size());
  const std::span<std::uint8_t> area = !read ? std::span<std::uint8_t>()
                                       : options.replyArea.empty()
                                           ? std::span<std::uint8_t>(ownArea)
                                           : options.replyArea;
  const int received = ComposeAndExchange(outgoing, area, options.exchange);
  if (!read) NoteSentWithoutReading();
  if (options.afterExchange != nullptr) options.afterExchange();
  if (options.reply == ReplyUse::kDroppedOverHid || options.reply == ReplyUse::kNotRead)
    return VANTOREL_SUCCESS;
  const Reply view = options.exchange.longToo
                         ? Reply::EitherLayout(area.data(), static_cast<std::size_t>(received))
                         : Reply(area.data(), received);
  if (options.reply == ReplyUse::kHandedOn) {
    if (onSuccess != nullptr) onSuccess(context, view);
    return VANTOREL_SUCCESS;
  }
  if (!view.Acked(options.accept)) {
    if (options.exchange.startsLoop) DropUnclaimedInput();
    if (options.noteUnacknowledged != nullptr) {
      options.noteUnacknowledged(view, received);
    } else {
      NoteCommand(outgoing, view, received);
    }
    return view.Status();
  }
  if (onSuccess != nullptr && !onSuccess(context, view)) {
    last_error::Cause("the reply lacks what the call reads from it (%u bytes)",
                      static_cast<unsigned>(view.Count()));
    return VANTOREL_FAILURE;
  }
  return VANTOREL_SUCCESS;
}

}  // namespace vantorel::link
