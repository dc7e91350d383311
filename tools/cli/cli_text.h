// Pure text work of the command-line tool: return-code meanings, card-number masking,
// setting values, signature files. Nothing here touches a device.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// "1 (success)", "201 (no connection is open)", ...
std::string ReturnCodeText(unsigned rc);

// Upper-case hex without separators.
std::string Hex(const unsigned char* data, std::size_t count);
// Parses hex digits (blanks, ':' and '-' between bytes allowed); nothing on a bad digit or
// an odd count.
std::optional<std::vector<unsigned char>> ParseHex(std::string_view text);

// Text when every byte is printable ASCII, else hex.
std::string Printable(const unsigned char* data, std::size_t count);

// Shows at most the first six and the last four digits of an account number; everything
// between becomes '*'. Numbers of twelve digits or fewer keep only their last four.
std::string MaskPan(std::string_view pan);

// What `card` may show of one swipe: the masked account number, the name on the card, the
// expiry (YYMM), the tracks found. Track contents themselves are never kept.
struct CardSummary {
  std::string maskedPan;  // empty when no account number was found
  std::string name;
  std::string expiry;
  std::vector<int> tracks;  // track numbers seen (1, 2, 3)
  bool framed = false;      // a framed (encrypted) record, not plain track text
  std::size_t length = 0;
};
CardSummary SummariseCard(const unsigned char* data, std::size_t count);

// A reader setting's value as typed: one character is that byte ("2" is 0x32, the reader's
// settings are mostly digits), "0xNN" a raw byte.
std::optional<unsigned char> ParseSettingByte(std::string_view text);
// Flags as a string of 0s and 1s, first flag first ("101"); exactly `count` of them.
std::optional<std::vector<unsigned char>> ParseFlags(std::string_view text, std::size_t count);
// One byte for display: "'2' (0x32)" or "0x07".
std::string ShowByte(unsigned char value);

// The captured pen points as a picture: (x, y) pairs, (-1, -1) lifts the pen. Pad
// coordinates are 0-1024 on both axes.
std::string SignatureSvg(const std::vector<int>& values);
// Rasterises the strokes into a width x height grey image (0 ink, 255 paper), row by row.
std::vector<std::uint8_t> SignatureRaster(const std::vector<int>& values, int width, int height);

}  // namespace cli
