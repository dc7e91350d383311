// The Win32 side of SerialPort: a synchronous COM handle whose time-outs do all the timing.
#include <windows.h>

#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "link/last_error.h"
#include "link/serial_port.h"
#include "link/timing.h"
#include "link/trace.h"

namespace vantorel::link {

namespace {

// The DCB bit fields as one word (they follow DCBlength and BaudRate). Cleared: fParity,
// fOutxCtsFlow, fOutxDsrFlow, fDtrControl's high bit, fDsrSensitivity, fTXContinueOnXoff,
// fOutX, fInX, fErrorChar, fNull, fRtsControl's high bit, fAbortOnError. Set: the low bits
// of fDtrControl and fRtsControl (DTR and RTS raised). fBinary and the reserved upper bits
// keep what GetCommState and BuildCommDCBA left.
constexpr DWORD kFlagsCleared = 0x6FEE;
constexpr DWORD kFlagsSet = 0x1010;
// Both modem-line control fields, two bits each.
constexpr DWORD kModemLineControl = 0x3030;
constexpr std::size_t kFlagWordOffset = offsetof(DCB, BaudRate) + sizeof(DWORD);

// Queue sizes are a hint: drivers that keep fixed queues refuse them, which is harmless.
constexpr DWORD kQueueSize = 4096;

// A read returns after a kSerialReadGap gap following a byte, or kSerialReadTotal after it started;
// writes have no time-out.
constexpr COMMTIMEOUTS kTimeouts = {ToMs(kSerialReadGap), 0, ToMs(kSerialReadTotal), 0, 0};

HANDLE Handle(std::intptr_t handle) noexcept {
  return reinterpret_cast<HANDLE>(handle);
}

DWORD FlagWord(const DCB& dcb) noexcept {
  DWORD word;
  std::memcpy(&word, reinterpret_cast<const unsigned char*>(&dcb) + kFlagWordOffset, sizeof word);
  return word;
}

void SetFlagWord(DCB& dcb, DWORD word) noexcept {
  std::memcpy(reinterpret_cast<unsigned char*>(&dcb) + kFlagWordOffset, &word, sizeof word);
}

// A failed call on the port: the call's cause (recorded whether or not the trace is on) and
// its trace line. A COM port that another program holds refuses us with "access denied".
void Fail(const char* call, const char* deviceName) noexcept {
  const DWORD error = ::GetLastError();
  const char* name = std::strncmp(deviceName, "\\\\.\\", 4) == 0 ? deviceName + 4 : deviceName;
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
    last_error::Cause("%s is in use by another program or connection", name);
    if (!trace::On()) [[likely]]
      return;  // the busy line is composed only for the trace
    char text[300];
    std::snprintf(text, sizeof text, "%s is in use by another program", name);
    trace::Note(text);
    return;
  }
  char message[256];
  last_error::Cause("%s %s: %s", call, name,
                    trace::WindowsErrorText(error, message, sizeof message));
  trace::OsErrorCode(call, name, error);
}

// A read or write that failed on an open port: the device is gone (unplugged USB adapter).
void Gone(const char* device, const char* what) noexcept {
  char message[256];
  last_error::Cause("device gone: %s %s (%s)", device, what,
                    trace::WindowsErrorText(::GetLastError(), message, sizeof message));
}

}  // namespace

bool SerialPort::OpenDevice(const char* deviceName, const char* lineSettings) noexcept {
  // No sharing: no other process may hold the port while we do.
  const HANDLE h = ::CreateFileA(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Fail("CreateFileA", deviceName);
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);

  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(h, &dcb)) {
    Fail("GetCommState", deviceName);
    return false;
  }
  if (!::BuildCommDCBA(lineSettings, &dcb)) {
    Fail("BuildCommDCBA", deviceName);
    return false;
  }
  SetFlagWord(dcb, (FlagWord(dcb) & ~kFlagsCleared) | kFlagsSet);
  if (!::SetCommState(h, &dcb)) {
    // Some adapters and virtual ports carry no modem lines and refuse any DTR/RTS request.
    // The terminal needs neither line, so such a port is configured with both left alone.
    SetFlagWord(dcb, FlagWord(dcb) & ~kModemLineControl);
    if (!::SetCommState(h, &dcb)) {
      Fail("SetCommState", deviceName);
      return false;
    }
  }
  ::SetupComm(h, kQueueSize, kQueueSize);
  COMMTIMEOUTS timeouts = kTimeouts;
  if (!::SetCommTimeouts(h, &timeouts)) {
    Fail("SetCommTimeouts", deviceName);
    return false;
  }
  ::PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  return true;
}

int SerialPort::ReadOnce(std::uint8_t* buffer, std::size_t count, const ReadEnd& end) noexcept {
  if (count > static_cast<std::size_t>(INT_MAX)) count = INT_MAX;
  // The port's time-outs end each ReadFile; a first byte's grace is spent in further calls
  // while nothing came. Ending at ETX would need other time-outs: here a prompt read ends
  // at the gap after the reply's last byte instead.
  // Never sooner than the standard pause and read would have given up.
  const ULONGLONG graceEnd =
      ::GetTickCount64() + static_cast<ULONGLONG>(ToMs(end.firstByteGrace + kSerialReadTotal));
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(Handle(handle_), buffer, static_cast<DWORD>(count), &got, nullptr)) {
      Gone(device_, "read failed");
      return -1;
    }
    if (got != 0 || end.firstByteGrace.count() == 0 || ::GetTickCount64() >= graceEnd) {
      return static_cast<int>(got);
    }
  }
}

int SerialPort::ReadNow(std::uint8_t* buffer, std::size_t count) noexcept {
  const HANDLE h = Handle(handle_);
  DWORD errors = 0;
  COMSTAT status{};
  if (!::ClearCommError(h, &errors, &status)) return -1;
  // Only what the driver already holds: a read of that much returns without waiting.
  const DWORD waiting = status.cbInQue < count ? status.cbInQue : static_cast<DWORD>(count);
  if (waiting == 0) return 0;
  DWORD got = 0;
  if (!::ReadFile(h, buffer, waiting, &got, nullptr)) {
    Gone(device_, "read failed");
    return -1;
  }
  return static_cast<int>(got);
}

int SerialPort::WriteOnce(const std::uint8_t* bytes, std::size_t length) noexcept {
  if (length > static_cast<std::size_t>(INT_MAX)) return -1;
  DWORD written = 0;
  if (!::WriteFile(Handle(handle_), bytes, static_cast<DWORD>(length), &written, nullptr)) {
    Gone(device_, "write failed");
    return -1;
  }
  return static_cast<int>(written);
}

void SerialPort::CloseDevice() noexcept {
  const HANDLE h = Handle(handle_);
  if (h != INVALID_HANDLE_VALUE && h != nullptr) ::CloseHandle(h);
  handle_ = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);
}

void DefaultPortDevice(int port, char* out, std::size_t outSize) noexcept {
  if (out == nullptr || outSize == 0) return;
  // The device namespace form reaches COM10 and above too.
  const int written = std::snprintf(out, outSize, "\\\\.\\COM%d", port);
  if (written < 0 || static_cast<std::size_t>(written) >= outSize) out[0] = '\0';
}

}  // namespace vantorel::link
