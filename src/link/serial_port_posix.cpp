#include "link/serial_port_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "link/serial_baud_linux.h"
#include "link/timing.h"
#include "link/trace.h"

namespace vantorel::link {

namespace {

using Clock = std::chrono::steady_clock;

struct StandardRate {
  int baud;
  speed_t constant;
};

constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool StandardConstant(int baud, speed_t& constant) noexcept {
  for (const auto& rate : kStandardRates) {
    if (rate.baud == baud) {
      constant = rate.constant;
      return true;
    }
  }
  return false;
}

// Trace lines for the OS errors of the serial port.
void TraceError(const char* call, const char* path, int error) noexcept {
  if (!trace::On()) [[likely]]
    return;  // the busy line is composed only for the trace
  const char* hint = nullptr;
  if (error == EACCES || error == EPERM) {
    hint = "the user needs read and write access to the device (on Debian: the dialout group)";
  }
  if (error == EBUSY) {
    try {
      trace::Note((std::string(path) + " is in use by another program").c_str());
    } catch (...) {
    }
    return;
  }
  trace::OsError(call, path, std::strerror(error), hint);
}

int Fd(std::intptr_t handle) noexcept {
  return static_cast<int>(handle);
}

int MillisUntil(Clock::time_point deadline) noexcept {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  // Round up: poll must not wake just before the deadline and spin.
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

}  // namespace

void DefaultPortDevice(int port, char* out, std::size_t outSize) noexcept {
  if (out == nullptr || outSize == 0) return;
  const int written = std::snprintf(out, outSize, "/dev/ttyS%d", port - 1);
  if (written < 0 || static_cast<std::size_t>(written) >= outSize) out[0] = '\0';
}

void ComposeTermios(const LineSettings& settings, termios& t, int& customBaud) noexcept {
  customBaud = 0;
  // cfmakeraw forces 8 data bits and no parity; a setting the string does not give keeps
  // what the device had.
  const tcflag_t kept = t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
  cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
  t.c_cflag |= kept;

  // The terminal's own traffic may hold any byte value: no software flow control, and a
  // parity error must not turn into dropped or marked bytes.
  t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | PARMRK | ISTRIP | IGNPAR);
  t.c_cflag &= ~CRTSCTS;
  t.c_cflag |= CLOCAL | CREAD;
  // Reads are non-blocking and timed with poll; these only keep read() from waiting.
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;

  if (settings.baud != 0) {
    speed_t constant = B0;
    if (StandardConstant(settings.baud, constant)) {
      // An input rate left behind by an earlier custom rate would outlive this one:
      // cfsetispeed does not touch the separate input field, so empty it (input follows
      // output).
      t.c_cflag &= ~CIBAUD;
      cfsetispeed(&t, constant);
      cfsetospeed(&t, constant);
    } else {
      customBaud = settings.baud;
    }
  }
  if (settings.dataBits != 0) {
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag &= ~CSIZE;
    t.c_cflag |= kSizes[settings.dataBits - 5];
  }
  if (settings.parity != 0) {
    t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (settings.parity) {
      case 'E':
        t.c_cflag |= PARENB;
        break;
      case 'O':
        t.c_cflag |= PARENB | PARODD;
        break;
      case 'M':
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
      case 'S':
        t.c_cflag |= PARENB | CMSPAR;
        break;
      default:
        break;  // 'N'
    }
  }
  if (settings.stopBits == 2) t.c_cflag |= CSTOPB;
  if (settings.stopBits == 1) t.c_cflag &= ~CSTOPB;
}

bool SerialPort::OpenDevice(const char* deviceName, const char* lineSettings) noexcept {
  LineSettings settings;
  if (!ParseLineSettings(lineSettings, settings)) return false;

  // O_NONBLOCK: a real port without carrier would otherwise block the open; the reads and
  // writes poll anyway.
  const int fd = ::open(deviceName, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    TraceError("open", deviceName, errno);
    return false;
  }

  // The port belongs to one user. TIOCEXCL refuses further opens, but not to root; the
  // lock catches every cooperating opener, root or not, in this process or another. Only
  // the lock holder may become the handle: CloseDevice lifts the exclusive flag, and that
  // flag would be the owner's.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    TraceError("flock", deviceName, errno == EWOULDBLOCK ? EBUSY : errno);
    ::close(fd);
    return false;
  }
  handle_ = fd;
  if (::ioctl(fd, TIOCEXCL) != 0) {
    TraceError("ioctl(TIOCEXCL)", deviceName, errno);
    return false;
  }

  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    if (errno == ENOTTY) {
      trace::OsError("tcgetattr", deviceName, std::strerror(errno), "not a serial port");
    } else {
      TraceError("tcgetattr", deviceName, errno);
    }
    return false;
  }
  int customBaud = 0;
  ComposeTermios(settings, t, customBaud);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    TraceError("tcsetattr", deviceName, errno);
    return false;
  }
  if (customBaud != 0 && !SetCustomBaud(fd, customBaud)) {
    TraceError("set baud rate", deviceName, errno);
    return false;
  }

  // Raise DTR and RTS: the terminal takes them as "host present". A pseudo-terminal has no
  // modem lines and says so with ENOTTY or EINVAL; that is no reason to fail.
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (::ioctl(fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
    TraceError("ioctl(TIOCMBIS)", deviceName, errno);
    return false;
  }

  // Whatever the line carried before we owned it is no answer to anything we send.
  if (::tcflush(fd, TCIOFLUSH) != 0) {
    TraceError("tcflush", deviceName, errno);
    return false;
  }
  return true;
}

