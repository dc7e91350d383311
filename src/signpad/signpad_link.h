// The two exchanges the pad family needs beyond the ordinary command pattern: commands
// that carry more data than commandBuffer holds, and reads whose reply goes straight into
// the caller's buffer (pictures and sign-format blocks, which may come as long frames).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/command.h"

namespace vantorel::signpad {

// Largest content a long frame's 24-bit length can state.
inline constexpr std::size_t kLongFrameContentLimit = 0xFFFFFF;

// Sends `head` followed by `data` as one command, framed short up to 0xFFFE content bytes
// and long beyond, through the one command path. The frame is built in `work` when that is
// given (it must hold the content plus the long frame's 7 bytes), else in a heap buffer
// released when the call returns. 99 when the content cannot be framed at all, 0 when
// the heap buffer cannot be had (nothing is sent then).
std::uint8_t SendLargeCommand(std::span<const std::uint8_t> head,
                              std::span<const std::uint8_t> data,
                              std::span<std::uint8_t> work = {}) noexcept;

// Exchanges `command` with the reply read into `buffer` (its own size as the limit,
// kHidLongReplyTimeout for each HID report). A reply in the short layout (7 to 65,541 bytes) or the
// long layout (65,543 bytes or more) whose byte 3 or 4 acknowledges has its data moved to the start
// of `buffer` and their count stored in `length`. A reply larger than `buffer` is read to its end
// and dropped: 0, `buffer` cleared, `length` untouched. `buffer` must hold at least 7 bytes (the
// smallest reply frame).
std::uint8_t ReadIntoCallerBuffer(const link::CommandBytes& command, std::uint8_t* buffer,
                                  std::size_t bufferSize, unsigned int* length) noexcept;

}  // namespace vantorel::signpad
