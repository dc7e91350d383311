// UhidFrontEnd on Linux's /dev/uhid: the kernel turns it into a HID device that hid-generic
// binds and hidraw exposes, so the library's hidraw backend talks to it unchanged.
#include <dirent.h>
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "vterm/uhid_front_end.h"

namespace vterm {
namespace {

// Vendor-defined page; one application collection with an unnumbered 64-byte input report
// and an unnumbered 64-byte output report. Without report ids, hidraw adds a 0 id byte in
// front of what it reads and expects one in front of what it writes: 65 bytes each way.
constexpr std::uint8_t kReportDescriptor[] = {
    0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x40,        //   Report Count (64)
    0x09, 0x02,        //   Usage (2)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0x09, 0x03,        //   Usage (3)
    0x91, 0x02,        //   Output (Data, Variable, Absolute)
    0xC0,              // End Collection
};

// How long the kernel may take to bind the device and create its hidraw node. Generous:
// the tests run under software emulation.
constexpr int kNodeWaitMs = 5000;

// Input reports leave like those of a full-speed interrupt endpoint polled every frame: one
// per millisecond on average, bursts of a few allowed. hidraw queues at most 64 reports per
// open handle and drops what comes on top, so a device that emits a long reply all at once
// would lose most of it; a real one cannot send faster than the host polls.
constexpr auto kReportInterval = std::chrono::milliseconds(1);
constexpr int kReportBurst = 8;

std::string UniquePhys() {
  static std::atomic<int> next{1};
  return "vterm-uhid/" + std::to_string(::getpid()) + "/" + std::to_string(next++);
}

// The hidraw node (hidrawN) whose HID device carries HID_PHYS=`phys`, or "".
std::string FindNode(const std::string& phys) {
  std::string found;
  DIR* dir = ::opendir("/sys/class/hidraw");
  if (dir == nullptr) return found;
  const std::string wanted = "HID_PHYS=" + phys + "\n";
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strncmp(entry->d_name, "hidraw", 6) != 0) continue;
    const std::string path = std::string("/sys/class/hidraw/") + entry->d_name + "/device/uevent";
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) continue;
    char line[256];
    while (std::fgets(line, sizeof line, file) != nullptr) {
      if (wanted == line) found = entry->d_name;
    }
    std::fclose(file);
    if (!found.empty()) break;
  }
  ::closedir(dir);
  return found;
}

bool WriteEvent(int fd, const uhid_event& event) {
  const ssize_t n = ::write(fd, &event, sizeof event);
  return n == static_cast<ssize_t>(sizeof event);
}

}  // namespace

bool UhidFrontEnd::Available() {
  const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

UhidFrontEnd::UhidFrontEnd(Terminal& terminal, int vendorId, int productId)
    : terminal_(terminal), vendorId_(vendorId), productId_(productId), phys_(UniquePhys()) {
  fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
  if (fd_ < 0) {
    throw std::runtime_error(std::string("vterm: cannot open /dev/uhid: ") + std::strerror(errno));
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    ::close(fd_);
    throw std::runtime_error("vterm: cannot create a pipe");
  }
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  terminal_.SetSink([this](const Bytes& message) { OnMessage(message); });
  listenerId_ = terminal_.AddRestartListener([this](int durationMs) {
    std::lock_guard lock(mutex_);
    DestroyLocked();
    restartPending_ = true;
    offBusUntil_ = Clock::now() + std::chrono::milliseconds(durationMs);
    const char wake = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &wake, 1);
  });
  thread_ = std::thread([this] { Loop(); });
  bool created = false;
  {
    std::lock_guard lock(mutex_);
    created = CreateLocked();
  }
  if (!created || !WaitForNode(kNodeWaitMs)) {
    Teardown();
    throw std::runtime_error("vterm: the uhid device did not come up");
  }
}

UhidFrontEnd::~UhidFrontEnd() {
  Teardown();
}

