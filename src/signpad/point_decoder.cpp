#include "signpad/point_decoder.h"

namespace vantorel::signpad {
namespace {

constexpr std::int32_t kRelativeLimit = 1024;

std::int32_t FieldX(const std::uint8_t* p) {
  return ((p[1] >> 3) & 7) << 7 | (p[2] & 0x7F);
}
std::int32_t FieldY(const std::uint8_t* p) {
  return (p[1] & 7) << 7 | (p[3] & 0x7F);
}

// Bit 9 set: a move back by 1024 - field. The result stays within 0-1024.
std::int32_t Move(std::int32_t from, std::int32_t field) {
  if ((field & 0x200) == 0) {
    const std::int32_t to = from + field;
    return to >= kRelativeLimit ? kRelativeLimit : to;
  }
  const std::int32_t to = from - (1024 - field);
  return to <= 0 ? 0 : to;
}

}  // namespace

bool DecodePointPackets(int format, std::span<const std::uint8_t> bytes,
                        std::span<std::int32_t> values, int& count,
                        RelativePosition& position) noexcept {
  count = 0;
  if (bytes.size() < kPacketSize) return false;
  std::uint8_t pointCode = 0;
  std::uint8_t penUpCode = 0;
  switch (format) {
    case 1:
      pointCode = 0x9C;
      penUpCode = 0x8C;
      break;
    case 2:
    case 4:
      pointCode = 0x90;
      penUpCode = 0x80;
      break;
    default:
      return false;  // no decoding known: nothing of the run is delivered
  }
  for (std::size_t at = 0; at + kPacketSize <= bytes.size(); at += kPacketSize) {
    const std::uint8_t* packet = bytes.data() + at;
    if (static_cast<std::size_t>(count) + 2 > values.size()) return false;
    std::int32_t x = 0;
    std::int32_t y = 0;
    if (packet[0] == penUpCode) {
      x = -1;
      y = -1;
      position = {};
    } else if (packet[0] == pointCode) {
      x = FieldX(packet);
      y = FieldY(packet);
      if (format == 2) {
        x = Move(position.x, x);
        y = Move(position.y, y);
        position = {x, y};
      }
    } else {
      return false;
    }
    values[static_cast<std::size_t>(count)] = x;
    values[static_cast<std::size_t>(count) + 1] = y;
    count += 2;
  }
  return true;
}

int DropApproach(std::span<std::int32_t> values, int count, StrokeApproach& approach) noexcept {
  constexpr std::int32_t kLargestMove = 511;
  int kept = 0;
  for (int i = 0; i + 1 < count; i += 2) {
    const std::int32_t x = values[static_cast<std::size_t>(i)];
    const std::int32_t y = values[static_cast<std::size_t>(i) + 1];
    if (x < 0) {
      approach = {};
    } else {
      const bool stop =
          !approach.touched && (x - approach.x == kLargestMove || y - approach.y == kLargestMove);
      approach.x = x;
      approach.y = y;
      if (stop) continue;
      approach.touched = true;
    }
    values[static_cast<std::size_t>(kept)] = x;
    values[static_cast<std::size_t>(kept) + 1] = y;
    kept += 2;
  }
  return kept;
}

bool IsStatusByte(int format, std::uint8_t byte) noexcept {
  switch (format) {
    case 1:
      return byte == 0x9C || byte == 0x8C;
    case 2:
    case 4:
      return byte == 0x90 || byte == 0x80;
    default:
      return false;
  }
}

bool DecodePointPackets(int format, std::span<const std::uint8_t> bytes,
                        std::span<std::int32_t> values, int& count) noexcept {
  RelativePosition position;
  return DecodePointPackets(format, bytes, values, count, position);
}

}  // namespace vantorel::signpad
