#include "vterm/frame_codec.h"

#include <cctype>

namespace vterm {

CheckBytes ComputeChecks(std::span<const std::uint8_t> content) {
  CheckBytes c;
  for (std::uint8_t b : content) {
    c.xorByte = static_cast<std::uint8_t>(c.xorByte ^ b);
    c.sumByte = static_cast<std::uint8_t>(c.sumByte + b);
  }
  return c;
}

namespace {

Bytes Wrap(std::span<const std::uint8_t> content, std::size_t lengthBytes) {
  Bytes out;
  out.reserve(content.size() + lengthBytes + 4);
  out.push_back(kStx);
  for (std::size_t i = 0; i < lengthBytes; ++i) {
    out.push_back(static_cast<std::uint8_t>((content.size() >> (8 * i)) & 0xFF));
  }
  out.insert(out.end(), content.begin(), content.end());
  const CheckBytes c = ComputeChecks(content);
  out.push_back(c.xorByte);
  out.push_back(c.sumByte);
  out.push_back(kEtx);
  return out;
}

}  // namespace

Bytes ShortFrame(std::span<const std::uint8_t> content) {
  return Wrap(content, 2);
}
Bytes LongFrame(std::span<const std::uint8_t> content) {
  return Wrap(content, 3);
}

Bytes HostFrame(std::span<const std::uint8_t> content) {
  return content.size() <= kHostShortLimit ? ShortFrame(content) : LongFrame(content);
}

Bytes ReplyFrame(std::span<const std::uint8_t> content) {
  return content.size() <= kReplyShortLimit ? ShortFrame(content) : LongFrame(content);
}

Bytes AckFrame(std::span<const std::uint8_t> data) {
  Bytes content;
  content.reserve(data.size() + 1);
  content.push_back(kAck);
  content.insert(content.end(), data.begin(), data.end());
  return ReplyFrame(content);
}

Bytes NakFrame(std::uint8_t status) {
  const std::uint8_t content[2] = {kNak, status};
  return ShortFrame(content);
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i != 0) out.push_back(' ');
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return out;
}

std::optional<Bytes> ParseHex(std::string_view text) {
  Bytes out;
  int pending = -1;
  for (char ch : text) {
    if (ch == ' ' || ch == '\t' || ch == ':' || ch == '-') {
      if (pending >= 0) return std::nullopt;  // a separator inside a byte pair
      continue;
    }
    const unsigned char u = static_cast<unsigned char>(ch);
    if (!std::isxdigit(u)) return std::nullopt;
    const int v = std::isdigit(u) ? u - '0' : std::tolower(u) - 'a' + 10;
    if (pending < 0) {
      pending = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(pending * 16 + v));
      pending = -1;
    }
  }
  if (pending >= 0) return std::nullopt;
  return out;
}

}  // namespace vterm
