// The terminal's view of the frame format: building reply frames, building host frames
// (for tests and tools) and checking frames byte by byte.
//
// Short frame: STX, 16-bit length (low byte first), n content bytes, XOR, sum, ETX.
// Long frame:  STX, 24-bit length (lowest byte first), n content bytes, XOR, sum, ETX.
// XOR and sum cover the content only.
//
// The two sides switch to the long layout at different sizes: a host sends a long frame
// once its content passes 0xFFFE bytes, the terminal only once its reply content passes
// 0xFFFF bytes (so that no reply is ever exactly 65542 bytes long, a length a host cannot
// tell apart).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vterm {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;

inline constexpr std::size_t kShortOverhead = 6;
inline constexpr std::size_t kLongOverhead = 7;
// Largest content a host sends in a short frame.
inline constexpr std::size_t kHostShortLimit = 0xFFFE;
// Largest content the terminal answers in a short frame.
inline constexpr std::size_t kReplyShortLimit = 0xFFFF;
// Largest content the terminal accepts in one long frame; a longer length field is taken
// as garbage rather than waited for.
inline constexpr std::size_t kMaxLongContent = 1u << 20;

struct CheckBytes {
  std::uint8_t xorByte = 0;
  std::uint8_t sumByte = 0;
};
CheckBytes ComputeChecks(std::span<const std::uint8_t> content);

// Frames `content` in the given layout.
Bytes ShortFrame(std::span<const std::uint8_t> content);
Bytes LongFrame(std::span<const std::uint8_t> content);
// The layout a host picks: short up to 0xFFFE content bytes, long beyond.
Bytes HostFrame(std::span<const std::uint8_t> content);
// The layout the terminal picks for a reply: short up to 0xFFFF content bytes, long beyond.
Bytes ReplyFrame(std::span<const std::uint8_t> content);

// Reply frames over {ACK, data...} and {NAK, status}.
Bytes AckFrame(std::span<const std::uint8_t> data = {});
Bytes NakFrame(std::uint8_t status);

// "02 03 00" style text (upper case, single blanks).
std::string Hex(std::span<const std::uint8_t> bytes);
// Parses hex digits, ignoring blanks, ':' and '-' between byte pairs; nullopt on an odd
// digit count or a character that is not a hex digit.
std::optional<Bytes> ParseHex(std::string_view text);

}  // namespace vterm