void UhidFrontEnd::Teardown() {
  if (fd_ < 0) return;
  terminal_.SetSink(nullptr);
  terminal_.RemoveRestartListener(listenerId_);
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    DestroyLocked();
    const char wake = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &wake, 1);
  }
  if (thread_.joinable()) thread_.join();
  ::close(fd_);
  ::close(wakeRead_);
  ::close(wakeWrite_);
  fd_ = -1;
}

bool UhidFrontEnd::CreateLocked() {
  if (created_) return true;
  uhid_event event{};
  event.type = UHID_CREATE2;
  auto& create = event.u.create2;
  std::snprintf(reinterpret_cast<char*>(create.name), sizeof create.name, "vterm %04x:%04x",
                static_cast<unsigned>(vendorId_), static_cast<unsigned>(productId_));
  std::snprintf(reinterpret_cast<char*>(create.phys), sizeof create.phys, "%s", phys_.c_str());
  create.rd_size = sizeof kReportDescriptor;
  create.bus = BUS_USB;
  create.vendor = static_cast<__u32>(vendorId_);
  create.product = static_cast<__u32>(productId_);
  create.version = 0x0110;
  std::memcpy(create.rd_data, kReportDescriptor, sizeof kReportDescriptor);
  created_ = WriteEvent(fd_, event);
  return created_;
}

void UhidFrontEnd::DestroyLocked() {
  pendingInput_.clear();  // off the bus, queued reports are lost
  if (!created_) return;
  uhid_event event{};
  event.type = UHID_DESTROY;
  // Synchronous: the HID device and its hidraw node are gone when the write returns.
  WriteEvent(fd_, event);
  created_ = false;
  open_ = false;
}

bool UhidFrontEnd::SendInputLocked(const Report& report) {
  if (!created_) return false;
  uhid_event event{};
  event.type = UHID_INPUT2;
  event.u.input2.size = static_cast<__u16>(kReportLength - 1);
  // Unnumbered report: the kernel gets no id byte.
  std::copy(report.begin() + 1, report.end(), event.u.input2.data);
  return WriteEvent(fd_, event);
}

bool UhidFrontEnd::WaitForNode(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const std::string node = FindNode(phys_);
    // sysfs first, then devtmpfs: wait until the node can be opened by name.
    if (!node.empty() && ::access(("/dev/" + node).c_str(), F_OK) == 0) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int UhidFrontEnd::SendDueInputLocked() {
  const auto now = Clock::now();
  nextInputAt_ = std::max(nextInputAt_, now - kReportBurst * kReportInterval);
  while (!pendingInput_.empty() && nextInputAt_ <= now) {
    SendInputLocked(pendingInput_.front());
    pendingInput_.pop_front();
    nextInputAt_ += kReportInterval;
  }
  if (pendingInput_.empty()) return -1;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(nextInputAt_ - now).count());
}

void UhidFrontEnd::Loop() {
  uhid_event event{};
  for (;;) {
    int timeoutMs = 1000;
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
      const int inputDue = SendDueInputLocked();
      if (inputDue >= 0) timeoutMs = std::max(inputDue, 1);
      if (restartPending_) {
        const auto now = Clock::now();
        if (now >= offBusUntil_) {
          restartPending_ = false;
          if (plugged_) CreateLocked();
        } else {
          const auto left =
              std::chrono::duration_cast<std::chrono::milliseconds>(offBusUntil_ - now).count();
          timeoutMs = static_cast<int>(std::min<long long>(left + 1, timeoutMs));
        }
      }
    }
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) <= 0) continue;
    if ((fds[1].revents & POLLIN) != 0) {
      char drain[16];
      while (::read(wakeRead_, drain, sizeof drain) > 0) {
      }
    }
    if ((fds[0].revents & POLLIN) != 0) {
      const ssize_t n = ::read(fd_, &event, sizeof event);
      if (n > 0) HandleEvent(&event, static_cast<std::size_t>(n));
    }
  }
}

