// The termios side of SerialPort, visible to its tests.
#pragma once

#include <termios.h>

#include "link/serial_port.h"

namespace vantorel::link {

// Turns `t` (as read from the device) into the terminal's configuration: raw bytes, receiver
// on, modem status lines ignored, no flow control of any kind, no parity check on input, and
// the rate, parity, data and stop bits of `settings` (a 0 field keeps what `t` had). A rate
// without a Bxxx constant leaves the speed in `t` alone and comes back in `customBaud`, for
// SetCustomBaud after tcsetattr; otherwise `customBaud` is 0.
void ComposeTermios(const LineSettings& settings, termios& t, int& customBaud) noexcept;

}  // namespace vantorel::link
