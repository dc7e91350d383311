#include "link/command.h"

#include <algorithm>

#include "link/hid_device.h"
#include "link/serial_port.h"
#include "link/trace.h"

namespace vantorel::link {

int Exchange(const std::uint8_t* frame, std::size_t frameLength, std::uint8_t* reply,
             std::size_t replyCapacity, const ExchangeOptions& options) noexcept {
  std::fill_n(reply, replyCapacity, std::uint8_t{0});
  if (trace::On()) [[unlikely]]
    trace::FrameSent(frame, frameLength);
  LinkState& state = State();
  int received = 0;
  if (state.linkIsHid.load() != 0) {
    received = TheHidDevice().Transact(state.hidVendorId.load(), state.hidProductId.load(), frame,
                                       frameLength, reply, replyCapacity, options.hidTimeoutMs);
  } else {
    SerialPort& port = TheSerialPort();
    port.Write(frame, frameLength);
    Pause(options.serialWait);
    received = port.Read(reply, std::min(options.serialLimit, replyCapacity));
  }
  if (trace::On()) [[unlikely]]
    trace::ReplyReceived(frame, frameLength, reply, received);
  return std::max(received, 0);  // a failed read counts as no reply
}

int ExchangeCommand(const CommandBytes& command, std::uint8_t* reply, std::size_t replyCapacity,
                    const ExchangeOptions& options) noexcept {
  auto& buffer = CommandBuffer();
  std::memcpy(buffer.data(), command.data(), command.size());
  const std::size_t frameLength = BuildFrame(buffer.data(), command.size());
  return Exchange(buffer.data(), frameLength, reply, replyCapacity, options);
}

void SendFrame(const std::uint8_t* frame, std::size_t frameLength) noexcept {
  if (trace::On()) [[unlikely]]
    trace::FrameSent(frame, frameLength);
  LinkState& state = State();
  if (state.linkIsHid.load() != 0) {
    TheHidDevice().Transact(state.hidVendorId.load(), state.hidProductId.load(), frame, frameLength,
                            nullptr, 0, kHidReplyTimeoutMs);
  } else {
    TheSerialPort().Write(frame, frameLength);
  }
}

int ReadMessage(std::uint8_t* buffer, std::size_t maxLength, int hidTimeoutMs) noexcept {
  int received = 0;
  if (State().linkIsHid.load() != 0) {
    received = TheHidDevice().ReadReply(buffer, maxLength, hidTimeoutMs, true);
  } else {
    received = TheSerialPort().Read(buffer, maxLength);
  }
  if (trace::On()) [[unlikely]]
    trace::MessageReceived(buffer, received);
  return std::max(received, 0);
}

int ReadSerialRaw(std::uint8_t* buffer, std::size_t count) noexcept {
  const int received = TheSerialPort().ReadRaw(buffer, count);
  if (trace::On()) [[unlikely]]
    trace::MessageReceived(buffer, received);
  return received;
}

namespace {

std::uint8_t RunCommandBody(const CommandBytes& command, const CommandOptions& options,
                            ReplyHandler onSuccess, void* context) noexcept {
  if (!command.Fits()) return 99;
  LinkGuard guard;
  if (!LinkIsOpen()) return 201;
  Pause(options.wait);
  std::array<std::uint8_t, kReplySize> reply;
  const int received = ExchangeCommand(command, reply.data(), reply.size());
  const int minBytes = options.accept == Accept::Data ? 6 : 0;
  if (!IsAck(reply.data(), received, minBytes)) return MapReplyStatus(reply.data());
  if (onSuccess != nullptr) onSuccess(context, reply.data(), received);
  return 1;
}

std::uint8_t SendCommandBody(const CommandBytes& command) noexcept {
  if (!command.Fits()) return 99;
  LinkGuard guard;
  if (!LinkIsOpen()) return 201;
  Pause(kCommandWait);
  auto& buffer = CommandBuffer();
  std::memcpy(buffer.data(), command.data(), command.size());
  SendFrame(buffer.data(), BuildFrame(buffer.data(), command.size()));
  return 1;
}

}  // namespace

std::uint8_t RunCommandWith(const CommandBytes& command, const CommandOptions& options,
                            ReplyHandler onSuccess, void* context, const char* caller) noexcept {
  if (trace::On()) [[unlikely]] {
    trace::CallScope scope(caller);
    const std::uint8_t rc = RunCommandBody(command, options, onSuccess, context);
    scope.Result(rc);
    return rc;
  }
  return RunCommandBody(command, options, onSuccess, context);
}

std::uint8_t SendCommand(const CommandBytes& command, const char* caller) noexcept {
  if (trace::On()) [[unlikely]] {
    trace::CallScope scope(caller);
    const std::uint8_t rc = SendCommandBody(command);
    scope.Result(rc);
    return rc;
  }
  return SendCommandBody(command);
}

}  // namespace vantorel::link
