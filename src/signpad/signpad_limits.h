// What the pad family checks before anything is sent: display bounds and the like.
#pragma once

#include <cstdint>

#include "link/timing.h"

namespace vantorel::signpad {

inline constexpr int kMaxX = 319;
inline constexpr int kMaxY = 239;
inline constexpr std::uint8_t kMaxBacklight = 200;

// Only upper bounds: the pad clips negative coordinates itself.
constexpr bool PointOnScreen(int x, int y) noexcept {
  return x <= kMaxX && y <= kMaxY;
}

// On screen and not inverted (a rectangle of one pixel is fine).
constexpr bool RectangleOnScreen(int left, int top, int right, int bottom) noexcept {
  return PointOnScreen(left, top) && PointOnScreen(right, bottom) && right >= left && bottom >= top;
}

}  // namespace vantorel::signpad
