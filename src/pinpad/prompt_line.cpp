#include "pinpad/prompt_line.h"

#include <cstring>

namespace vantorel::pinpad {

using link::PutWord;

bool EncodePromptLine(const PromptLine& line, std::uint8_t* out, std::size_t capacity,
                      std::size_t& written) noexcept {
  if (line.text == nullptr) return false;
  // Bounded walk: an over-long text is refused without reading it to its end.
  std::size_t n = 0;
  while (n <= kMaxPromptText && line.text[n] != '\0') ++n;
  if (n > kMaxPromptText) return false;
  const std::size_t total = kPromptLineHeader + n;
  if (out == nullptr || total > capacity) return false;
  out[0] = static_cast<std::uint8_t>(total);
  out[1] = 0x00;
  std::memcpy(out + 2, line.attributes, sizeof line.attributes);
  PutWord(out + 15, line.x);
  PutWord(out + 17, line.y);
  out[19] = static_cast<std::uint8_t>(n);
  out[20] = 0x00;
  if (n != 0) std::memcpy(out + kPromptLineHeader, line.text, n);
  written = total;
  return true;
}

bool EncodePromptLines(const PromptLine* lines, std::size_t count, std::uint8_t* out,
                       std::size_t capacity, std::size_t& written) noexcept {
  if (count > kMaxPromptLines || (count != 0 && lines == nullptr)) return false;
  std::size_t used = 0;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t one = 0;
    if (!EncodePromptLine(lines[i], out + used, capacity - used, one)) return false;
    used += one;
  }
  written = used;
  return true;
}

}  // namespace vantorel::pinpad
