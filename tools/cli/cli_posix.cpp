// Linux half of the tool: what the library's open cannot say (which device, why it cannot be
// opened), the device listing, and interrupting a wait.
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/cli/cli.h"

namespace cli {
namespace {

constexpr const char* kHidHint = " — see docs/linux-hid.md (udev rule for the terminal)";
constexpr const char* kSerialHint = " (the user needs read and write access: the dialout group)";

std::string ErrnoText(int error) {
  return std::strerror(error);
}

// Why this user cannot use a serial device, or "" when it can. Opens and locks it the way
// the library does, then lets go at once.
std::string SerialProblem(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == EBUSY) return path + " is in use by another program";
    std::string text = "open " + path + ": " + ErrnoText(error);
    if (error == EACCES || error == EPERM) text += kSerialHint;
    return text;
  }
  std::string problem;
  if (!::isatty(fd)) {
    problem = path + " is not a serial port";
  } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    problem = path + " is in use by another program";
  }
  ::close(fd);
  return problem;
}

// A UART the kernel registered without hardware behind it (most /dev/ttyS*) has type 0.
bool NoHardware(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct info{};
  const bool none = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_UNKNOWN;
  ::close(fd);
  return none;
}

struct HidNode {
  std::string name;  // hidrawN
  unsigned vendor = 0;
  unsigned product = 0;
  bool idsKnown = false;
};

std::vector<HidNode> HidNodes(const std::string& sysRoot) {
  std::vector<HidNode> nodes;
  const std::string dirPath = sysRoot + "/class/hidraw";
  DIR* dir = ::opendir(dirPath.c_str());
  if (dir == nullptr) return nodes;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strncmp(entry->d_name, "hidraw", 6) != 0) continue;
    HidNode node;
    node.name = entry->d_name;
    std::ifstream uevent(dirPath + "/" + node.name + "/device/uevent");
    for (std::string line; std::getline(uevent, line);) {
      unsigned bus = 0;
      if (std::sscanf(line.c_str(), "HID_ID=%x:%x:%x", &bus, &node.vendor, &node.product) == 3) {
        node.idsKnown = true;
        break;
      }
    }
    nodes.push_back(node);
  }
  ::closedir(dir);
  std::sort(nodes.begin(), nodes.end(), [](const HidNode& a, const HidNode& b) {
    return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
  });
  return nodes;
}

std::string HidProblem(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int error = errno;
    std::string text = "open " + path + ": " + ErrnoText(error);
    if (error == EACCES || error == EPERM) text += kHidHint;
    if (error == EBUSY) text = path + " is in use by another program";
    return text;
  }
  ::close(fd);
  return {};
}

std::vector<std::string> SerialCandidates(const std::string& devRoot) {
  std::vector<std::string> paths;
  DIR* dir = ::opendir(devRoot.c_str());
  if (dir == nullptr) return paths;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
      const std::size_t n = std::strlen(prefix);
      if (name.size() > n && name.compare(0, n, prefix) == 0 &&
          std::all_of(name.begin() + static_cast<std::ptrdiff_t>(n), name.end(),
                      [](char c) { return c >= '0' && c <= '9'; })) {
        paths.push_back(devRoot + "/" + name);
      }
    }
  }
  ::closedir(dir);
  std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return paths;
}

void (*interruptAction)() = nullptr;

}  // namespace

std::string PortDevice(const std::string& port, int& comNumber) {
  comNumber = 0;
  if (port.size() > 3 && (port.compare(0, 3, "COM") == 0 || port.compare(0, 3, "com") == 0) &&
      std::all_of(port.begin() + 3, port.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
      port.size() <= 6) {
    comNumber = std::stoi(port.substr(3));
    if (comNumber < 1 || comNumber > 100) throw Failure(port + ": COM ports are COM1 to COM100");
    return "/dev/ttyS" + std::to_string(comNumber - 1);
  }
  return port;
}

void CheckSerialDevice(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    const int error = errno;
    throw Failure(
        "open " + path + ": " + ErrnoText(error) +
        (error == ENOENT ? " (no such serial port; `vantorel list` shows the ports)" : ""));
  }
  if (const std::string problem = SerialProblem(path); !problem.empty()) throw Failure(problem);
}

std::string CheckHidDevice(int vendorId, int productId) {
  std::string firstProblem;
  bool seen = false;
  for (const HidNode& node : HidNodes("/sys")) {
    if (!node.idsKnown || node.vendor != static_cast<unsigned>(vendorId) ||
        node.product != static_cast<unsigned>(productId)) {
      continue;
    }
    seen = true;
    const std::string path = "/dev/" + node.name;
    const std::string problem = HidProblem(path);
    if (problem.empty()) return path;
    if (firstProblem.empty()) firstProblem = problem;
  }
  char ids[32];
  std::snprintf(ids, sizeof ids, "%04X:%04X", static_cast<unsigned>(vendorId) & 0xFFFF,
                static_cast<unsigned>(productId) & 0xFFFF);
  if (!seen) {
    throw Failure(std::string("no USB terminal with ids ") + ids +
                  " is plugged in (no hidraw node carries them; `vantorel list` shows the nodes)");
  }
  throw Failure(firstProblem);
}

int ListDevices(const std::string& devRoot, const std::string& sysRoot) {
  std::printf("serial ports:\n");
  int shown = 0;
  for (const std::string& path : SerialCandidates(devRoot)) {
    const bool legacy = path.find("/ttyS") != std::string::npos;
    if (legacy && NoHardware(path)) continue;
    const std::string problem = SerialProblem(path);
    std::printf("  %-16s %s\n", path.c_str(), problem.empty() ? "ok" : problem.c_str());
    ++shown;
  }
  if (shown == 0) std::printf("  (none)\n");

  std::printf("hidraw nodes:\n");
  shown = 0;
  for (const HidNode& node : HidNodes(sysRoot)) {
    const std::string path = devRoot + "/" + node.name;
    char ids[32] = "????:????";
    if (node.idsKnown) std::snprintf(ids, sizeof ids, "%04X:%04X", node.vendor, node.product);
    const bool terminal = node.idsKnown && node.vendor == static_cast<unsigned>(kVendorId) &&
                          node.product == static_cast<unsigned>(kProductId);
    std::string problem = HidProblem(path);
    std::printf("  %-16s %s  %-8s %s\n", path.c_str(), ids, terminal ? "terminal" : "other",
                problem.empty() ? "ok" : problem.c_str());
    ++shown;
  }
  if (shown == 0) std::printf("  (none)\n");
  return 0;
}

void OnInterrupt(void (*onSignal)()) {
  interruptAction = onSignal;
  // Block the signals in every thread started from here on; one thread waits for them.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    int signal = 0;
    if (sigwait(&set, &signal) == 0 && interruptAction != nullptr) interruptAction();
  }).detach();
}

bool ErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace cli
