#include "fake_terminal.h"

#include <algorithm>
#include <cstring>

#include "link/hid_device.h"
#include "link/link_state.h"
#include "link/reply_ownership.h"

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

namespace {

// Whether collected[at, at + n) is followed by its XOR, its sum and ETX.
bool ChecksAt(const Bytes& collected, std::size_t at, std::size_t n) {
  std::uint8_t x = 0;
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    x ^= collected[at + i];
    sum = static_cast<std::uint8_t>(sum + collected[at + i]);
  }
  const std::size_t end = at + n;
  return collected[end] == x && collected[end + 1] == sum && collected[end + 2] == 0x03;
}

}  // namespace

Bytes Carved(const Bytes& collected, Bytes* after, bool longToo) {
  if (after != nullptr) after->clear();
  const std::size_t count = collected.size();
  for (std::size_t start = 0; start + 6 <= count; ++start) {
    if (collected[start] != 0x02) continue;
    std::size_t length = 0;
    const std::size_t n = collected[start + 1] | std::size_t{collected[start + 2]} << 8;
    if (start + 6 + n <= count && ChecksAt(collected, start + 3, n)) {
      length = n + 6;
    } else if (longToo && start + 7 <= count) {
      const std::size_t m = n | std::size_t{collected[start + 3]} << 16;
      if (start + 7 + m <= count && ChecksAt(collected, start + 4, m)) length = m + 7;
    }
    if (length == 0) continue;
    if (after != nullptr)
      after->assign(collected.begin() + static_cast<long>(start + length), collected.end());
    return Bytes(collected.begin() + static_cast<long>(start),
                 collected.begin() + static_cast<long>(start + length));
  }
  return collected;
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

void ForgetInput() {
  std::lock_guard<std::mutex> lock(link::LinkLock());
  link::ResetInput();
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
  ForgetInput();
}

}  // namespace vantorel::fuzz
