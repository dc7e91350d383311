#include "fake_terminal.h"

#include <algorithm>
#include <cstring>

#include "link/hid_device.h"
#include "link/link_state.h"

namespace vantorel::fuzz {

std::vector<Bytes> SplitIntoReports(const Bytes& message) {
  std::vector<Bytes> reports;
  for (std::size_t at = 0; at < message.size(); at += kReportData) {
    const std::size_t n = std::min(kReportData, message.size() - at);
    Bytes report(kReportLength, 0);
    const bool more = at + n < message.size();
    report[1] = static_cast<std::uint8_t>(more ? 0x80 | n : n);
    std::memcpy(report.data() + 2, message.data() + at, n);
    reports.push_back(std::move(report));
  }
  return reports;
}

Bytes JoinedReply(const Bytes& message, std::size_t maxLength) {
  Bytes joined;
  for (std::size_t at = 0; at < message.size(); at += kReportData) {
    const std::size_t n = std::min(kReportData, message.size() - at);
    if (joined.size() + n > maxLength) continue;
    joined.insert(joined.end(), message.begin() + static_cast<std::ptrdiff_t>(at),
                  message.begin() + static_cast<std::ptrdiff_t>(at + n));
  }
  return joined;
}

bool FakeTerminal::Open(int, int) {
  queue_.clear();  // a new handle starts with an empty queue
  silentRead_ = false;
  open_ = true;
  return true;
}

void FakeTerminal::Close() {
  queue_.clear();
  open_ = false;
}

void FakeTerminal::Post(const Bytes& message) {
  for (auto& report : SplitIntoReports(message)) queue_.push_back(std::move(report));
}

bool FakeTerminal::WriteReport(const std::uint8_t* report, std::size_t length) {
  if (!open_ || length != kReportLength) return false;
  if ((report[1] & 0x80) == 0) {  // the frame's last report: the terminal answers
    ++framesWritten;
    if (!script.empty()) {
      // An empty reply is a terminal that stays silent for this one read.
      silentRead_ = script.front().empty();
      Post(script.front());
      script.pop_front();
    }
  }
  return true;
}

int FakeTerminal::ReadReport(std::uint8_t* report, std::size_t capacity, int timeoutMs) {
  if (!open_ || capacity < kReportLength) return -1;
  if (queue_.empty() && silentRead_ && timeoutMs > 0) {
    silentRead_ = false;
    return 0;
  }
  if (queue_.empty() && timeoutMs > 0) {
    if (!script.empty()) {
      Post(script.front());
      script.pop_front();
    } else if (onSilence) {
      onSilence();
    }
  }
  if (queue_.empty()) return 0;
  std::memcpy(report, queue_.front().data(), kReportLength);
  queue_.pop_front();
  return static_cast<int>(kReportLength);
}

void EndModes() {
  link::LinkState& state = link::State();
  state.pinEntryActive = 0;
  state.secureHeadActive = 0;
  state.captureActive = 0;
  state.encryptedEntryActive = 0;
}

void OpenFakeLink(FakeTerminal& terminal) {
  link::TheHidDevice().UseBackend(&terminal);
  link::LinkState& state = link::State();
  EndModes();
  state.linkBusy = 0;
  state.hidVendorId = 0x0ACD;
  state.hidProductId = 0x3910;
  state.linkIsHid = 1;
  state.linkOpen = 1;
}

}  // namespace vantorel::fuzz
