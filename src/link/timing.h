// Every fixed wait and time-out of the library, in one unit, and the one function that
// sleeps. Nothing else in the library spells a number of milliseconds.
#pragma once

#include <chrono>

namespace vantorel::link {

using Millis = std::chrono::milliseconds;

// --- Ordinary commands ------------------------------------------------------------------
// Wait after raising linkBusy before an ordinary command writes its frame.
inline constexpr Millis kCommandWait{100};
// No wait before the write: loop starts and switch-ons that are their own exchange.
inline constexpr Millis kNoWait{0};
// A line takes the pad longer to take in than other drawing commands.
inline constexpr Millis kLineWait{300};

// --- Serial line ------------------------------------------------------------------------
// Wait between writing a frame over serial and reading its reply.
inline constexpr Millis kSerialReplyWait{300};
// Wait after the first open handshake's write over serial.
inline constexpr Millis kHandshakeWait{100};
// A serial read call ends this long after a byte that no further byte followed ...
inline constexpr Millis kSerialReadGap{50};
// ... and at the latest this long after it started.
inline constexpr Millis kSerialReadTotal{200};
// A write that makes no progress for this long fails (a stalled or vanished line).
inline constexpr Millis kSerialWriteStall{10000};
// How long after a command gave up its reply is still expected: a late reply arriving in
// this window is recognised and dropped; the next command waits for it at most this long.
inline constexpr Millis kLateReplyWindow{1500};
// Polling step while a command waits for an owed late reply on the serial line.
inline constexpr Millis kSettlePoll{10};

// --- HID --------------------------------------------------------------------------------
// Writing one output report gives up after this long.
inline constexpr Millis kHidReportWriteWait{100};
// Wait for each input report of a reply: commands and polling loops ...
inline constexpr Millis kHidReplyTimeout{512};
// ... and picture and sign-format reads, which the terminal assembles more slowly.
inline constexpr Millis kHidLongReplyTimeout{1024};
// Capture's wait for the next pen report: short, so the loop looks at its flags often.
inline constexpr Millis kHidPointWait{64};

// --- Polling loops ----------------------------------------------------------------------
// Lets another thread run while capture waits for the link; much shorter than any read,
// so the loop notices a cleared busy flag at once without burning a core.
inline constexpr Millis kCaptureYield{1};
// Sleep at the end of every pass of the secure-reading loop.
inline constexpr Millis kReadingPassSleep{50};
// The reader's switch-off waits longer than an ordinary command before it writes.
inline constexpr Millis kDisableWait{200};
// Sleep at the end of each pass of the PIN-pad entry waits.
inline constexpr Millis kEntryPassSleep{100};

// The milliseconds of `duration` as the OS calls take them (poll, WaitForSingleObject).
constexpr int ToMs(Millis duration) noexcept {
  return static_cast<int>(duration.count());
}

// Sleeps the calling thread for `duration`.
void Pause(Millis duration) noexcept;

}  // namespace vantorel::link
