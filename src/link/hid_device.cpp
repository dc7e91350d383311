#include "link/hid_device.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "crypto/secure_wipe.h"
#include "link/last_error.h"

namespace vantorel::link {
namespace {

// Report buffers are fixed; the terminal's reports are 65 bytes with the id.
constexpr std::size_t kMaxReport = 1024;

// An id as causes show it: the device's ids are 16-bit.
unsigned Id(int id) noexcept {
  return static_cast<unsigned>(id) & 0xFFFFu;
}

}  // namespace

void HidDevice::UseBackend(HidBackend* backend) noexcept {
  Close();
  backend_ = backend;
}

HidBackend& HidDevice::Backend() noexcept {
  return backend_ != nullptr ? *backend_ : SystemHidBackend();
}

int HidDevice::Open(int vendorId, int productId, bool trustHandle) noexcept {
  trusted_ =
      trustHandle && open_ && !handleFailed_ && vendorId == vendorId_ && productId == productId_;
  vendorId_ = vendorId;
  productId_ = productId;
  if (trusted_) {
    // What waits on the handle is sorted before the write, as after a fresh open: a stale
    // rest of a reply must not be read as the next command's.
    KeepPendingReports();
    return 1;
  }
  handleFailed_ = false;
  // The device searched again is the one already open: its handle stays, and with it every
  // report waiting on it.
  if (open_ && Backend().Reuse(vendorId, productId)) return 1;
  const bool wasOpen = open_;
  KeepPendingReports();
  CloseHandle();
  open_ = Backend().Open(vendorId, productId);
  if (!open_) {
    // A backend that knows more (a node it could not open) has said so already.
    if (wasOpen) {
      last_error::Cause("device gone: the HID device %04X:%04X is no longer there", Id(vendorId),
                        Id(productId));
    } else {
      last_error::Cause("no HID device with vendor id %04X and product id %04X found", Id(vendorId),
                        Id(productId));
    }
  }
  return open_ ? 1 : 0;
}

int HidDevice::WriteFrame(const std::uint8_t* bytes, std::size_t length) noexcept {
  if (!open_ || bytes == nullptr || length == 0) return 0;
  std::size_t written = WriteReports(bytes, length);
  if (written == length) return 1;
  handleFailed_ = true;
  if (!trusted_ || written != 0) return 0;
  // A handle used without a search failed on the frame's first report, so nothing reached the
  // device: it may have been unplugged and plugged back in. Search and write again once.
  if (Open(vendorId_, productId_) == 0) return 0;
  written = WriteReports(bytes, length);
  if (written == length) return 1;
  handleFailed_ = true;
  return 0;
}

std::size_t HidDevice::WriteReports(const std::uint8_t* bytes, std::size_t length) noexcept {
  HidBackend& backend = Backend();
  const std::size_t reportLength = std::min(backend.OutputReportLength(), kMaxReport);
  if (reportLength < 2 + kReportData) return 0;
  std::array<std::uint8_t, kMaxReport> report{};
  const crypto::ScopedWipe wipe(report.data(), report.size());
  std::size_t offset = 0;
  while (offset < length) {
    const std::size_t left = length - offset;
    const std::size_t take = std::min(left, kReportData);
    std::memset(report.data(), 0, reportLength);
    report[0] = 0;  // report id
    report[1] = left > kReportData ? static_cast<std::uint8_t>(0x80 | kReportData)
                                   : static_cast<std::uint8_t>(take);
    std::memcpy(report.data() + 2, bytes + offset, take);
    if (!backend.WriteReport(report.data(), reportLength)) {
      last_error::Cause("device gone: the HID device %04X:%04X takes no report", Id(vendorId_),
                        Id(productId_));
      return offset;
    }
    offset += take;
  }
  return offset;
}

void HidDevice::KeepPendingReports() noexcept {
  if (!open_) return;
  HidBackend& backend = Backend();
  std::array<std::uint8_t, kMaxReport> report{};
  const crypto::ScopedWipe wipe(report.data(), report.size());
  while (keptCount_ < kKeptReports) {
    const int got = backend.ReadReport(report.data(), report.size(), 0);
    if (got < 2) return;
    if (report[1] == 0) continue;
    std::uint8_t* chunk = keptChunks_[(keptFirst_ + keptCount_) % kKeptReports];
    std::memset(chunk, 0, kChunkSize);
    std::memcpy(chunk, report.data() + 1, std::min<std::size_t>(got - 1, kChunkSize));
    ++keptCount_;
  }
}

int HidDevice::ReadReport(std::uint8_t* chunk, Millis timeout, bool kept) noexcept {
  chunk[0] = 0;
  if (kept && keptCount_ > 0) {
    std::memcpy(chunk, keptChunks_[keptFirst_], kChunkSize);
    crypto::SecureWipe(keptChunks_[keptFirst_], kChunkSize);
    keptFirst_ = (keptFirst_ + 1) % kKeptReports;
    --keptCount_;
    return 1;
  }
  if (!open_) return 0;
  HidBackend& backend = Backend();
  std::array<std::uint8_t, kMaxReport> report{};
  const crypto::ScopedWipe wipe(report.data(), report.size());
  const int got = backend.ReadReport(report.data(), report.size(), ToMs(timeout));
  if (got < 0) {
    handleFailed_ = true;
    last_error::Cause("device gone: the HID device %04X:%04X hung up or failed", Id(vendorId_),
                      Id(productId_));
    return 0;
  }
  if (got >= 2 && report[1] != 0) {
    // Everything after the report id: the count byte and up to 63 data bytes.
    std::memset(chunk, 0, kChunkSize);
    std::memcpy(chunk, report.data() + 1, std::min<std::size_t>(got - 1, kChunkSize));
  } else {
    chunk[0] = 0;
  }
  return 1;
}

int HidDevice::ReadReply(std::uint8_t* reply, std::size_t maxLength, Millis timeout, bool kept,
                         bool* overflowed) noexcept {
  if (overflowed != nullptr) *overflowed = false;
  std::size_t total = 0;
  std::array<std::uint8_t, kChunkSize> chunk{};
  const crypto::ScopedWipe wipe(chunk.data(), chunk.size());
  for (;;) {
    ReadReport(chunk.data(), timeout, kept);
    const std::uint8_t count = chunk[0];
    if (count == 0) return static_cast<int>(total);
    const std::size_t n = count & 0x7F;
    // A count past the 63 bytes a report carries names data that does not exist: the report
    // is corrupt and dropped like one that would overflow the caller's buffer.
    if (n > kReportData) continue;
    if (overflowed != nullptr && (*overflowed || total + n > maxLength)) {
      *overflowed = true;
      if ((count & 0x80) == 0) return static_cast<int>(total);
      continue;
    }
    if (total + n > maxLength) continue;
    std::memcpy(reply + total, chunk.data() + 1, n);
    total += n;
    if ((count & 0x80) == 0) return static_cast<int>(total);
  }
}

int HidDevice::Transact(int vendorId, int productId, const std::uint8_t* bytes, std::size_t length,
                        std::uint8_t* reply, std::size_t maxLength, Millis timeout) noexcept {
  if (Open(vendorId, productId) == 0) return 0;
  if (length != 0 && WriteFrame(bytes, length) == 0) return 0;
  if (reply == nullptr) return 0;
  return ReadReply(reply, maxLength, timeout);
}

void HidDevice::CloseHandle() noexcept {
  if (open_) Backend().Close();
  open_ = false;
}

void HidDevice::Close() noexcept {
  // The connection ends: what was kept from it belongs to no later read.
  ForgetKept();
  CloseHandle();
}

void HidDevice::ForgetKept() noexcept {
  crypto::SecureWipe(keptChunks_, sizeof keptChunks_);
  keptFirst_ = 0;
  keptCount_ = 0;
}

bool HidDevice::KeptHolds(const std::uint8_t* needle, std::size_t length) const noexcept {
  if (length == 0 || length > kReportData) return false;
  for (const auto& chunk : keptChunks_) {
    if (std::search(chunk + 1, chunk + kChunkSize, needle, needle + length) != chunk + kChunkSize) {
      return true;
    }
  }
  return false;
}

void HidDevice::FilterKept(KeepDecision keep, void* context) noexcept {
  if (keptCount_ == 0) return;
  std::uint8_t chunks[kKeptReports][kChunkSize];
  const std::size_t count = keptCount_;
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(chunks[i], keptChunks_[(keptFirst_ + i) % kKeptReports], kChunkSize);
  }
  ForgetKept();
  std::array<std::uint8_t, kKeptReports * kReportData> message{};
  std::size_t first = 0;
  while (first < count) {
    // One message: reports up to the first without the continuation bit.
    std::size_t last = first;
    while (last + 1 < count && (chunks[last][0] & 0x80) != 0) ++last;
    std::size_t length = 0;
    for (std::size_t i = first; i <= last; ++i) {
      const std::size_t n = chunks[i][0] & 0x7F;
      if (n > kReportData) continue;  // corrupt, as ReadReply treats it
      std::memcpy(message.data() + length, chunks[i] + 1, n);
      length += n;
    }
    if (keep(context, message.data(), length)) {
      for (std::size_t i = first; i <= last; ++i) {
        std::memcpy(keptChunks_[keptCount_++], chunks[i], kChunkSize);
      }
    }
    first = last + 1;
  }
  crypto::SecureWipe(chunks, sizeof chunks);
  crypto::SecureWipe(message.data(), message.size());
}

std::size_t HidDevice::AppendKept(const std::uint8_t* message, std::size_t length) noexcept {
  std::size_t offset = 0;
  while (offset < length && keptCount_ < kKeptReports) {
    const std::size_t take = std::min(length - offset, kReportData);
    std::uint8_t* chunk = keptChunks_[(keptFirst_ + keptCount_) % kKeptReports];
    std::memset(chunk, 0, kChunkSize);
    chunk[0] = static_cast<std::uint8_t>(offset + take < length ? 0x80 | kReportData : take);
    std::memcpy(chunk + 1, message + offset, take);
    ++keptCount_;
    offset += take;
  }
  return offset;
}

}  // namespace vantorel::link
