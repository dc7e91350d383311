// HidDevice: the USB transport's report logic, OS-neutral, over a HidBackend.
//
// Output report: id 0, a count byte (0xBF = 63 bytes and more to come; the last report
// carries its 1-63 byte count), then up to 63 frame bytes, zero-filled. Input reports are
// joined while bit 7 of their count byte is set.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/hid_backend.h"
#include "link/timing.h"

namespace vantorel::link {

inline constexpr std::size_t kReportData = 63;
inline constexpr std::size_t kChunkSize = 64;  // count byte + 63 data bytes

class HidDevice {
 public:
  // Routes all I/O through `backend` (tests); null restores the OS's backend.
  void UseBackend(HidBackend* backend) noexcept;

  // Searches for the device and opens it afresh; 1 if found. Input reports still waiting on
  // the old handle are kept first: a new handle starts with an empty queue, and an
  // unsolicited message (a card swipe, an entry's answer) that arrived while a command waited
  // would otherwise be lost with the old one. Whether they are kept for a polling read or
  // dropped is the command layer's call (FilterKept).
  // With `trustHandle` (the prompt profile) a handle that has not failed since it was opened
  // is used without searching at all; a write that then fails searches again and writes once
  // more (nothing reached the device), a failed read makes the next Open search.
  int Open(int vendorId, int productId, bool trustHandle = false) noexcept;
  // Writes the frame as output reports; 1 when all were written.
  int WriteFrame(const std::uint8_t* bytes, std::size_t length) noexcept;
  // Reads one input report: `chunk` (64 bytes) receives the count byte and the data, or a
  // count byte of 0 when nothing arrived. 0 on an I/O error, else 1.
  int ReadReport(std::uint8_t* chunk, Millis timeout, bool kept = false) noexcept;
  // Joins input reports into `reply`; the bytes stored. A report that would pass
  // maxLength, or whose count byte claims more data than a report carries, is dropped.
  // With `kept` the reports kept from an earlier handle come first (polling reads); a
  // command's reply is read from the device alone. With `overflowed` a reply that does not
  // fit is taken whole or not at all: from the first report that would pass maxLength on
  // nothing more is stored, the reply's last report ends the read at once (no time-out
  // wait), and *overflowed says so.
  int ReadReply(std::uint8_t* reply, std::size_t maxLength, Millis timeout, bool kept = false,
                bool* overflowed = nullptr) noexcept;
  // Open, write, read the reply (nothing read when `reply` is null).
  int Transact(int vendorId, int productId, const std::uint8_t* bytes, std::size_t length,
               std::uint8_t* reply, std::size_t maxLength, Millis timeout) noexcept;
  // Closes the device and forgets kept reports.
  void Close() noexcept;

  // The kept reports, message by message (reports joined as ReadReply joins them; a run
  // cut short counts as one message): `keep(context, message, length)` decides whether each
  // stays, in order.
  using KeepDecision = bool (*)(void* context, const std::uint8_t* message, std::size_t length);
  void FilterKept(KeepDecision keep, void* context) noexcept;
  // Appends a message behind the kept reports, split into reports as the device sends it;
  // what does not fit is dropped. The bytes kept.
  std::size_t AppendKept(const std::uint8_t* message, std::size_t length) noexcept;
  // Drops the kept reports, wiped.
  void ForgetKept() noexcept;
  // Tests: whether the kept reports' storage holds `needle` within one report.
  bool KeptHolds(const std::uint8_t* needle, std::size_t length) const noexcept;

 private:
  HidBackend& Backend() noexcept;
  void CloseHandle() noexcept;
  // Moves the reports waiting on the open handle into keptChunks_.
  void KeepPendingReports() noexcept;
  // The frame bytes whose reports were written (length: all).
  std::size_t WriteReports(const std::uint8_t* bytes, std::size_t length) noexcept;

  // Room for a streaming pen's reports while commands keep a loop off the link.
  static constexpr std::size_t kKeptReports = 256;
  std::uint8_t keptChunks_[kKeptReports][kChunkSize] = {};
  std::size_t keptFirst_ = 0;
  std::size_t keptCount_ = 0;

  HidBackend* backend_ = nullptr;
  bool open_ = false;
  bool handleFailed_ = false;  // a write or read on the open handle failed
  bool trusted_ = false;       // the last Open used the handle without a search
  int vendorId_ = 0;
  int productId_ = 0;
};

// The one instance of the process, in LinkState (link_state.h).
HidDevice& TheHidDevice() noexcept;

}  // namespace vantorel::link
