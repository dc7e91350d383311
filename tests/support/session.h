// A virtual terminal on a chosen transport with the library pointed at it: the real exports
// then talk to it over a real pseudo-terminal (serial) or through the HID test backend.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "vantorel.h"
#include "vterm/frame_codec.h"
#include "vterm/hid_front_end.h"
#include "vterm/pty_front_end.h"
#include "vterm/terminal.h"
#include "vterm/uhid_front_end.h"

namespace support {

using vterm::Bytes;

// kUhid: the terminal as a kernel HID device (/dev/uhid), reached through the library's own
// hidraw backend; only inside the test VM (tests/vm).
enum class Transport { kSerial, kHid, kUhid };

// The library's timing profile a session runs under (Brixa_SetTiming).
enum class Timing { kStandard, kPrompt };

// The COM port number the serial session maps to its pseudo-terminal.
inline constexpr int kPort = 3;

class Session {
 public:
  // Sets the timing profile for the session's commands (standard again at its end).
  explicit Session(Transport transport, Timing timing = Timing::kStandard);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Transport transport() const { return transport_; }
  bool serial() const { return transport_ == Transport::kSerial; }
  bool prompt() const { return timing_ == Timing::kPrompt; }
  vterm::Terminal& terminal() { return terminal_; }
  // Null on the other transport.
  vterm::PtyFrontEnd* pty() { return pty_.get(); }
  vterm::HidFrontEnd* hid() { return hid_.get(); }
  vterm::UhidFrontEnd* uhid() { return uhid_.get(); }

  // Opens the library's connection (9600 8N1 over serial), then forgets the handshake
  // frames so that a test sees only its own commands.
  unsigned char Open();

  // After the port hung up or the device left the bus: a new pseudo-terminal mapped to the
  // same COM port, or the device back on the bus with the same ids.
  void Reattach();

  // Content bytes of every valid frame received since the last Clear.
  std::vector<Bytes> Commands() const { return terminal_.Commands(); }
  // The only command received since the last Clear (fails the test otherwise).
  Bytes OnlyCommand() const;
  // Raw bytes of every frame received since the last Clear.
  std::vector<Bytes> Frames() const;
  void Clear();

 private:
  Transport transport_;
  Timing timing_;
  vterm::Terminal terminal_;
  std::unique_ptr<vterm::PtyFrontEnd> pty_;
  std::unique_ptr<vterm::HidFrontEnd> hid_;
  std::unique_ptr<vterm::UhidFrontEnd> uhid_;
};

// "Serial", "Hid" or "Uhid": test-name suffixes (the VM runs the tests named */Uhid*).
std::string TransportLabel(Transport transport);
std::string TransportName(const ::testing::TestParamInfo<Transport>& info);
// "" or "_Prompt": a test-name suffix after the transport's.
std::string TimingSuffix(Timing timing);
// The profiles a table runs under.
#define VANTOREL_TIMINGS ::testing::Values(::support::Timing::kStandard, ::support::Timing::kPrompt)
inline void PrintTo(Timing timing, std::ostream* os) {
  *os << (timing == Timing::kPrompt ? "Prompt" : "Standard");
}
// Prints a transport by its label in a test's parameters.
inline void PrintTo(Transport transport, std::ostream* os) {
  *os << TransportLabel(transport);
}

// Tests that run once over each transport: TEST_P(Suite, Name) with a `session` member.
class TransportTest : public ::testing::TestWithParam<Transport> {
 protected:
  Session session{GetParam()};
};

// The transports a suite runs on: serial and the HID test backend, or, in the VM's test
// program (built with VANTOREL_TEST_UHID), the kernel's HID device instead. Suites with
// more parameters use VANTOREL_TRANSPORTS inside ::testing::Combine.
#ifdef VANTOREL_TEST_UHID
#define VANTOREL_TRANSPORTS ::testing::Values(::support::Transport::kUhid)
#else
#define VANTOREL_TRANSPORTS \
  ::testing::Values(::support::Transport::kSerial, ::support::Transport::kHid)
#endif

#define VANTOREL_ON_BOTH_TRANSPORTS(Suite) \
  INSTANTIATE_TEST_SUITE_P(, Suite, VANTOREL_TRANSPORTS, ::support::TransportName)

// Milliseconds since `start`.
inline long ElapsedMs(std::chrono::steady_clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count());
}

}  // namespace support
