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
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;

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
  return link::RunFrame({frame, frameLength});
}

std::uint8_t ReadIntoCallerBuffer(const link::CommandBytes& command, std::uint8_t* buffer,
                                  std::size_t bufferSize, unsigned int* length) noexcept {
  const link::CommandOptions options{.exchange = {.serialLimit = bufferSize,
                                                  .hidTimeout = link::kHidLongReplyTimeout,
                                                  .longToo = true,
                                                  .wholeReply = true},
                                     .replyArea = {buffer, bufferSize}};
  return link::RunCommand(command, options, [&](const link::Reply& reply) {
    const auto data = reply.Data();
    std::memmove(buffer, data.data(), data.size());
    *length = static_cast<unsigned int>(data.size());
  });
}

}  // namespace vantorel::signpad