int SerialPort::ReadOnce(std::uint8_t* buffer, std::size_t count) noexcept {
  const int fd = Fd(handle_);
  if (fd < 0) return -1;
  const auto start = Clock::now();
  const auto totalDeadline = start + kSerialReadTotal;
  auto deadline = totalDeadline;
  std::size_t got = 0;
  // A failure after some bytes arrived still hands those bytes back; the next call fails.
  auto fail = [&]() { return got > 0 ? static_cast<int>(got) : -1; };

  while (got < count) {
    const int waitMs = MillisUntil(deadline);
    if (waitMs == 0) break;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, waitMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      TraceError("poll", "serial port", errno);
      return fail();
    }
    if (ready == 0) continue;         // the deadline check above ends the loop
    if ((p.revents & POLLIN) == 0) {  // POLLHUP, POLLERR, POLLNVAL alone
      trace::Note("serial port: the device hung up or failed");
      return fail();
    }
    const ssize_t n = ::read(fd, buffer + got, count - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
      const auto gapDeadline = Clock::now() + kSerialReadGap;
      deadline = std::min(totalDeadline, gapDeadline);
      continue;
    }
    if (n == 0) {  // a hung-up terminal reads as end of file
      trace::Note("serial port: end of file (the device hung up)");
      return fail();
    }
    if (errno == EINTR || errno == EAGAIN) continue;
    TraceError("read", "serial port", errno);
    return fail();  // EIO and the like: the device is gone
  }
  return static_cast<int>(got);
}

int SerialPort::ReadNow(std::uint8_t* buffer, std::size_t count) noexcept {
  const int fd = Fd(handle_);
  if (fd < 0) return -1;
  std::size_t got = 0;
  while (got < count) {
    // Raw mode with no minimum reads 0 both when nothing waits and at a hang-up: poll tells.
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    if (ready == 0) break;                                                       // nothing waits
    if ((p.revents & POLLIN) == 0) return got > 0 ? static_cast<int>(got) : -1;  // hung up
    const ssize_t n = ::read(fd, buffer + got, count - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    return got > 0 ? static_cast<int>(got) : -1;  // end of file or a dead device
  }
  return static_cast<int>(got);
}

int SerialPort::WriteOnce(const std::uint8_t* bytes, std::size_t length) noexcept {
  const int fd = Fd(handle_);
  if (fd < 0) return -1;
  std::size_t sent = 0;
  while (sent < length) {
    const ssize_t n = ::write(fd, bytes + sent, length - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      TraceError("write", "serial port", errno);
      return -1;
    }
    pollfd p{fd, POLLOUT, 0};
    const int ready = ::poll(&p, 1, ToMs(kSerialWriteStall));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (p.revents & POLLOUT) == 0) {
      trace::Note("serial port: the device takes no more bytes");
      return -1;
    }
  }
  return static_cast<int>(sent);
}

void SerialPort::CloseDevice() noexcept {
  const int fd = Fd(handle_);
  handle_ = -1;
  if (fd < 0) return;
  // The exclusive flag lives on the tty, not on our descriptor: a tty that someone else
  // keeps open (a pseudo-terminal's far end) would stay barred to everyone but root.
  ::ioctl(fd, TIOCNXCL);
  ::close(fd);  // also drops the lock
}

}  // namespace vantorel::link
