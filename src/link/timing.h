// Every fixed wait of the library goes through Pause, so the timing rules stay in one place.
#pragma once

#include <chrono>

namespace vantorel::link {

using Millis = std::chrono::milliseconds;

// Wait after raising linkBusy before an ordinary command writes its frame.
inline constexpr Millis kCommandWait{100};
// Wait between writing a frame over serial and reading its reply.
inline constexpr Millis kSerialReplyWait{300};
// Wait after the first open handshake's write over serial.
inline constexpr Millis kHandshakeWait{100};
// How long after a command gave up its reply is still expected: a late reply arriving in
// this window is recognised and dropped; the next command waits for it at most this long.
inline constexpr Millis kLateReplyWindow{1500};
// Polling step while a command waits for an owed late reply on the serial line.
inline constexpr Millis kSettlePoll{10};
// Sleep at the end of each pass of the PIN-pad entry waits.
inline constexpr Millis kEntryPassSleep{100};
// Report waits of HID reads: commands and polling loops, picture and sign-format reads.
inline constexpr int kHidReplyTimeoutMs = 512;
inline constexpr int kHidLongReplyTimeoutMs = 1024;

// Sleeps the calling thread for `duration`.
void Pause(Millis duration) noexcept;

// Lets another thread run while a polling loop waits for the link; much shorter than any
// read, so a loop notices a cleared busy flag at once without burning a core.
void YieldBriefly() noexcept;

}  // namespace vantorel::link
