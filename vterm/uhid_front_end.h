// vterm::UhidFrontEnd: the terminal as a real USB HID device of the running Linux kernel,
// created through /dev/uhid. The host finds it like the physical terminal: a hidraw node
// whose HID_ID carries the vendor and product id, with one unnumbered 64-byte input report
// and one unnumbered 64-byte output report (65 bytes through hidraw, id byte included).
//
// Output reports (host to terminal): the count byte (bit 7: more follow; bits 0-6: data
// bytes, at most 63) and the data go to the terminal as they come, as in HidFrontEnd; a
// count above 63 names data a report cannot carry and the report's data are dropped.
// Input reports (terminal to host): each message is split into its own run of reports
// (SplitIntoReports) and sent at the pace of a full-speed interrupt endpoint, about one per
// millisecond (hidraw keeps only 64 unread reports per handle). The kernel hands an input
// report to every hidraw handle open at that moment; with none open, it is lost, as on a
// real bus. Reports still queued when the device leaves the bus are lost too.
//
// Restart: the device leaves the bus (it is destroyed, open handles die) and is created
// again with the same ids once the restart duration has passed.
//
// Needs /dev/uhid (module uhid) and write access to it; the machines that build the
// project usually have neither, so this runs inside the test VM (tests/vm).
//
// Threads: one of its own, which reads the kernel's events and feeds the terminal. The
// terminal calls in with its lock held; this class never calls the terminal while holding
// its own lock.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vterm/hid_front_end.h"
#include "vterm/terminal.h"

namespace vterm {

class UhidFrontEnd {
 public:
  // Creates the device and returns once its hidraw node exists. Throws std::runtime_error
  // when /dev/uhid cannot be opened or the kernel does not bring the device up.
  explicit UhidFrontEnd(Terminal& terminal, int vendorId = kVendorId, int productId = kProductId);
  // Destroys the device.
  ~UhidFrontEnd();
  UhidFrontEnd(const UhidFrontEnd&) = delete;
  UhidFrontEnd& operator=(const UhidFrontEnd&) = delete;

  // True when /dev/uhid can be opened for writing.
  static bool Available();

  // The device leaves the bus; hidraw handles open on it die. Returns once it is gone.
  void Unplug();
  // The device rejoins with the same ids; returns once its hidraw node exists (throws
  // std::runtime_error when it does not appear).
  void Plug();
  // False while unplugged and during a restart.
  bool Plugged() const;
  // The device's hidraw node (/dev/hidrawN), empty while it is off the bus.
  std::string NodePath() const;
  // Whether a host has the device open, and how often it was opened: the kernel reports
  // the first open and the last close, so with one host each of its opens counts.
  bool IsOpen() const;
  int OpenCount() const;

  // Every output report exactly as the kernel handed it over (report id 0 in front),
  // truncated or zero-padded to 65 bytes.
  std::vector<Report> OutputReports() const;
  // Every input report sent, with report id 0 in front (the kernel gets bytes 1-64).
  std::vector<Report> InputReports() const;
  void ClearReports();
  // The next message from the terminal goes out as exactly these reports instead (each
  // padded to 65 bytes; byte 0, the report id, is not sent).
  void ReplaceNextMessage(std::vector<Bytes> reports);

 private:
  // What the destructor does; also undoes a constructor that fails half-way.
  void Teardown();
  void Loop();
  void HandleEvent(const void* event, std::size_t size);
  void OnMessage(const Bytes& message);
  // Kernel requests; the caller holds mutex_.
  bool CreateLocked();
  void DestroyLocked();
  bool SendInputLocked(const Report& report);
  // Sends the queued input reports that are due; milliseconds until the next is, or -1
  // when none is queued.
  int SendDueInputLocked();
  // Waits for the hidraw node of the device created last; false after `timeoutMs`.
  bool WaitForNode(int timeoutMs);

  Terminal& terminal_;
  const int vendorId_;
  const int productId_;
  const std::string phys_;  // tells this device's hidraw node from any other
  int fd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  int listenerId_ = 0;

  mutable std::mutex mutex_;
  bool created_ = false;
  bool plugged_ = true;
  bool restartPending_ = false;
  Clock::time_point offBusUntil_;
  bool open_ = false;
  int openCount_ = 0;
  std::vector<Report> outputLog_;
  std::vector<Report> inputLog_;
  std::deque<Report> pendingInput_;
  Clock::time_point nextInputAt_;
  std::vector<Bytes> replacement_;
  bool replaceNext_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace vterm
