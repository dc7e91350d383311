#include "vterm/hid_front_end.h"

#include <algorithm>

namespace vterm {

std::vector<Report> SplitIntoReports(std::span<const std::uint8_t> message) {
  std::vector<Report> reports;
  std::size_t offset = 0;
  while (offset < message.size()) {
    const std::size_t n = std::min(kReportData, message.size() - offset);
    const bool last = offset + n == message.size();
    Report r{};
    r[1] = last ? static_cast<std::uint8_t>(n) : static_cast<std::uint8_t>(0x80 | kReportData);
    std::copy_n(message.begin() + static_cast<std::ptrdiff_t>(offset), n, r.begin() + 2);
    reports.push_back(r);
    offset += n;
  }
  return reports;
}

HidFrontEnd::HidFrontEnd(Terminal& terminal, int vendorId, int productId)
    : terminal_(terminal), vendorId_(vendorId), productId_(productId) {
  terminal_.SetPieceSink([this](const Bytes& message, bool more) { OnMessage(message, more); });
  listenerId_ = terminal_.AddRestartListener([this](int durationMs) {
    std::lock_guard lock(mutex_);
    offBusUntil_ = Clock::now() + std::chrono::milliseconds(durationMs);
    DropHandleLocked();
  });
}

HidFrontEnd::~HidFrontEnd() {
  terminal_.SetSink(nullptr);
  terminal_.RemoveRestartListener(listenerId_);
  std::lock_guard lock(mutex_);
  DropHandleLocked();
}

Report HidFrontEnd::Pad(std::span<const std::uint8_t> bytes) {
  Report r{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), kReportLength), r.begin());
  return r;
}

bool HidFrontEnd::PresentLocked() const {
  return plugged_ && Clock::now() >= offBusUntil_;
}

void HidFrontEnd::DropHandleLocked() {
  open_ = false;
  ++handle_;
  input_.clear();
  cv_.notify_all();
}

bool HidFrontEnd::Open(int vendorId, int productId) {
  std::lock_guard lock(mutex_);
  if (open_) {
    open_ = false;
    ++handle_;
    cv_.notify_all();
  }
  if (!PresentLocked() || vendorId != vendorId_ || productId != productId_) return false;
  open_ = true;
  ++openCount_;
  if (discardOnOpen_) input_.clear();
  return true;
}

void HidFrontEnd::Close() {
  std::lock_guard lock(mutex_);
  if (!open_) return;
  open_ = false;
  ++handle_;
  cv_.notify_all();
}

bool HidFrontEnd::WriteReport(const std::uint8_t* report, std::size_t length) {
  std::uint8_t data[kReportData];
  std::size_t n = 0;
  {
    std::lock_guard lock(mutex_);
    if (!open_ || !PresentLocked() || report == nullptr || length != kReportLength) {
      return false;
    }
    outputLog_.push_back(Pad({report, length}));
    const std::size_t count = report[1] & 0x7F;
    if (count > kReportData) return true;  // claims more than a report holds: drop it
    n = count;
    std::copy_n(report + 2, n, data);
  }
  // Outside our lock: the terminal answers through OnMessage, which takes it.
  terminal_.Receive(data, n);
  return true;
}

int HidFrontEnd::ReadReport(std::uint8_t* report, std::size_t capacity, int timeoutMs) {
  std::unique_lock lock(mutex_);
  if (!open_ || report == nullptr || capacity < kReportLength) return -1;
  const std::uint64_t handle = handle_;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  cv_.wait_until(lock, deadline, [&] { return handle_ != handle || !input_.empty(); });
  if (handle_ != handle) return -1;
  if (input_.empty()) return 0;
  std::copy(input_.front().begin(), input_.front().end(), report);
  input_.pop_front();
  return static_cast<int>(kReportLength);
}

void HidFrontEnd::OnMessage(const Bytes& message, bool more) {
  std::lock_guard lock(mutex_);
  std::vector<Report> reports;
  if (replaceNext_) {
    replaceNext_ = false;
    for (const auto& r : replacement_) reports.push_back(Pad(r));
    replacement_.clear();
  } else {
    reports = SplitIntoReports(message);
    // The rest of the message follows later: its host keeps reading.
    if (more && !reports.empty()) reports.back()[1] |= 0x80;
  }
  // Off the bus or without an open handle, the reports have nowhere to go.
  const bool deliver = open_ && PresentLocked();
  for (const auto& r : reports) {
    inputLog_.push_back(r);
    if (deliver) input_.push_back(r);
  }
  cv_.notify_all();
}

void HidFrontEnd::Unplug() {
  std::lock_guard lock(mutex_);
  plugged_ = false;
  DropHandleLocked();
}

void HidFrontEnd::Plug() {
  std::lock_guard lock(mutex_);
  plugged_ = true;
}

bool HidFrontEnd::Plugged() const {
  std::lock_guard lock(mutex_);
  return PresentLocked();
}

bool HidFrontEnd::IsOpen() const {
  std::lock_guard lock(mutex_);
  return open_;
}

int HidFrontEnd::OpenCount() const {
  std::lock_guard lock(mutex_);
  return openCount_;
}

void HidFrontEnd::SetDiscardOnOpen(bool discard) {
  std::lock_guard lock(mutex_);
  discardOnOpen_ = discard;
}

std::vector<Report> HidFrontEnd::OutputReports() const {
  std::lock_guard lock(mutex_);
  return outputLog_;
}

std::vector<Report> HidFrontEnd::InputReports() const {
  std::lock_guard lock(mutex_);
  return inputLog_;
}

void HidFrontEnd::ClearReports() {
  std::lock_guard lock(mutex_);
  outputLog_.clear();
  inputLog_.clear();
}

std::size_t HidFrontEnd::PendingInputReports() const {
  std::lock_guard lock(mutex_);
  return input_.size();
}

void HidFrontEnd::InjectInputReport(std::span<const std::uint8_t> report) {
  std::lock_guard lock(mutex_);
  const Report r = Pad(report);
  inputLog_.push_back(r);
  input_.push_back(r);
  cv_.notify_all();
}

void HidFrontEnd::ReplaceNextMessage(std::vector<Bytes> reports) {
  std::lock_guard lock(mutex_);
  replacement_ = std::move(reports);
  replaceNext_ = true;
}

}  // namespace vterm
