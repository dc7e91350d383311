// SerialPort: the RS-232 transport. The OS-neutral half (open-string clean-up, the chunked
// reply read) lives in serial_port.cpp; each OS supplies the device half in its own file
// (serial_port_posix.cpp, serial_port_win32.cpp).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "link/timing.h"

namespace vantorel::link {

// The open string split into device name and line settings after the clean-up: blanks and
// tabs dropped, '/' turned into a blank, the device name up to the first blank.
struct OpenString {
  char deviceName[257] = {};
  char lineSettings[257] = {};
};

// Returns false for a null string or a length outside 10-256.
bool SplitOpenString(const char* openString, OpenString& out) noexcept;

// Line settings in the "baud=9600 parity=N data=8 stop=1" syntax (keys and parity letters
// in either case; every key optional, a key given twice takes the last value).
struct LineSettings {
  int baud = 0;      // 0: leave as is
  char parity = 0;   // 'N', 'E', 'O', 'M', 'S'; 0: leave as is
  int dataBits = 0;  // 5-8; 0: leave as is
  int stopBits = 0;  // 1 or 2; 0: leave as is
};

// Returns false for an unknown key, a malformed pair or a value out of range.
bool ParseLineSettings(const char* text, LineSettings& out) noexcept;

// SerialPort::Read collects a reply in chunks of this size.
inline constexpr std::size_t kReadChunkSize = 512;

// Told by SerialPort::Read when a reply did not fit its limit: how many bytes the reply
// brought (stored or dropped) and its first bytes, so that the caller can tell how much of
// it is still to come.
struct ReadOverflow {
  bool happened = false;
  std::size_t arrived = 0;
  std::uint8_t head[5] = {};
  std::size_t headLength = 0;
};

// How one read call may end other than by the line's time-outs (the prompt profile): at a
// byte that may end a frame, the caller then judging whether it did; and a first byte
// awaited this much longer than the total time-out.
struct ReadEnd {
  bool atEtx = false;
  Millis firstByteGrace{0};
};

class SerialPort {
 public:
  // Opens the port named in the open string; 1 on success, 0 on any failure (also when
  // already open).
  int Open(const char* openString) noexcept;
  // Writes all bytes in one call; the count written, 0 on failure.
  int Write(const std::uint8_t* bytes, std::size_t length) noexcept;
  // Reads a whole reply, 512-byte chunks until a read stays silent; the count stored, or
  // -1 when a read call failed. A chunk that would pass maxLength is dropped and ends the
  // read; `overflow`, when given, then says so.
  int Read(std::uint8_t* buffer, std::size_t maxLength, ReadOverflow* overflow = nullptr) noexcept;
  // One read of at most `count` bytes under the port's time-outs (ended sooner or later as
  // `end` says); -1 on failure.
  int ReadRaw(std::uint8_t* buffer, std::size_t count, const ReadEnd& end = {}) noexcept;
  // Takes at most `count` bytes that have already arrived, without waiting; -1 on failure.
  int ReadWaiting(std::uint8_t* buffer, std::size_t count) noexcept;
  // Closes the device; always performed.
  void Close() noexcept;
  bool IsOpen() const noexcept { return isOpen_.load() != 0; }
  // The device path the last Open resolved its name to ("" before any): what causes and
  // trace lines name.
  const char* Device() const noexcept { return device_; }

 private:
  // The OS half. OpenDevice applies the line settings, raw mode, the time-outs and
  // flushes both directions. ReadOnce returns after `count` bytes, a kSerialReadGap after a
  // byte, or kSerialReadTotal after it started (0 bytes then), -1 on error.
  bool OpenDevice(const char* deviceName, const char* lineSettings) noexcept;
  int ReadOnce(std::uint8_t* buffer, std::size_t count, const ReadEnd& end = {}) noexcept;
  // Returns at once with what the input queue holds (up to `count`), -1 on error.
  int ReadNow(std::uint8_t* buffer, std::size_t count) noexcept;
  int WriteOnce(const std::uint8_t* bytes, std::size_t length) noexcept;
  void CloseDevice() noexcept;

  // Held for every operation, so that a Close from another thread never pulls the device
  // from under a read or write in progress (a closed descriptor number can be reused).
  std::mutex mutex_;
  std::atomic<int> isOpen_{0};
  std::intptr_t handle_ = -1;  // file descriptor or HANDLE
  char lineSettings_[257] = {};
  char device_[257] = {};
};

// The one instance of the process, in LinkState (link_state.h).
SerialPort& TheSerialPort() noexcept;

// COM port numbers: Brixa_MapPort's table. ResolvePortDevice turns a device name of the
// form "\\.\COMn" or "COMn" (n 1-100) into its mapped path; without a mapping it writes
// the OS default (DefaultPortDevice) and for any other name the name itself.
inline constexpr int kMaxPort = 100;
inline constexpr std::size_t kMaxDevicePath = 255;
bool MapPort(int port, const char* devicePath) noexcept;
void ResolvePortDevice(const char* deviceName, char* out, std::size_t outSize) noexcept;
// Supplied by the OS file: "/dev/ttyS<n-1>" on Linux, "\\.\COMn" on Windows.
void DefaultPortDevice(int port, char* out, std::size_t outSize) noexcept;

}  // namespace vantorel::link
