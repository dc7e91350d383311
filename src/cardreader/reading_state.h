// State the card reader's exports share beyond the connection flags.
#pragma once

#include <atomic>

namespace vantorel::cardreader {

// Set by an enable call from its state checks until it returns, so that a second enable (or
// a manual entry) cannot slip in while the first is still switching the head on, before
// secureHeadActive is set.
std::atomic<bool>& ReadingClaimed() noexcept;

}  // namespace vantorel::cardreader
