#include "link/link_state.h"

#include "link/reply_ownership.h"

namespace vantorel::link {

LinkState& State() noexcept {
  static LinkState state;
  return state;
}

bool LinkState::Reset() noexcept {
  std::unique_lock<std::mutex> held(lock, std::try_to_lock);
  if (!held.owns_lock() || linkOpen.load() != 0 || linkBusy.load() != 0 || reading.Running() ||
      serial.IsOpen()) {
    return false;
  }
  linkIsHid = 0;
  hidVendorId = 0;
  hidProductId = 0;
  capture.Reset();
  reading.Reset();
  pinEntry.Reset();
  encryptedEntry.Reset();
  hid.Close();
  commandBuffer.fill(0);
  ResetInput();
  return true;
}

SerialPort& TheSerialPort() noexcept {
  return State().serial;
}

HidDevice& TheHidDevice() noexcept {
  return State().hid;
}

}  // namespace vantorel::link
