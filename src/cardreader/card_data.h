// What the secure-reading loop makes of one read or one key-poll reply: card data, a key
// event, or nothing.
//
//   more than 10 bytes             card data: framed records (first byte STX) unchanged,
//                                  plain track text with its line ends rewritten
//   exactly 8 bytes, ACK at byte 3 a key reply: byte 4 is 'C', 'B' or 'E'
//   anything else                  nothing (empty reads, short or refused replies)
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantorel::cardreader {

inline constexpr std::size_t kDeliverySize = 512;
// Fewer bytes than this are never card data.
inline constexpr int kCardDataMinimum = 11;
inline constexpr std::uint8_t kKeyEventMark = 0x7B;
inline constexpr std::uint8_t kKeyCancel = 1;
inline constexpr std::uint8_t kKeyBackspace = 2;
inline constexpr std::uint8_t kKeyEnter = 3;

// Plain track text ends each track with '?' and LF; the handler is given CR there instead.
// A LF directly after '?' and not directly followed by CR becomes CR, scanning from the
// second byte on, in place.
void RewriteTrackLineEnds(std::uint8_t* bytes, std::size_t count) noexcept;

// The key code (1-3) for a key byte of the PIN pad, 0 for any other byte.
std::uint8_t KeyCode(std::uint8_t keyByte) noexcept;

// Judges the `count` bytes of `received` (a 512-byte buffer) and fills `delivery` (512
// bytes) with what the handler is to be given: the number of bytes to deliver, 0 for
// nothing. Plain track text is rewritten in `received` itself.
std::size_t PrepareDelivery(std::uint8_t* received, int count, std::uint8_t* delivery) noexcept;

}  // namespace vantorel::cardreader
