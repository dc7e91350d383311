// An in-process terminal for the fuzzers: the library's HID backend seam, answering from a
// script of messages instead of a device.
//
// Each frame the library writes takes the next scripted message as its reply; a read that
// waits (a non-zero time-out) and finds no report takes the next message as one the
// terminal sent by itself. Messages go out as the terminal sends them: 63-byte reports with
// the continuation bit, the last one carrying its count. Like an OS handle, a fresh Open()
// starts with an empty queue. When the script is used up and nothing is queued, a waiting
// read calls `onSilence` (the fuzzers end a polling loop there, as a close from another
// thread would).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "fuzz_input.h"
#include "link/hid_backend.h"

namespace vantorel::fuzz {

inline constexpr std::size_t kReportLength = 65;
inline constexpr std::size_t kReportData = 63;

// The 65-byte input reports of one message (none for an empty message).
std::vector<Bytes> SplitIntoReports(const Bytes& message);

// What joining the reports of one message into a `maxLength` buffer yields when nothing
// else arrives: every report that still fits is appended, one that does not is dropped.
Bytes JoinedReply(const Bytes& message, std::size_t maxLength);

// A command's reply as the library judges it: the first complete frame in what the read
// collected (STX, a length that fits, matching XOR and sum, ETX), or all of it when there is
// none. `after` receives the bytes behind a frame found (an entry or a capture hands them to
// its loop). With `longToo` a long frame (24-bit length) counts too where the short reading
// of the same STX fails (sign-format and picture reads).
Bytes Carved(const Bytes& collected, Bytes* after = nullptr, bool longToo = false);

class FakeTerminal : public link::HidBackend {
 public:
  std::deque<Bytes> script;
  std::function<void()> onSilence;
  std::size_t framesWritten = 0;

  bool Open(int vendorId, int productId) override;
  void Close() override;
  std::size_t InputReportLength() const override { return kReportLength; }
  std::size_t OutputReportLength() const override { return kReportLength; }
  bool WriteReport(const std::uint8_t* report, std::size_t length) override;
  int ReadReport(std::uint8_t* report, std::size_t capacity, int timeoutMs) override;

 private:
  void Post(const Bytes& message);
  std::deque<Bytes> queue_;
  bool open_ = false;
  bool silentRead_ = false;
};

// Points the library's connection at `terminal`: open, over HID, no mode running, nothing
// owed or kept from earlier input (as after an open).
void OpenFakeLink(FakeTerminal& terminal);
// Clears every mode flag, as Brixa_Close does first (the connection stays open).
void EndModes();
// Forgets input ownership: no late reply owed, nothing kept. Before each command of a target
// that runs several, so that a reply missing from one (which may still come, for a while)
// does not make the next wait for it.
void ForgetInput();

}  // namespace vantorel::fuzz
