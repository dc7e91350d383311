// The display lines every PIN-pad entry (and manual card entry) sends with its command.
//
// One encoded PromptLine (21 + n bytes, n the length of its text):
//   21+n, 00, attributes[13], x (2), y (2), n, 00, text[n]
// x and y go out as 16 bits: the low byte, then the low byte of the value / 256 (truncated
// toward zero, as every 32-bit value sent as 16 bits). The lines follow each other directly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/byte_writer.h"
#include "vantorel.h"

namespace vantorel::pinpad {

inline constexpr std::size_t kMaxPromptLines = 10;
inline constexpr std::size_t kPromptLineHeader = 21;
// The encoded length 21 + n must fit its one byte.
inline constexpr std::size_t kMaxPromptText = 255 - kPromptLineHeader;

// How many lines a request asks for: only the low byte of the count counts.
inline std::size_t PromptLineCount(int promptLineCount) noexcept {
  return static_cast<std::uint8_t>(promptLineCount & 0xFF);
}

// Encodes `line` at `out`. Refuses (returns false, writes nothing) when its text is null or
// longer than kMaxPromptText, or the encoding does not fit `capacity`; otherwise stores the
// bytes written in `written`.
bool EncodePromptLine(const PromptLine& line, std::uint8_t* out, std::size_t capacity,
                      std::size_t& written) noexcept;

// Encodes the first `count` lines one after the other. Refuses (false) when `count` exceeds
// kMaxPromptLines or any line is refused; `written` then holds no meaning. A caller turns a
// refusal into 99.
bool EncodePromptLines(const PromptLine* lines, std::size_t count, std::uint8_t* out,
                       std::size_t capacity, std::size_t& written) noexcept;

// Selector, option bytes, the four values, flag byte, line count, 00, the lines: the part
// every entry shares, the PIN-pad entries and manual card entry alike. A refused line leaves
// `out` not fitting.
template <std::size_t N, class Request>
void PutEntryFields(link::ByteWriter<N>& out, const Request& r) noexcept {
  const std::size_t lines = PromptLineCount(r.promptLineCount);
  out.Byte(r.selector)
      .Bytes(r.optionBytes, sizeof r.optionBytes)
      .Word(r.value1)
      .Word(r.value2)
      .Word(r.value3)
      .Word(r.value4)
      .Byte(r.flagByte)
      .Byte(static_cast<std::uint8_t>(lines))
      .Byte(0x00)
      .Encoded([&](std::uint8_t* at, std::size_t capacity, std::size_t& written) {
        return EncodePromptLines(r.promptLines, lines, at, capacity, written);
      });
}

}  // namespace vantorel::pinpad
