// hidraw backend: finds the /dev/hidrawN whose sysfs HID_ID carries the ids.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "link/hid_backend.h"
#include "link/timing.h"
#include "link/trace.h"

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

// One trace line per node looked at: skipped and why, or (no reason) opened.
void Skipped(const char* node, const char* why) noexcept {
  if (!trace::On()) [[likely]]
    return;  // the line is composed only for the trace
  try {
    trace::Note(why != nullptr ? (std::string("hidraw: /dev/") + node + " skipped: " + why).c_str()
                               : (std::string("hidraw: /dev/") + node + " opened").c_str());
  } catch (...) {
  }
}

class HidrawBackend final : public HidBackend {
 public:
  bool Open(int vendorId, int productId) override {
    Close();
    DIR* dir = opendir("/sys/class/hidraw");
    if (dir == nullptr) {
      trace::OsError("opendir", "/sys/class/hidraw", std::strerror(errno),
                     "no hidraw devices (is the hidraw driver loaded?)");
      return false;
    }
    char refusal[400] = "";
    while (const dirent* entry = readdir(dir)) {
      if (std::strncmp(entry->d_name, "hidraw", 6) != 0) continue;
      unsigned vendor = 0;
      unsigned product = 0;
      // Ids above 0xFFFF never match: the device's ids are 16-bit.
      if (!ReadIds(entry->d_name, vendor, product)) {
        Skipped(entry->d_name, "its ids cannot be read from sysfs");
        continue;
      }
      if (vendorId < 0 || productId < 0 || vendor != static_cast<unsigned>(vendorId) ||
          product != static_cast<unsigned>(productId)) {
        if (trace::On()) [[unlikely]] {  // the reason is formatted only for the trace
          char why[96];
          std::snprintf(why, sizeof why, "ids %04X:%04X, not %04X:%04X", vendor, product,
                        static_cast<unsigned>(vendorId) & 0xFFFFu,
                        static_cast<unsigned>(productId) & 0xFFFFu);
          Skipped(entry->d_name, why);
        }
        continue;
      }
      char devPath[300];
      std::snprintf(devPath, sizeof devPath, "/dev/%s", entry->d_name);
      const int fd = ::open(devPath, O_RDWR | O_CLOEXEC | O_NONBLOCK);
      if (fd < 0) {  // held exclusively or no permission: skip it
        const int error = errno;
        // Said only if no node opens: then it is why the search failed.
        if (refusal[0] == '\0') {
          std::snprintf(refusal, sizeof refusal, "open %s: %s%s", devPath, std::strerror(error),
                        error == EACCES || error == EPERM ? " (see docs/linux-hid.md)" : "");
        }
        trace::OsError("open", devPath, std::strerror(error),
                       error == EACCES || error == EPERM ? "see docs/linux-hid.md" : nullptr);
        continue;
      }
      Skipped(entry->d_name, nullptr);
      fd_ = fd;
      std::snprintf(node_, sizeof node_, "%s", entry->d_name);
      break;
    }
    closedir(dir);
    if (fd_ < 0 && refusal[0] != '\0') last_error::Cause("%s", refusal);
    if (fd_ < 0 && trace::On()) [[unlikely]] {  // the line is formatted only for the trace
      char text[96];
      std::snprintf(text, sizeof text, "hidraw: no openable node with ids %04X:%04X",
                    static_cast<unsigned>(vendorId) & 0xFFFFu,
                    static_cast<unsigned>(productId) & 0xFFFFu);
      trace::Note(text);
    }
    return fd_ >= 0;
  }

  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    node_[0] = '\0';
  }

  bool Reuse(int vendorId, int productId) override {
    if (fd_ < 0 || vendorId < 0 || productId < 0) return false;
    // A handle whose device went away reports it at once.
    pollfd pfd{fd_, 0, 0};
    if (::poll(&pfd, 1, 0) < 0 || (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return false;
    DIR* dir = opendir("/sys/class/hidraw");
    if (dir == nullptr) return false;
    bool same = false;
    while (const dirent* entry = readdir(dir)) {
      if (std::strncmp(entry->d_name, "hidraw", 6) != 0) continue;
      unsigned vendor = 0;
      unsigned product = 0;
      if (!ReadIds(entry->d_name, vendor, product) || vendor != static_cast<unsigned>(vendorId) ||
          product != static_cast<unsigned>(productId)) {
        continue;
      }
      same = std::strcmp(entry->d_name, node_) == 0;
      break;
    }
    closedir(dir);
    return same;
  }

  std::size_t InputReportLength() const override { return kReportLength; }
  std::size_t OutputReportLength() const override { return kReportLength; }

  bool WriteReport(const std::uint8_t* report, std::size_t length) override {
    if (fd_ < 0) return false;
    pollfd pfd{fd_, POLLOUT, 0};
    if (::poll(&pfd, 1, ToMs(kHidReportWriteWait)) != 1 ||
        (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      if (trace::On()) [[unlikely]] {
        char text[300];
        std::snprintf(text, sizeof text, "hidraw: /dev/%s takes no report (gone?)", node_);
        trace::Note(text);
      }
      last_error::Cause("device gone: /dev/%s takes no report", node_);
      return false;
    }
    // hidraw takes the report id in front, also for unnumbered reports.
    const ssize_t written = ::write(fd_, report, length);
    if (written != static_cast<ssize_t>(length)) {
      trace::OsError("write", "hidraw", written < 0 ? std::strerror(errno) : "short write");
    }
    return written == static_cast<ssize_t>(length);
  }

  int ReadReport(std::uint8_t* report, std::size_t capacity, int timeoutMs) override {
    if (fd_ < 0 || capacity < 2) return -1;
    pollfd pfd{fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, timeoutMs);
    if (ready == 0) return 0;
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if ((pfd.revents & POLLIN) == 0) {
      if (trace::On()) [[unlikely]] {
        char text[300];
        std::snprintf(text, sizeof text, "hidraw: /dev/%s hung up or failed", node_);
        trace::Note(text);
      }
      last_error::Cause("device gone: /dev/%s hung up or failed", node_);
      return -1;
    }
    // hidraw returns unnumbered input reports without the id byte: put the 0 back.
    const ssize_t got = ::read(fd_, report + 1, capacity - 1);
    if (got < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
    report[0] = 0;
    return static_cast<int>(got) + 1;
  }

 private:
  int fd_ = -1;
  char node_[256] = {};  // the open node's name in /dev, "hidrawN"
};

}  // namespace

HidBackend& SystemHidBackend() {
  static HidrawBackend backend;
  return backend;
}

}  // namespace vantorel::link