void UhidFrontEnd::HandleEvent(const void* raw, std::size_t size) {
  const auto& event = *static_cast<const uhid_event*>(raw);
  if (size < sizeof event.type) return;
  std::uint8_t data[kReportData];
  std::size_t n = 0;
  {
    std::lock_guard lock(mutex_);
    switch (event.type) {
      case UHID_OPEN:
        open_ = true;
        ++openCount_;
        return;
      case UHID_CLOSE:
        open_ = false;
        return;
      case UHID_GET_REPORT: {
        // The terminal has no feature reports; answer at once so the kernel does not wait.
        uhid_event reply{};
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = event.u.get_report.id;
        reply.u.get_report_reply.err = EIO;
        WriteEvent(fd_, reply);
        return;
      }
      case UHID_SET_REPORT: {
        uhid_event reply{};
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = event.u.set_report.id;
        reply.u.set_report_reply.err = EIO;
        WriteEvent(fd_, reply);
        return;
      }
      case UHID_OUTPUT:
        break;
      default:  // UHID_START, UHID_STOP
        return;
    }
    const auto& output = event.u.output;
    const std::size_t length = std::min<std::size_t>(output.size, sizeof output.data);
    Report logged{};
    std::copy_n(output.data, std::min(length, kReportLength), logged.begin());
    outputLog_.push_back(logged);
    // The kernel leaves the report id (0) in front, which a USB device would not see:
    // the count byte is at offset 1.
    if (length < 2) return;
    const std::size_t count = output.data[1] & 0x7F;
    if (count > kReportData) return;  // claims more than a report holds: drop it
    n = std::min(count, length - 2);
    std::copy_n(output.data + 2, n, data);
  }
  // Outside our lock: the terminal answers through OnMessage, which takes it.
  terminal_.Receive(data, n);
}

void UhidFrontEnd::OnMessage(const Bytes& message) {
  std::lock_guard lock(mutex_);
  std::vector<Report> reports;
  if (replaceNext_) {
    replaceNext_ = false;
    for (const auto& bytes : replacement_) {
      Report r{};
      std::copy_n(bytes.begin(), std::min(bytes.size(), kReportLength), r.begin());
      reports.push_back(r);
    }
    replacement_.clear();
  } else {
    reports = SplitIntoReports(message);
  }
  // Off the bus, the reports have nowhere to go.
  if (!created_) return;
  for (const auto& r : reports) {
    inputLog_.push_back(r);
    pendingInput_.push_back(r);
  }
  // The I/O thread sends them (we run under the terminal's lock and must not wait).
  const char wake = 1;
  [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &wake, 1);
}

void UhidFrontEnd::Unplug() {
  std::lock_guard lock(mutex_);
  plugged_ = false;
  restartPending_ = false;
  DestroyLocked();
}

void UhidFrontEnd::Plug() {
  {
    std::lock_guard lock(mutex_);
    plugged_ = true;
    restartPending_ = false;
    if (!CreateLocked()) throw std::runtime_error("vterm: uhid create failed");
  }
  if (!WaitForNode(kNodeWaitMs)) throw std::runtime_error("vterm: the uhid device did not come up");
}

bool UhidFrontEnd::Plugged() const {
  std::lock_guard lock(mutex_);
  return plugged_ && created_;
}

std::string UhidFrontEnd::NodePath() const {
  {
    std::lock_guard lock(mutex_);
    if (!created_) return {};
  }
  const std::string node = FindNode(phys_);
  return node.empty() ? node : "/dev/" + node;
}

bool UhidFrontEnd::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

int UhidFrontEnd::OpenCount() const {
  std::lock_guard lock(mutex_);
  return openCount_;
}

std::vector<Report> UhidFrontEnd::OutputReports() const {
  std::lock_guard lock(mutex_);
  return outputLog_;
}

std::vector<Report> UhidFrontEnd::InputReports() const {
  std::lock_guard lock(mutex_);
  return inputLog_;
}

void UhidFrontEnd::ClearReports() {
  std::lock_guard lock(mutex_);
  outputLog_.clear();
  inputLog_.clear();
}

void UhidFrontEnd::ReplaceNextMessage(std::vector<Bytes> reports) {
  std::lock_guard lock(mutex_);
  replacement_ = std::move(reports);
  replaceNext_ = true;
}

}  // namespace vterm
