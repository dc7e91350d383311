// Reading a console command's words: numbers, hex bytes, key names.
#pragma once

#include <charconv>
#include <climits>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "vterm/frame_codec.h"

namespace vterm::words {

// Words are separated by blanks; a word in double quotes may hold blanks ("" is an empty
// word). An unclosed quote runs to the end of the line.
inline std::vector<std::string> Split(std::string_view line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (true) {
    while (i < line.size() && blank(line[i])) ++i;
    if (i == line.size()) break;
    std::string w;
    if (line[i] == '"') {
      const std::size_t end = line.find('"', i + 1);
      w = line.substr(i + 1, end == std::string_view::npos ? std::string_view::npos : end - i - 1);
      i = end == std::string_view::npos ? line.size() : end + 1;
    } else {
      while (i < line.size() && !blank(line[i])) w += line[i++];
    }
    words.push_back(std::move(w));
  }
  return words;
}

inline const std::string& Arg(const std::vector<std::string>& args, std::size_t i) {
  if (i >= args.size()) throw std::invalid_argument("missing argument");
  return args[i];
}

// A whole number from 0 to INT_MAX (decimal, or hex with base 16).
inline int Number(const std::vector<std::string>& args, std::size_t i, int base = 10) {
  const std::string& s = Arg(args, i);
  long v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (ec != std::errc() || p != s.data() + s.size() || v < 0 || v > INT_MAX) {
    throw std::invalid_argument("not a number: " + s);
  }
  return static_cast<int>(v);
}

inline std::uint8_t HexByteArg(const std::vector<std::string>& args, std::size_t i) {
  const int v = Number(args, i, 16);
  if (v > 0xFF) throw std::invalid_argument("not a byte: " + args[i]);
  return static_cast<std::uint8_t>(v);
}

// The words from `from` on, joined, as hex bytes (at least one).
inline Bytes HexArgs(const std::vector<std::string>& args, std::size_t from) {
  std::string joined;
  for (std::size_t i = from; i < args.size(); ++i) joined += args[i];
  auto bytes = ParseHex(joined);
  if (!bytes || bytes->empty()) throw std::invalid_argument("expected hex bytes");
  return *bytes;
}

// The words from `from` on, joined by single spaces.
inline std::string Rest(const std::vector<std::string>& args, std::size_t from) {
  std::string text;
  for (std::size_t i = from; i < args.size(); ++i) text += (i == from ? "" : " ") + args[i];
  return text;
}

}  // namespace vterm::words
