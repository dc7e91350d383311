// hidraw backend: finds the /dev/hidrawN whose sysfs HID_ID carries the ids.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/hid_backend.h"
#include "link/timing.h"

namespace vantorel::link {
namespace {

// The terminal's reports: 64 bytes plus the report id.
constexpr std::size_t kReportLength = 65;

// Reads HID_ID=bus:vendor:product from a hidraw node's uevent file.
bool ReadIds(const char* node, unsigned& vendor, unsigned& product) {
  char path[300];
  std::snprintf(path, sizeof path, "/sys/class/hidraw/%s/device/uevent", node);
  std::FILE* file = std::fopen(path, "re");
  if (file == nullptr) return false;
  char line[256];
  bool found = false;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    unsigned bus = 0;
    if (std::sscanf(line, "HID_ID=%x:%x:%x", &bus, &vendor, &product) == 3) {
      found = true;
      break;
    }
  }
  std::fclose(file);
  return found;
}

class HidrawBackend final : public HidBackend {
 public:
  bool Open(int vendorId, int productId) override {
    Close();
    DIR* dir = opendir("/sys/class/hidraw");
    if (dir == nullptr) return false;
    while (const dirent* entry = readdir(dir)) {
      if (std::strncmp(entry->d_name, "hidraw", 6) != 0) continue;
      unsigned vendor = 0;
      unsigned product = 0;
      // Ids above 0xFFFF never match: the device's ids are 16-bit.
      if (!ReadIds(entry->d_name, vendor, product)) continue;
      if (vendorId < 0 || productId < 0 || vendor != static_cast<unsigned>(vendorId) ||
          product != static_cast<unsigned>(productId)) {
        continue;
      }
      char devPath[300];
      std::snprintf(devPath, sizeof devPath, "/dev/%s", entry->d_name);
      const int fd = ::open(devPath, O_RDWR | O_CLOEXEC | O_NONBLOCK);
      if (fd < 0) continue;  // held exclusively or no permission: skip it
      fd_ = fd;
      break;
    }
    closedir(dir);
    return fd_ >= 0;
  }

  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  std::size_t InputReportLength() const override { return kReportLength; }
  std::size_t OutputReportLength() const override { return kReportLength; }

  bool WriteReport(const std::uint8_t* report, std::size_t length) override {
    if (fd_ < 0) return false;
    pollfd pfd{fd_, POLLOUT, 0};
    if (::poll(&pfd, 1, ToMs(kHidReportWriteWait)) != 1 ||
        (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      return false;
    }
    // hidraw takes the report id in front, also for unnumbered reports.
    const ssize_t written = ::write(fd_, report, length);
    return written == static_cast<ssize_t>(length);
  }

  int ReadReport(std::uint8_t* report, std::size_t capacity, int timeoutMs) override {
    if (fd_ < 0 || capacity < 2) return -1;
    pollfd pfd{fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, timeoutMs);
    if (ready == 0) return 0;
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if ((pfd.revents & POLLIN) == 0) return -1;
    // hidraw returns unnumbered input reports without the id byte: put the 0 back.
    const ssize_t got = ::read(fd_, report + 1, capacity - 1);
    if (got < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
    report[0] = 0;
    return static_cast<int>(got) + 1;
  }

 private:
  int fd_ = -1;
};

}  // namespace

HidBackend& SystemHidBackend() {
  static HidrawBackend backend;
  return backend;
}

}  // namespace vantorel::link
