// Command frames and reply judgement.
//
// Short frame: STX, 16-bit length (low byte first), the n command bytes, XOR, sum, ETX.
// Long frame:  STX, 24-bit length (lowest byte first), the n bytes, XOR, sum, ETX.
// The check bytes cover the command bytes only. A sender uses the long frame once n passes
// 0xFFFE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

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

// The return code for the terminal's status byte at reply offset 4 (0 when unknown); the
// caller makes sure the byte arrived (Reply::Status does).
std::uint8_t MapReplyStatus(const std::uint8_t* reply) noexcept;

// Where the first complete short frame lies in `bytes`: STX, a length that fits, check bytes
// that match the content, ETX. Bytes before it (noise, a pen packet) are skipped. False when
// no complete frame is there. Pure; used to carve a reply out of what a read collected and to
// recognise a late reply.
// With `longToo` a long frame (24-bit length) counts as well where the short reading of the
// same STX fails (picture and sign-format replies).
struct FrameSpan {
  std::size_t offset = 0;
  std::size_t length = 0;
};
bool FindFrame(const std::uint8_t* bytes, std::size_t count, FrameSpan& found,
               bool longToo = false) noexcept;

// Whether the bytes from an STX at `bytes[0]` may still become a frame of at most `limit`
// bytes once more bytes arrive: too few bytes to tell, or a stated length that fits `limit`
// and has not fully arrived. A complete candidate is not pending (FindFrame judges it).
bool FramePending(const std::uint8_t* bytes, std::size_t count, std::size_t limit,
                  bool longToo = false) noexcept;

// How long the reply whose first `count` bytes are `head` says it is: after STX a short
// frame's 16-bit length (total = length + 6) or, when byte 3 is no ACK but byte 4 is, a long
// frame's 24-bit length (total = length + 7). 0 when the bytes begin no frame (no STX, fewer
// than 3 bytes). Tells how much of a reply that did not fit is still to come.
std::size_t StatedReplyLength(const std::uint8_t* head, std::size_t count) noexcept;

// What a reply must be to count as success: ACK and at least one byte, or a whole frame
// with ACK (commands that return data, and the stricter families).
enum class Accept { Ack, Data };

// A reply as the families read it: STX, length (2), ACK or NAK at 3, then for an ACK the
// data, then XOR, sum, ETX; a refusal carries its status where the data would start. The
// view never reads past what arrived: a byte the reply lacks is absent (no ACK, status 0, no
// data), whatever the rest of the reply area holds, so a getter can tell a reply too short
// for its fields from one that carries them.
class Reply {
 public:
  Reply(const std::uint8_t* bytes, int count) noexcept
      : bytes_(bytes), count_(count < 0 ? 0 : static_cast<std::size_t>(count)) {}

  // A reply read whole without carving, that may come in either layout (picture and
  // sign-format reads): its length tells them apart, a long one's data starts a byte later.
  // A read of 0xFFFF + 7 bytes fits neither layout and is treated as unacknowledged.
  static Reply EitherLayout(const std::uint8_t* bytes, std::size_t count) noexcept;

  // Acknowledged under `accept`: ACK and at least one byte (Ack) or a whole frame (Data).
  bool Acked(Accept accept) const noexcept {
    if (eitherLayout_) return dataOffset_ != 0;
    const std::size_t least = accept == Accept::Data ? kShortFrameOverhead + 1 : 1;
    return count_ >= least && HasAck();
  }
  // Byte 3, whatever follows it: ACK, or NAK.
  bool HasAck() const noexcept { return count_ > 3 && bytes_[3] == kAck; }
  bool HasNak() const noexcept { return count_ > 3 && bytes_[3] == kNak; }
  // The status byte a refusal carries (0 when the reply is no refusal or stops before it).
  std::uint8_t RefusalStatus() const noexcept {
    return HasNak() && count_ > kDataOffset ? bytes_[kDataOffset] : 0;
  }
  // The return code of a refusal's status byte (0 when unknown or absent).
  std::uint8_t Status() const noexcept { return count_ > kDataOffset ? MapReplyStatus(bytes_) : 0; }
  // The data between the ACK and the check bytes; empty when the reply is not a whole frame.
  std::span<const std::uint8_t> Data() const noexcept {
    if (count_ < kShortFrameOverhead + 1 || (eitherLayout_ && dataOffset_ == 0)) return {};
    return {bytes_ + dataOffset_, count_ - dataOffset_ - kTrailer};
  }
  // Whether the data holds at least `n` bytes.
  bool Holds(std::size_t n) const noexcept { return Data().size() >= n; }
  // The data byte at `index`; only after Holds(index + 1).
  std::uint8_t At(std::size_t index) const noexcept { return Data()[index]; }
  // The 32-bit little-endian number at data `index`; only after Holds(index + 4).
  std::uint32_t U32At(std::size_t index) const noexcept {
    const auto d = Data();
    return static_cast<std::uint32_t>(d[index]) | static_cast<std::uint32_t>(d[index + 1]) << 8 |
           static_cast<std::uint32_t>(d[index + 2]) << 16 |
           static_cast<std::uint32_t>(d[index + 3]) << 24;
  }
  std::size_t Count() const noexcept { return count_; }

  static constexpr std::size_t kDataOffset = 4;
  static constexpr std::size_t kLongDataOffset = 5;
  static constexpr std::size_t kTrailer = 3;  // XOR, sum, ETX

 private:
  const std::uint8_t* bytes_;
  std::size_t count_;
  std::size_t dataOffset_ = kDataOffset;
  bool eitherLayout_ = false;
};

}  // namespace vantorel::link
