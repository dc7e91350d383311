// Rates without a Bxxx constant (14400, 28800) go through the kernel's termios2 interface.
// Its header, <asm/termbits.h>, cannot share a translation unit with <termios.h>, so this
// seam takes plain ints only.
#pragma once

namespace vantorel::link {

// Sets input and output rate of the terminal device `fd` to `baud` (BOTHER), leaving every
// other setting as it is. false when the driver refuses.
bool SetCustomBaud(int fd, int baud) noexcept;

}  // namespace vantorel::link
