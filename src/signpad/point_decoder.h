// Pen packets: 5 bytes each, a status byte and two 10-bit fields.
//
//   byte 0  status: point or pen-up code of the capture's format
//   byte 1  bits 5-3: bits 9-7 of X; bits 2-0: bits 9-7 of Y
//   byte 2  bits 6-0: bits 6-0 of X
//   byte 3  bits 6-0: bits 6-0 of Y
//   byte 4  unused
//
//   format  point  pen-up  fields
//   1       9C     8C      absolute X, Y (0-1023)
//   2       90     80      relative moves, 10-bit two's complement (bit 9 is the sign)
//   4       90     80      absolute X, Y
//   0 3 5   -      -       nothing this library can decode: every packet fails
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vantorel::signpad {

inline constexpr std::size_t kPacketSize = 5;

// Where relative moves start from. A pen-up returns it to (0, 0); the capture loop keeps
// one for the whole capture, so that a stroke split over two reads goes on from where the
// first read left it instead of jumping back to the origin.
struct RelativePosition {
  std::int32_t x = 0;
  std::int32_t y = 0;
};

// Decodes the whole packets of `bytes` (a trailing part shorter than a packet is ignored)
// into (x, y) pairs appended to `values` from its start, a pen-up as (-1, -1); `count`
// receives the number of values written. False when `bytes` holds no whole packet, when a
// packet's status byte is not one of the format's, or when `values` is too small: the run
// then counts as failed, although the values before the bad packet were written.
// `position` is read and advanced by format 2 only.
bool DecodePointPackets(int format, std::span<const std::uint8_t> bytes,
                        std::span<std::int32_t> values, int& count,
                        RelativePosition& position) noexcept;

// Relative moves are at most 511 a packet, so a pad reaches a stroke's first point farther
// out than that from the origin in several packets: each but the last is a stop on its way,
// not a point the pen drew. A stop's move is the largest there is (511) on an axis; the first
// packet of a stroke that is not such a move is where the pen touched down.
struct StrokeApproach {
  std::int32_t x = 0;  // where the last packet left the pen (the origin after a pen-up)
  std::int32_t y = 0;
  bool touched = false;  // the stroke's first drawn point has come
};

// Removes from the decoded format-2 `values` (`count` of them, pen-ups as (-1, -1)) the
// stops on the way to each stroke's first point, keeping the order of the rest; returns the
// new count. `approach` carries over from one run to the next, as the relative position
// does. A stroke that truly begins exactly 511 from the origin on an axis loses that first
// point: one sample, where the alternative is a line nobody drew.
int DropApproach(std::span<std::int32_t> values, int count, StrokeApproach& approach) noexcept;

// Whether `byte` is a point or pen-up code of `format` (false for formats without a decoding).
bool IsStatusByte(int format, std::uint8_t byte) noexcept;

// The same with a position that starts at (0, 0) and is forgotten afterwards.
bool DecodePointPackets(int format, std::span<const std::uint8_t> bytes,
                        std::span<std::int32_t> values, int& count) noexcept;

}  // namespace vantorel::signpad
