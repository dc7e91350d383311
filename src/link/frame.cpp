#include "link/frame.h"

namespace vantorel::link {
namespace {

// Walks backwards so the move can happen in place.
std::size_t Wrap(std::uint8_t* buffer, std::size_t n, std::size_t lengthBytes) noexcept {
  const std::size_t shift = 1 + lengthBytes;
  std::uint8_t xorByte = 0;
  std::uint8_t sumByte = 0;
  for (std::size_t i = n; i-- > 0;) {
    const std::uint8_t b = buffer[i];
    buffer[i + shift] = b;
    xorByte ^= b;
    sumByte = static_cast<std::uint8_t>(sumByte + b);
  }
  buffer[0] = kStx;
  for (std::size_t k = 0; k < lengthBytes; ++k) {
    buffer[1 + k] = static_cast<std::uint8_t>((n >> (8 * k)) & 0xFF);
  }
  buffer[n + shift] = xorByte;
  buffer[n + shift + 1] = sumByte;
  buffer[n + shift + 2] = kEtx;
  return n + shift + 3;
}

}  // namespace

std::size_t BuildFrame(std::uint8_t* buffer, std::size_t n) noexcept {
  return Wrap(buffer, n, 2);
}

std::size_t BuildLongFrame(std::uint8_t* buffer, std::size_t n) noexcept {
  return Wrap(buffer, n, 3);
}

std::size_t BuildFrameFor(std::uint8_t* buffer, std::size_t n) noexcept {
  return n <= kShortFrameLimit ? BuildFrame(buffer, n) : BuildLongFrame(buffer, n);
}

std::uint8_t MapReplyStatus(const std::uint8_t* reply) noexcept {
  switch (reply[4]) {
    case 0xE1:
      return 99;
    case 0xEC:
      return 100;
    case 0x6A:
    case 0xEE:
      return 101;
    case 0xC1:
    case 0xED:
      return 102;
    case 0x81:
      return 103;
    case 0xE8:
      return 104;
    case 0x18:
      return 105;
    case 0x19:
      return 106;
    case 0x03:
      return 107;
    case 0x04:
      return 108;
    case 0x05:
      return 109;
    case 0x0D:
      return 110;
    default:
      return 0;
  }
}

}  // namespace vantorel::link
