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

// Sleeps the calling thread for `duration` (pause.cpp: its own unit, so that every wait the
// profiles below keep still goes through one symbol that a test can wrap at link time).
void Pause(Millis duration) noexcept;

// --- Profiles ---------------------------------------------------------------------------
// Standard: the fixed waits above, the pacing every caller and terminal may rely on.
// Prompt: no wait before a write (the link lock already orders a command after a loop's
// read), no wait after it (the read starts at once and waits as long for the first byte),
// and a serial read that ends as soon as a complete reply frame is there. Over HID a handle
// that works is used without searching for the device again. Time-outs stay as they are,
// so a slow or silent terminal is handled alike. The minimum gap, in both profiles, is the
// least time between the end of one exchange and the next write.
enum class Profile { kStandard = 0, kPrompt = 1 };

struct TimingSetting {
  Profile profile = Profile::kStandard;
  Millis minimumGap{0};
};
inline constexpr Millis kMaxMinimumGap{10000};

// The value of VANTOREL_TIMING: "standard" or "prompt", optionally followed by ":<gap ms>"
// ("prompt:20"); blanks around the parts are allowed. False (and `out` untouched) for any
// other text.
bool ParseTimingSetting(const char* text, TimingSetting& out) noexcept;

// The setting in force; a change takes effect at the next command.
void SetTimingSetting(const TimingSetting& setting) noexcept;
TimingSetting CurrentTiming() noexcept;
bool PromptTiming() noexcept;

// Before a command's write, with the link held: the command's own wait under the standard
// profile (none under prompt), then whatever the minimum gap still asks for.
void PauseBeforeWrite(Millis commandWait) noexcept;
// Right before any frame is written (handshakes and loop exchanges too): the minimum gap.
void KeepMinimumGap() noexcept;
// Between a serial write and the start of its read: the standard profile's wait.
void PauseAfterWrite(Millis serialWait) noexcept;
// How long the first serial read after a write waits for a first byte beyond the line's own
// time-out: what the standard profile spent in PauseAfterWrite, so that a late reply is
// answered in time in both profiles.
Millis FirstByteGrace(Millis serialWait) noexcept;
// An exchange ended (its read is over or failed): the minimum gap counts from here.
void NoteExchangeEnded() noexcept;

// Notes the end of an exchange when it goes out of scope, whichever way the exchange ends.
struct ExchangeEndMark {
  ExchangeEndMark() = default;
  ExchangeEndMark(const ExchangeEndMark&) = delete;
  ExchangeEndMark& operator=(const ExchangeEndMark&) = delete;
  ~ExchangeEndMark() { NoteExchangeEnded(); }
};

// Reads VANTOREL_TIMING; once, at load, right after the trace is set up (trace.cpp), so that
// a value it does not know is reported there. Unset or unknown: standard, no gap.
void ReadTimingEnvironment() noexcept;

}  // namespace vantorel::link
