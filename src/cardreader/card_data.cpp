#include "cardreader/card_data.h"

#include <cstring>

#include "link/frame.h"

namespace vantorel::cardreader {

namespace {
constexpr std::uint8_t kTrackEnd = 0x3F;  // '?'
constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kCr = 0x0D;
constexpr int kKeyReplyLength = 8;
}  // namespace

void RewriteTrackLineEnds(std::uint8_t* bytes, std::size_t count) noexcept {
  for (std::size_t i = 1; i < count; ++i) {
    const bool crFollows = i + 1 < count && bytes[i + 1] == kCr;
    if (bytes[i] == kLf && bytes[i - 1] == kTrackEnd && !crFollows) bytes[i] = kCr;
  }
}

std::uint8_t KeyCode(std::uint8_t keyByte) noexcept {
  switch (keyByte) {
    case 'C':
      return kKeyCancel;
    case 'B':
      return kKeyBackspace;
    case 'E':
      return kKeyEnter;
    default:
      return 0;
  }
}

std::size_t PrepareDelivery(std::uint8_t* received, int count, std::uint8_t* delivery) noexcept {
  if (count >= kCardDataMinimum) {
    const auto n = static_cast<std::size_t>(count) < kDeliverySize ? static_cast<std::size_t>(count)
                                                                   : kDeliverySize;
    if (received[0] != link::kStx) RewriteTrackLineEnds(received, n);
    std::memcpy(delivery, received, n);
    return n;
  }
  const link::Reply reply(received, count);
  if (count == kKeyReplyLength && reply.HasAck() && reply.Holds(1)) {
    const std::uint8_t code = KeyCode(reply.At(0));
    if (code == 0) return 0;
    delivery[0] = kKeyEventMark;
    delivery[1] = code;
    return 2;
  }
  return 0;
}

}  // namespace vantorel::cardreader
