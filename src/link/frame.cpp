#include "link/frame.h"

#include "link/return_codes.h"

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

namespace {

// Whether `content[0, n)` is followed by its XOR, its sum and ETX.
bool ChecksMatch(const std::uint8_t* content, std::size_t n) noexcept {
  std::uint8_t xorByte = 0;
  std::uint8_t sumByte = 0;
  for (std::size_t i = 0; i < n; ++i) {
    xorByte ^= content[i];
    sumByte = static_cast<std::uint8_t>(sumByte + content[i]);
  }
  return content[n] == xorByte && content[n + 1] == sumByte && content[n + 2] == kEtx;
}

std::size_t ShortContent(const std::uint8_t* at) noexcept {
  return at[1] | static_cast<std::size_t>(at[2]) << 8;
}

std::size_t LongContent(const std::uint8_t* at) noexcept {
  return ShortContent(at) | static_cast<std::size_t>(at[3]) << 16;
}

}  // namespace

bool FindFrame(const std::uint8_t* bytes, std::size_t count, FrameSpan& found,
               bool longToo) noexcept {
  if (bytes == nullptr) return false;
  for (std::size_t start = 0; start + kShortFrameOverhead <= count; ++start) {
    if (bytes[start] != kStx) continue;
    const std::uint8_t* at = bytes + start;
    const std::size_t left = count - start;
    const std::size_t n = ShortContent(at);
    if (n <= left - kShortFrameOverhead && ChecksMatch(at + 3, n)) {
      found = {start, n + kShortFrameOverhead};
      return true;
    }
    if (!longToo || left < kLongFrameOverhead) continue;
    const std::size_t m = LongContent(at);
    if (m <= left - kLongFrameOverhead && ChecksMatch(at + 4, m)) {
      found = {start, m + kLongFrameOverhead};
      return true;
    }
  }
  return false;
}

bool FramePending(const std::uint8_t* bytes, std::size_t count, std::size_t limit,
                  bool longToo) noexcept {
  if (bytes == nullptr || count == 0 || bytes[0] != kStx) return false;
  if (count < (longToo ? 4u : 3u)) return true;
  const std::size_t shortTotal = ShortContent(bytes) + kShortFrameOverhead;
  if (shortTotal <= limit && count < shortTotal) return true;
  if (!longToo) return false;
  const std::size_t longTotal = LongContent(bytes) + kLongFrameOverhead;
  return longTotal <= limit && count < longTotal;
}

std::size_t StatedReplyLength(const std::uint8_t* head, std::size_t count) noexcept {
  if (head == nullptr || count < 3 || head[0] != kStx) return 0;
  const std::size_t low = head[1] | static_cast<std::size_t>(head[2]) << 8;
  if (count >= 5 && head[3] != kAck && head[4] == kAck) {
    return (low | static_cast<std::size_t>(head[3]) << 16) + kLongFrameOverhead;
  }
  return low + kShortFrameOverhead;
}

Reply Reply::EitherLayout(const std::uint8_t* bytes, std::size_t count) noexcept {
  // The last short frame has 0xFFFF + 6 bytes, the first long one 0xFFFF + 8.
  constexpr std::size_t kShortReplyLimit = 0xFFFF + kShortFrameOverhead;
  Reply reply(bytes, 0);
  reply.count_ = count;
  reply.eitherLayout_ = true;
  const bool acked = count >= kShortFrameOverhead + 1 && (bytes[3] == kAck || bytes[4] == kAck);
  if (acked && count <= kShortReplyLimit) {
    reply.dataOffset_ = kDataOffset;
  } else if (acked && count >= kShortReplyLimit + 2) {
    reply.dataOffset_ = kLongDataOffset;
  } else {
    reply.dataOffset_ = 0;
  }
  return reply;
}

std::uint8_t MapReplyStatus(const std::uint8_t* reply) noexcept {
  return CodeForStatus(reply[Reply::kDataOffset]);
}

}  // namespace vantorel::link
