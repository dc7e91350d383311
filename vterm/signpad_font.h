// The pad's built-in 5x7 font (with descenders in an eighth row) for bytes 0x20-0x7E.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace vterm {

inline constexpr int kGlyphColumns = 5;
inline constexpr int kCellWidth = 6;
inline constexpr int kCellHeight = 8;

// Column bitmaps, bit 0 the top row; nullopt for bytes the font does not have.
std::optional<std::array<std::uint8_t, kGlyphColumns>> GlyphColumns(std::uint8_t ch);

}  // namespace vterm
