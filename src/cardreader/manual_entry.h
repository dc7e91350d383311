// The command body of a manual card entry: a 32-byte header, then the encoded prompt lines.
//
//   0 mode, 1 entryKind, 2 upperBound, 3 lowerBound, 4 selector, 5..20 optionBytes,
//   21/23/25/27 value1..value4 (16 bits each, low byte first), 29 flagByte,
//   30 prompt line count (low byte), 31 00, 32.. the lines
#pragma once

#include <cstddef>
#include <cstdint>

#include "vantorel.h"

namespace vantorel::cardreader {

inline constexpr std::size_t kManualHeaderSize = 32;
// The body is built in a working buffer of this size.
inline constexpr std::size_t kManualBodyCapacity = 512;

// Checks the request's values (mode 0-1, entryKind 1-3, upperBound not below lowerBound,
// selector 0-3, at most 10 lines); true when they are acceptable.
bool ManualEntryValuesValid(const ManualEntryRequest& request) noexcept;

// Builds the body into `out` (kManualBodyCapacity bytes); its length, or 0 when a line has
// no text, a text is longer than 234 bytes or the body would not fit.
std::size_t BuildManualEntryBody(const ManualEntryRequest& request, std::uint8_t* out) noexcept;

// Whether the terminal's ACK alone ends the entry (mode 0 with entryKind 1 or 2) rather than
// a data message.
inline bool EndsOnAck(const ManualEntryRequest& request) noexcept {
  return request.mode == 0 && (request.entryKind == 1 || request.entryKind == 2);
}

}  // namespace vantorel::cardreader
