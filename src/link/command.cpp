#include "link/command.h"

#include <algorithm>

#include "link/hid_device.h"
#include "link/reply_ownership.h"
#include "link/serial_port.h"

namespace vantorel::link {

int Exchange(const std::uint8_t* frame, std::size_t frameLength, std::uint8_t* reply,
             std::size_t replyCapacity, const ExchangeOptions& options) noexcept {
  if (reply != nullptr) std::fill_n(reply, replyCapacity, std::uint8_t{0});
  LinkState& state = State();
  int received = 0;
  if (state.linkIsHid.load() != 0) {
    HidDevice& device = TheHidDevice();
    if (device.Open(state.hidVendorId.load(), state.hidProductId.load()) == 0) return 0;
    SettleInput();
    if (device.WriteFrame(frame, frameLength) == 0 || reply == nullptr) return 0;
    received = device.ReadReply(reply, replyCapacity, options.hidTimeoutMs);
  } else {
    SerialPort& port = TheSerialPort();
    SettleInput();
    port.Write(frame, frameLength);
    if (reply == nullptr) return 0;
    Pause(options.serialWait);
    received = port.Read(reply, std::min(options.serialLimit, replyCapacity));
  }
  received = std::max(received, 0);  // a failed read counts as no reply
  if (received == 0 && options.replyMayComeLate) NoteUnanswered();
  return options.carve ? CarveReply(reply, received, options.startsLoop) : received;
}

int ExchangeCommand(const CommandBytes& command, std::uint8_t* reply, std::size_t replyCapacity,
                    const ExchangeOptions& options) noexcept {
  auto& buffer = CommandBuffer();
  std::memcpy(buffer.data(), command.data(), command.size());
  const std::size_t frameLength = BuildFrame(buffer.data(), command.size());
  return Exchange(buffer.data(), frameLength, reply, replyCapacity, options);
}

void SendFrame(const std::uint8_t* frame, std::size_t frameLength) noexcept {
  // Over HID the device is opened and written as in any exchange; nothing is read.
  Exchange(frame, frameLength, nullptr, 0);
}

std::uint8_t RunCommandWith(const CommandBytes& command, const CommandOptions& options,
                            ReplyHandler onSuccess, void* context) noexcept {
  if (!command.Fits()) return 99;
  LinkGuard guard;
  if (!LinkIsOpen()) return 201;
  Pause(options.wait);
  std::array<std::uint8_t, kReplySize> reply;
  ExchangeOptions exchange;
  exchange.startsLoop = options.startsLoop;
  const int received = ExchangeCommand(command, reply.data(), reply.size(), exchange);
  const int minBytes = options.accept == Accept::Data ? 6 : 0;
  if (!IsAck(reply.data(), received, minBytes)) {
    if (options.startsLoop) DropUnclaimedInput();
    return MapReplyStatus(reply.data());
  }
  if (onSuccess != nullptr) onSuccess(context, reply.data(), received);
  return 1;
}

std::uint8_t SendCommand(const CommandBytes& command, bool exchangeOverHid) noexcept {
  if (!command.Fits()) return 99;
  LinkGuard guard;
  if (!LinkIsOpen()) return 201;
  Pause(kCommandWait);
  if (exchangeOverHid && State().linkIsHid.load() != 0) {
    // The terminal's answer, if any, is read and ignored: left on the line it would reach
    // whichever loop reads next.
    std::array<std::uint8_t, kReplySize> reply;
    ExchangeOptions options;
    options.replyMayComeLate = false;
    ExchangeCommand(command, reply.data(), reply.size(), options);
    return 1;
  }
  auto& buffer = CommandBuffer();
  std::memcpy(buffer.data(), command.data(), command.size());
  SendFrame(buffer.data(), BuildFrame(buffer.data(), command.size()));
  NoteSentWithoutReading();
  return 1;
}

}  // namespace vantorel::link
