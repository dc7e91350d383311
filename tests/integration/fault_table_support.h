// What the fault tables share: the protocol's waits, time bounds with their tolerance, and
// a caller's output buffer that shows whether anything reached it.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <tuple>

#include "link/timing.h"
#include "support/session.h"
#include "vantorel.h"
#include "vterm/device.h"

namespace fault_table {

using support::Bytes;
using support::ElapsedMs;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The transports the tables run on: the pseudo-terminal and the HID test backend.
inline const auto kTransports =
    ::testing::Values(support::Transport::kSerial, support::Transport::kHid);

// The waits a call is built from.
inline constexpr long kCommandWait = 100;    // after raising the busy flag, before the write
inline constexpr long kSerialWait = 300;     // between a serial write and the first read
inline constexpr long kSerialSilence = 200;  // a serial read call that sees nothing ends the reply
inline constexpr long kSerialGap = 50;       // a serial read call ends after this gap between bytes
inline constexpr long kHidReportWait = 512;  // for each input report of a command's reply

// After a command gave up on its reply, the library holds the next command back until the
// reply has come or this window (from the give-up) has passed, so that a late reply is
// recognised and dropped instead of being taken for the next command's.
inline constexpr long kOwedReplyWindow = vantorel::link::kLateReplyWindow.count();

// How much later than the protocol's time a call may return on a loaded machine (the
// suite runs many tests at once on two cores); early returns get only clock slack.
inline constexpr long kLate = 450;
inline constexpr long kEarly = 20;

// The profiles the tables run under.
inline const auto kTimings = VANTOREL_TIMINGS;

// A span of milliseconds a call takes by the protocol, per transport, under the standard
// profile and (where given) the prompt one.
struct Span {
  long serial;
  long hid;
  long promptSerial = -1;
  long promptHid = -1;
};

inline long Expected(const support::Session& session, Span span) {
  if (session.prompt()) return session.serial() ? span.promptSerial : span.promptHid;
  return session.serial() ? span.serial : span.hid;
}

// Prompt: no wait before the write nor after it; the first serial read waits for a first
// byte as long as the standard wait and read together. A reply that is there ends the read
// at its last byte; a reply cut short ends it at the gap and one silent read call.
inline constexpr long kPromptFirstByte = kSerialWait + kSerialSilence;
inline constexpr long kPromptCutShort = kSerialGap + kSerialSilence;

// `elapsed` is the protocol's time for the call, within the tolerance.
inline void ExpectTime(long elapsed, long expected, const std::string& what) {
  EXPECT_GE(elapsed, expected - kEarly) << what << ": returned too early";
  EXPECT_LE(elapsed, expected + kLate) << what << ": returned too late";
}

// A silent terminal: the command's whole wait, and nothing more.
inline constexpr Span kSilent{kCommandWait + kSerialWait + kSerialSilence,
                              kCommandWait + kHidReportWait, kPromptFirstByte, kHidReportWait};
// A reply that is there when the read starts: the serial read still ends with a silent
// read call; over HID the last report ends it at once.
inline constexpr Span kAnswered{kCommandWait + kSerialWait + kSerialSilence, kCommandWait, 0, 0};
// A long-running export's start skips the busy flag's wait.
inline constexpr Span kSilentStart{kSerialWait + kSerialSilence, kHidReportWait, kPromptFirstByte,
                                   kHidReportWait};

inline const std::string kVersion = vterm::kDefaultVersion;
inline const std::string kSerial = vterm::kDefaultSerial;

// A caller's text buffer and length, filled with a pattern so that any write shows.
struct Output {
  static constexpr char kFill = 0x5A;
  static constexpr int kNoLength = -7;
  std::array<char, 600> buffer;
  int length = kNoLength;

  Output() { buffer.fill(kFill); }
  bool Untouched() const {
    if (length != kNoLength) return false;
    for (char c : buffer) {
      if (c != kFill) return false;
    }
    return true;
  }
  // The reported bytes; the byte after them must be untouched (no terminator is written).
  std::string Text() const {
    if (length < 0 || length > static_cast<int>(buffer.size())) return "<bad length>";
    return std::string(buffer.data(), static_cast<std::size_t>(length));
  }
  bool NothingBeyond() const {
    for (std::size_t i = static_cast<std::size_t>(std::max(length, 0)); i < buffer.size(); ++i) {
      if (buffer[i] != kFill) return false;
    }
    return true;
  }
};

// An ordinary command that gets its own reply: the check after every fault.
inline void ExpectOwnSerialNumber(const std::string& what) {
  Output out;
  EXPECT_EQ(Brixa_GetSerialNumber(out.buffer.data(), &out.length), VANTOREL_SUCCESS) << what;
  EXPECT_EQ(out.Text(), kSerial) << what << ": the serial number, and only it";
  EXPECT_TRUE(out.NothingBeyond()) << what;
}

// Waits until `done` holds or `timeout` passed; true when it held.
template <class F>
bool WaitUntil(F&& done, std::chrono::milliseconds timeout = 5s) {
  const auto until = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > until) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// Runs a call that must return by itself. When it has not after `limitMs`, Brixa_Close
// ends it (a long-running export that took something for its acknowledgement), so the
// test fails instead of hanging: nullopt then.
template <class F>
std::optional<unsigned char> Bounded(F&& call, long limitMs) {
  auto result = std::async(std::launch::async, std::forward<F>(call));
  if (result.wait_for(std::chrono::milliseconds(limitMs)) == std::future_status::ready) {
    return result.get();
  }
  Brixa_Close();
  result.wait();
  return std::nullopt;
}

// Reopens the session's connection on whatever transport it uses.
inline unsigned char OpenAgain(support::Session& session) {
  return session.serial() ? Brixa_OpenPort(support::kPort, 9600, 'N', 1, 8)
                          : Brixa_OpenHid(vterm::kVendorId, vterm::kProductId);
}

// A table row's test name: the row's name, the transport and the timing profile.
template <class Row>
std::string RowName(
    const ::testing::TestParamInfo<std::tuple<support::Transport, support::Timing, Row>>& info) {
  return std::string(std::get<2>(info.param).name) + "_" +
         support::TransportLabel(std::get<0>(info.param)) +
         support::TimingSuffix(std::get<1>(info.param));
}

}  // namespace fault_table
