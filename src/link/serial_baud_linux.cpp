#include "link/serial_baud_linux.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace vantorel::link {

bool SetCustomBaud(int fd, int baud) noexcept {
  termios2 settings{};
  if (ioctl(fd, TCGETS2, &settings) != 0) return false;
  settings.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  settings.c_ispeed = static_cast<speed_t>(baud);
  settings.c_ospeed = static_cast<speed_t>(baud);
  return ioctl(fd, TCSETS2, &settings) == 0;
}

}  // namespace vantorel::link
