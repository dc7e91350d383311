#include "link/command.h"

#include <algorithm>

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

}  // namespace

int Exchange(const std::uint8_t* frame, std::size_t frameLength, std::uint8_t* reply,
             std::size_t replyCapacity, const ExchangeOptions& options) noexcept {
  if (reply != nullptr) std::fill_n(reply, replyCapacity, std::uint8_t{0});
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
    if (device.Open(state.hidVendorId.load(), state.hidProductId.load()) == 0) return 0;
    SettleInput(options.forLoop);
    if (device.WriteFrame(frame, frameLength) == 0 || reply == nullptr) return 0;
    how.limit = replyCapacity;
    received = ReadHidReply(reply, how, options.wholeReply ? &overflowed : nullptr);
  } else {
    SerialPort& port = TheSerialPort();
    SettleInput(options.forLoop);
    port.Write(frame, frameLength);
    if (reply == nullptr) return 0;
    Pause(options.serialWait);
    how.limit = std::min(options.serialLimit, replyCapacity);
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
  Pause(options.wait);
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
    return view.Status();
  }
  if (onSuccess != nullptr && !onSuccess(context, view)) return VANTOREL_FAILURE;
  return VANTOREL_SUCCESS;
}

std::uint8_t SendCommand(const CommandBytes& command, bool exchangeOverHid) noexcept {
  if (!command.Fits()) return VANTOREL_INVALID_ARGUMENT;
  LinkGuard guard;
  if (!LinkIsOpen()) return VANTOREL_NOT_OPEN;
  Pause(kCommandWait);
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
