// Command frames and reply judgement.
//
// Short frame: STX, 16-bit length (low byte first), the n command bytes, XOR, sum, ETX.
// Long frame:  STX, 24-bit length (lowest byte first), the n bytes, XOR, sum, ETX.
// The check bytes cover the command bytes only. A sender uses the long frame once n passes
// 0xFFFE.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantorel::link {

inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::size_t kShortFrameLimit = 0xFFFE;
inline constexpr std::size_t kShortFrameOverhead = 6;
inline constexpr std::size_t kLongFrameOverhead = 7;

// Moves the n command bytes at the start of `buffer` up by 3 and wraps them as a short
// frame in place; `buffer` must hold n + 6 bytes. Returns n + 6.
std::size_t BuildFrame(std::uint8_t* buffer, std::size_t n) noexcept;

// The same with a move of 4 and the long layout; `buffer` must hold n + 7. Returns n + 7.
std::size_t BuildLongFrame(std::uint8_t* buffer, std::size_t n) noexcept;

// Short frame up to 0xFFFE command bytes, long frame beyond.
std::size_t BuildFrameFor(std::uint8_t* buffer, std::size_t n) noexcept;

// The return code for the terminal's status byte at reply offset 4 (0 when unknown).
std::uint8_t MapReplyStatus(const std::uint8_t* reply) noexcept;

// Where the first complete short frame lies in `bytes`: STX, a length that fits, check bytes
// that match the content, ETX. Bytes before it (noise, a pen packet) are skipped. False when
// no complete frame is there. Pure; used to carve a reply out of what a read collected and to
// recognise a late reply.
struct FrameSpan {
  std::size_t offset = 0;
  std::size_t length = 0;
};
bool FindFrame(const std::uint8_t* bytes, std::size_t count, FrameSpan& found) noexcept;

// A reply acknowledges when byte 3 is ACK and more than `minBytes` bytes arrived.
inline bool IsAck(const std::uint8_t* reply, int received, int minBytes) noexcept {
  return received > minBytes && reply[3] == kAck;
}

}  // namespace vantorel::link
