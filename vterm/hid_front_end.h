// vterm::HidFrontEnd: the terminal as a USB HID device, through the library's HidBackend
// seam (no OS involved). Hand it to HidDevice::UseBackend() in tests.
//
// Output reports (host to terminal), 65 bytes: id 0, count byte (bit 7: more follow; bits
// 0-6: data bytes, at most 63), data. Each report's data go to the terminal as they come;
// the terminal's frame parser joins them. Input reports (terminal to host): each outgoing
// message is split into its own run of 65-byte reports, 0xBF for every full report but
// the last, the last carrying its count (1-63), zero padding.
//
// Like a fresh OS handle, Open() starts with an empty input queue: reports queued before
// it are lost (SetDiscardOnOpen(false) keeps them). A restart of the terminal takes the
// device off the bus for the restart duration: the open handle dies (reads return -1,
// writes fail) and Open() fails until it is back, with the same ids. Messages the terminal
// sends while no handle is open are lost, as they would be on a real bus.
//
// Threads: any. The terminal calls in with its lock held; this class never calls the
// terminal while holding its own lock.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "link/hid_backend.h"
#include "vterm/terminal.h"

namespace vterm {

inline constexpr int kVendorId = 0x0ACD;
inline constexpr int kProductId = 0x3910;
inline constexpr std::size_t kReportLength = 65;
inline constexpr std::size_t kReportData = 63;

using Report = std::array<std::uint8_t, kReportLength>;

// The input reports for one message (none for an empty message).
std::vector<Report> SplitIntoReports(std::span<const std::uint8_t> message);

class HidFrontEnd : public vantorel::link::HidBackend {
 public:
  explicit HidFrontEnd(Terminal& terminal, int vendorId = kVendorId, int productId = kProductId);
  ~HidFrontEnd() override;
  HidFrontEnd(const HidFrontEnd&) = delete;
  HidFrontEnd& operator=(const HidFrontEnd&) = delete;

  // HidBackend.
  bool Open(int vendorId, int productId) override;
  void Close() override;
  std::size_t InputReportLength() const override { return kReportLength; }
  std::size_t OutputReportLength() const override { return kReportLength; }
  // False when not open, off the bus, or `length` is not 65. A count byte above 63 (bit 7
  // aside) is accepted and recorded, but its data are dropped.
  bool WriteReport(const std::uint8_t* report, std::size_t length) override;
  // 65 with a report, 0 after `timeoutMs` without one, -1 when not open, when the device
  // leaves the bus or the handle is closed during the wait, or `capacity` < 65.
  int ReadReport(std::uint8_t* report, std::size_t capacity, int timeoutMs) override;

  // The bus.
  void Unplug();  // the open handle dies; Open() fails until Plug()
  void Plug();
  void Hangup() { Unplug(); }  // the same, named like PtyFrontEnd's
  bool Plugged() const;        // false during a restart too
  bool IsOpen() const;
  int OpenCount() const;  // successful Open() calls
  void SetDiscardOnOpen(bool discard);

  // Every output report written, exactly as written.
  std::vector<Report> OutputReports() const;
  // Every input report queued for the host (the terminal's messages and injected ones).
  std::vector<Report> InputReports() const;
  void ClearReports();
  std::size_t PendingInputReports() const;
  // Queues a raw input report for the open handle (padded with zeros to 65 bytes,
  // truncated beyond).
  void InjectInputReport(std::span<const std::uint8_t> report);
  // The next message from the terminal goes out as exactly these reports instead.
  void ReplaceNextMessage(std::vector<Bytes> reports);

 private:
  void OnMessage(const Bytes& message, bool more);
  void DropHandleLocked();
  bool PresentLocked() const;
  static Report Pad(std::span<const std::uint8_t> bytes);

  Terminal& terminal_;
  const int vendorId_;
  const int productId_;
  int listenerId_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool plugged_ = true;
  Clock::time_point offBusUntil_;
  bool open_ = false;
  std::uint64_t handle_ = 0;  // changes whenever a handle dies
  int openCount_ = 0;
  bool discardOnOpen_ = true;
  std::deque<Report> input_;
  std::vector<Report> outputLog_;
  std::vector<Report> inputLog_;
  std::vector<Bytes> replacement_;
  bool replaceNext_ = false;
};

}  // namespace vterm
