// Opening and closing the connection.
#include <array>
#include <cstdio>
#include <cstring>

#include "link/command.h"
#include "link/hid_device.h"
#include "link/reply_ownership.h"
#include "link/serial_port.h"
#include "link/trace.h"
#include "vantorel.h"

namespace vantorel::link {
namespace {

constexpr std::size_t kHandshakeLimit = 128;

// Why a handshake got no acknowledgement: a refused handshake is a terminal that is there, a
// different fault from silence.
void NoteHandshakeFailure(const Reply& view, int received) noexcept {
  if (received <= 0) {
    char device[kDeviceNameSize];
    last_error::Cause("no answer from %s to the open handshake",
                      LinkDeviceName(device, sizeof device));
  } else if (view.HasNak()) {
    last_error::Cause("the terminal answered the open handshake with status %02X",
                      view.RefusalStatus());
  } else {
    NoteUnacknowledged(view, received, "the open handshake");
  }
}

// One open handshake through the ordinary exchange: input waiting from before is settled, and
// the reply is carved out of what arrives (a pad still streaming pen packets after a close).
// The opening export holds the link, and the connection is not open until both succeeded.
bool Handshake(const CommandBytes& command, Millis serialWait) {
  return RunCommand(command,
                    {.accept = Accept::Data,
                     .wait = kNoWait,
                     .linkHeld = true,
                     .exchange = {.serialLimit = kHandshakeLimit, .serialWait = serialWait},
                     .noteUnacknowledged = NoteHandshakeFailure}) == VANTOREL_SUCCESS;
}

// Both handshakes on the transport just opened (input reset already): the connection opens,
// or the transport is closed again.
unsigned char Greet(bool hid) {
  LinkState& state = State();
  if (!Handshake(VersionQuery(), kHandshakeWait) ||
      !Handshake(SecureHeadSwitch(false), kSerialReplyWait)) {
    if (hid) {
      TheHidDevice().Close();
    } else {
      TheSerialPort().Close();
    }
    ResetInput();
    state.linkIsHid = 0;
    state.linkOpen = 0;
    return VANTOREL_FAILURE;
  }
  ResetInput();
  state.reading.End();
  state.linkOpen = 1;
  return VANTOREL_SUCCESS;
}

bool ValidBaud(int baud) {
  for (int allowed : {1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400, 57600, 115200}) {
    if (baud == allowed) return true;
  }
  return false;
}

unsigned char OpenHid(int vendorId, int productId) noexcept;
unsigned char OpenPort(int port, int baudRate, char parity, int stopBits, int dataBits) noexcept;
unsigned char Close() noexcept;

}  // namespace
}  // namespace vantorel::link

using namespace vantorel::link;

extern "C" unsigned char VANTOREL_CALL Brixa_OpenHid(int vendorId, int productId) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(OpenHid(vendorId, productId));
}

extern "C" unsigned char VANTOREL_CALL Brixa_OpenPort(int port, int baudRate, char parity,
                                                      int stopBits, int dataBits) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(OpenPort(port, baudRate, parity, stopBits, dataBits));
}

extern "C" unsigned char VANTOREL_CALL Brixa_Close(void) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(Close());
}

namespace vantorel::link {
namespace {

unsigned char OpenHid(int vendorId, int productId) noexcept {
  if (LinkIsOpen()) return VANTOREL_ALREADY_OPEN;
  LinkGuard guard;
  LinkState& state = State();
  if (LinkIsOpen()) return VANTOREL_ALREADY_OPEN;
  state.linkIsHid = 0;
  HidDevice& device = TheHidDevice();
  if (device.Open(vendorId, productId) == 0) {
    state.linkOpen = 0;
    return VANTOREL_FAILURE;
  }
  // A new connection owes nothing and keeps nothing from the last one: reports that waited
  // on the old handle are no answer to anything sent on this one.
  ResetInput();
  state.hidVendorId = vendorId;
  state.hidProductId = productId;
  state.linkIsHid = 1;
  return Greet(true);
}

unsigned char OpenPort(int port, int baudRate, char parity, int stopBits, int dataBits) noexcept {
  if (LinkIsOpen()) return VANTOREL_ALREADY_OPEN;
  if (port < 1 || port > kMaxPort || !ValidBaud(baudRate) ||
      (parity != 'N' && parity != 'E' && parity != 'O') || (dataBits != 7 && dataBits != 8) ||
      (stopBits != 1 && stopBits != 2)) {
    return VANTOREL_INVALID_ARGUMENT;
  }
  LinkGuard guard;
  LinkState& state = State();
  if (LinkIsOpen()) return VANTOREL_ALREADY_OPEN;
  state.linkIsHid = 0;
  char openString[64];
  std::snprintf(openString, sizeof openString, "\\\\.\\COM%d/baud=%d/parity=%c/stop=%d/data=%d",
                port, baudRate, parity, stopBits, dataBits);
  SerialPort& serial = TheSerialPort();
  if (serial.Open(openString) == 0) {
    state.linkOpen = 0;
    return VANTOREL_FAILURE;
  }
  ResetInput();
  return Greet(false);
}

unsigned char Close() noexcept {
  LinkState& state = State();
  if (!LinkIsOpen()) return VANTOREL_FAILURE;
  // Ending the modes first lets a polling loop in another thread stop at its next turn;
  // the lock then waits for a read in progress before the transport goes away.
  state.EndLoops();
  LinkGuard guard;
  if (!LinkIsOpen()) return VANTOREL_FAILURE;
  state.EndLoops();
  state.linkOpen = 0;
  ResetInput();
  if (state.linkIsHid.load() != 0) {
    state.linkIsHid = 0;
    TheHidDevice().Close();
  } else {
    TheSerialPort().Close();
  }
  return VANTOREL_SUCCESS;
}

}  // namespace
}  // namespace vantorel::link

extern "C" unsigned char VANTOREL_CALL Brixa_MapPort(int port, const char* devicePath) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(MapPort(port, devicePath) ? VANTOREL_SUCCESS : VANTOREL_INVALID_ARGUMENT);
}
