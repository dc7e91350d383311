#include "link/command.h"

#include <algorithm>
#include <cstdio>

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
    last_error::Cause("a reply from %s larger than the room for it (%zu bytes), dropped whole",
                      LinkDeviceName(device, sizeof device), replyCapacity);
    return 0;
  }
  received = std::max(received, 0);  // a failed read counts as no reply
  if (received == 0 && options.replyMayComeLate) NoteUnanswered();
  received = CarveReply(reply, received, options.startsLoop, options.longToo);
  trace::ReplyReceived(frame, frameLength, reply, received);
  return received;
}

int ExchangeCommand(const CommandBytes& command, std::uint8_t* reply, std::size_t replyCapacity,
                    const ExchangeOptions& options) noexcept {
  auto& buffer = CommandBuffer();
  std::memcpy(buffer.data(), command.data(), command.size());
  const std::size_t frameLength = BuildFrame(buffer.data(), command.size());
  const int received = Exchange(buffer.data(), frameLength, reply, replyCapacity, options);
  // The command may have carried an account number or key bytes.
  crypto::SecureWipe(buffer.data(), frameLength);
  return received;
}

void SendFrame(const std::uint8_t* frame, std::size_t frameLength) noexcept {
  // Over HID the device is opened and written as in any exchange; nothing is read.
  Exchange(frame, frameLength, nullptr, 0);
}

std::uint8_t RunCommandWith(const Outgoing& outgoing, const CommandOptions& options,
                            ReplyHandler onSuccess, void* context) noexcept {
  if (outgoing.command != nullptr && !outgoing.command->Fits()) return VANTOREL_INVALID_ARGUMENT;
  LinkGuard guard;
  if (!LinkIsOpen()) return VANTOREL_NOT_OPEN;
  PauseBeforeWrite(options.wait);
  if (options.proceed != nullptr && !options.proceed(options.proceedContext))
    return VANTOREL_SUCCESS;
  std::array<std::uint8_t, kReplySize> ownArea;
  // The reply may hold a secret the handler reads (a key field, card data): wiped on return.
  const crypto::ScopedWipe wipe(ownArea.data(), ownArea.size());
  const std::span<std::uint8_t> area =
      options.replyArea.empty() ? std::span<std::uint8_t>(ownArea) : options.replyArea;
  ExchangeOptions exchange;
  exchange.startsLoop = options.startsLoop;
  exchange.serialLimit = options.serialLimit;
  exchange.hidTimeout = options.hidTimeout;
  exchange.longToo = options.eitherLayout;
  exchange.wholeReply = options.wholeReply;
  const int received = outgoing.command != nullptr
                           ? ExchangeCommand(*outgoing.command, area.data(), area.size(), exchange)
                           : Exchange(outgoing.frame.data(), outgoing.frame.size(), area.data(),
                                      area.size(), exchange);
  if (options.afterExchange != nullptr) options.afterExchange();
  const Reply view = options.eitherLayout
                         ? Reply::EitherLayout(area.data(), static_cast<std::size_t>(received))
                         : Reply(area.data(), received);
  if (!view.Acked(options.accept)) {
    if (options.startsLoop) DropUnclaimedInput();
    NoteCommand(outgoing, view, received);
    return view.Status();
  }
  if (onSuccess != nullptr && !onSuccess(context, view)) {
    last_error::Cause("the reply lacks what the call reads from it (%zu bytes)", view.Count());
    return VANTOREL_FAILURE;
  }
  return VANTOREL_SUCCESS;
}

std::uint8_t SendCommand(const CommandBytes& command, bool exchangeOverHid) noexcept {
  if (!command.Fits()) return VANTOREL_INVALID_ARGUMENT;
  LinkGuard guard;
  if (!LinkIsOpen()) return VANTOREL_NOT_OPEN;
  PauseBeforeWrite(kCommandWait);
  if (exchangeOverHid && State().linkIsHid.load() != 0) {
    // The terminal's answer, if any, is read and ignored: left on the line it would reach
    // whichever loop reads next.
    std::array<std::uint8_t, kReplySize> reply;
    ExchangeOptions options;
    options.replyMayComeLate = false;
    ExchangeCommand(command, reply.data(), reply.size(), options);
    return VANTOREL_SUCCESS;
  }
  auto& buffer = CommandBuffer();
  std::memcpy(buffer.data(), command.data(), command.size());
  const std::size_t frameLength = BuildFrame(buffer.data(), command.size());
  SendFrame(buffer.data(), frameLength);
  crypto::SecureWipe(buffer.data(), frameLength);
  NoteSentWithoutReading();
  return VANTOREL_SUCCESS;
}

}  // namespace vantorel::link
