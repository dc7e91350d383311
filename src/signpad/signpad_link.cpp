#include "signpad/signpad_link.h"

#include <cstring>
#include <memory>
#include <new>

#include "vantorel.h"

namespace vantorel::signpad {

std::uint8_t SendLargeCommand(std::span<const std::uint8_t> head,
                              std::span<const std::uint8_t> data,
                              std::span<std::uint8_t> work) noexcept {
  const std::size_t content = head.size() + data.size();
  if (data.size() > kLongFrameContentLimit || content > kLongFrameContentLimit) {
    return VANTOREL_INVALID_ARGUMENT;
  }
  const std::size_t frameCapacity = content + link::kLongFrameOverhead;
  if (!work.empty() && work.size() < frameCapacity) return VANTOREL_INVALID_ARGUMENT;

  link::LinkGuard guard;
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  link::Pause(link::kCommandWait);

  std::unique_ptr<std::uint8_t[]> heap;
  std::uint8_t* frame = work.data();
  if (work.empty()) {
    heap.reset(new (std::nothrow) std::uint8_t[frameCapacity]);
    if (!heap) return VANTOREL_FAILURE;
    frame = heap.get();
  }
  std::memcpy(frame, head.data(), head.size());
  if (!data.empty()) std::memcpy(frame + head.size(), data.data(), data.size());
  const std::size_t frameLength = link::BuildFrameFor(frame, content);

  std::array<std::uint8_t, link::kReplySize> reply;
  const int received = link::Exchange(frame, frameLength, reply.data(), reply.size());
  heap.reset();
  if (!link::IsAck(reply.data(), received, 0)) return link::MapReplyStatus(reply.data());
  return VANTOREL_SUCCESS;
}

std::uint8_t ReadIntoCallerBuffer(const link::CommandBytes& command, std::uint8_t* buffer,
                                  std::size_t bufferSize, unsigned int* length) noexcept {
  if (!command.Fits()) return VANTOREL_INVALID_ARGUMENT;
  link::LinkGuard guard;
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  link::Pause(link::kCommandWait);

  link::ExchangeOptions options;
  options.serialLimit = bufferSize;
  options.hidTimeoutMs = link::kHidLongReplyTimeoutMs;
  options.carve = false;  // the reply may come in the long layout
  const int received = link::ExchangeCommand(command, buffer, bufferSize, options);
  const auto n = static_cast<std::size_t>(received);

  // A 65,542-byte read fits neither layout: a short frame ends at 65,541 bytes and a long
  // one starts at 65,543.
  constexpr std::size_t kShortReplyLimit = 0xFFFF + 6;
  const bool acked = n >= 7 && (buffer[3] == link::kAck || buffer[4] == link::kAck);
  std::size_t dataOffset = 0;
  if (acked && n <= kShortReplyLimit) {
    dataOffset = 4;
  } else if (acked && n >= kShortReplyLimit + 2) {
    dataOffset = 5;
  } else {
    return link::MapReplyStatus(buffer);
  }
  const std::size_t dataLength = n - dataOffset - 3;
  std::memmove(buffer, buffer + dataOffset, dataLength);
  *length = static_cast<unsigned int>(dataLength);
  return VANTOREL_SUCCESS;
}

}  // namespace vantorel::signpad
