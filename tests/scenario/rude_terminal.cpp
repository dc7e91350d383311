#include "scenario/rude_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "link/hid_device.h"
#include "vantorel.h"
#include "vterm/modules.h"

namespace scenario {
namespace {

constexpr int kPort = 7;  // the COM port the serial wire is mapped to
constexpr int kVendor = 0x0ACD;
constexpr int kProduct = 0x3910;
constexpr std::size_t kReportData = 63;

}  // namespace

RudeTerminal::RudeTerminal(Wire wire, std::uint64_t seed) : wire_(wire), rng_(seed) {
  vterm::InstallAllModules(engine_);
  frameListener_ = engine_.AddTrafficListener(
      [this](const vterm::ReceivedFrame& frame) { lastCommand_ = frame.command; }, nullptr);
  engine_.SetSink([this](const Bytes& message) { OnEngineOutput(message); });
  if (wire_ == Wire::kSerial) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    std::array<char, 128> name{};
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name.data(), name.size()) != 0) {
      throw std::runtime_error("scenario: no pseudo-terminal");
    }
    ptyPath_ = name.data();
    // Kept open so that the master never sees a hang-up between the library's opens.
    slaveKeeper_ = ::open(ptyPath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (slaveKeeper_ < 0 || ::tcgetattr(slaveKeeper_, &tio) != 0) {
      throw std::runtime_error("scenario: cannot open " + ptyPath_);
    }
    ::cfmakeraw(&tio);
    ::tcsetattr(slaveKeeper_, TCSANOW, &tio);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    Brixa_MapPort(kPort, ptyPath_.c_str());
  } else {
    vantorel::link::TheHidDevice().UseBackend(this);
  }
  thread_ = std::thread([this] { WireLoop(); });
}

RudeTerminal::~RudeTerminal() {
  Brixa_Close();
  if (wire_ == Wire::kSerial) {
    Brixa_MapPort(kPort, nullptr);
  } else {
    vantorel::link::TheHidDevice().UseBackend(nullptr);
  }
  engine_.SetSink(nullptr);
  engine_.RemoveTrafficListener(frameListener_);
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
  if (master_ >= 0) ::close(master_);
  if (slaveKeeper_ >= 0) ::close(slaveKeeper_);
}

unsigned char RudeTerminal::OpenLink() {
  const unsigned char rc = wire_ == Wire::kSerial ? Brixa_OpenPort(kPort, 9600, 'N', 1, 8)
                                                  : Brixa_OpenHid(kVendor, kProduct);
  engine_.ClearFrames();
  return rc;
}

void RudeTerminal::SetReplyPlan(ReplyPlan plan) {
  auto lock = engine_.Lock();
  plan_ = std::move(plan);
}

void RudeTerminal::OnEngineOutput(const Bytes& message) {
  // Engine lock held.
  if (plan_) {
    plan_(*this, lastCommand_, message);
  } else {
    Send(message);
  }
}

void RudeTerminal::Send(Bytes bytes, int delayMs, bool moreFollows, bool afterPrevious) {
  {
    std::lock_guard lock(mutex_);
    const auto delay = std::chrono::milliseconds(delayMs);
    const auto due = afterPrevious ? std::max(Clock::now(), lastDue_) + delay
                                   : std::max(Clock::now() + delay, lastDue_);
    lastDue_ = due;
    outbox_.push_back({due, std::move(bytes), moreFollows});
  }
  cv_.notify_all();
}

void RudeTerminal::Drain() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return (outbox_.empty() && inFlight_ == 0) || stop_; });
}

bool RudeTerminal::AllRead() const {
  std::lock_guard lock(mutex_);
  return outbox_.empty() && inFlight_ == 0 && input_.empty();
}

void RudeTerminal::SetReadsFail(bool fail) {
  std::lock_guard lock(mutex_);
  readsFail_ = fail;
}

void RudeTerminal::Deliver(const Out& out) {
  if (wire_ == Wire::kSerial) {
    std::size_t at = 0;
    while (at < out.bytes.size()) {
      const ssize_t n = ::write(master_, out.bytes.data() + at, out.bytes.size() - at);
      if (n > 0) {
        at += static_cast<std::size_t>(n);
      } else {
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 10);
      }
    }
    return;
  }
  std::lock_guard lock(mutex_);
  for (std::size_t at = 0; at < out.bytes.size(); at += kReportData) {
    const std::size_t n = std::min(kReportData, out.bytes.size() - at);
    std::array<std::uint8_t, 65> report{};
    const bool more = at + n < out.bytes.size() || out.more;
    report[1] = static_cast<std::uint8_t>(more ? 0x80 | n : n);
    std::memcpy(report.data() + 2, out.bytes.data() + at, n);
    input_.push_back(report);
  }
  cv_.notify_all();
}

void RudeTerminal::WireLoop() {
  std::array<std::uint8_t, 4096> in{};
  for (;;) {
    Out next;
    bool ready = false;
    int waitMs = 5;
    {
      std::unique_lock lock(mutex_);
      if (stop_) return;
      if (!outbox_.empty()) {
        const auto now = Clock::now();
        if (outbox_.front().due <= now) {
          next = std::move(outbox_.front());
          outbox_.pop_front();
          ++inFlight_;
          ready = true;
        } else {
          waitMs = static_cast<int>(std::min<long>(
              5, std::chrono::duration_cast<std::chrono::milliseconds>(outbox_.front().due - now)
                         .count() +
                     1));
        }
      } else if (wire_ == Wire::kHid) {
        cv_.wait_for(lock, std::chrono::milliseconds(5));
        continue;
      }
    }
    if (ready) {
      Deliver(next);
      {
        std::lock_guard lock(mutex_);
        --inFlight_;
      }
      cv_.notify_all();
      continue;
    }
    if (wire_ == Wire::kSerial) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, waitMs) > 0 && (p.revents & POLLIN) != 0) {
        const ssize_t n = ::read(master_, in.data(), in.size());
        if (n > 0) engine_.Receive(in.data(), static_cast<std::size_t>(n));
      }
    } else {
      std::unique_lock lock(mutex_);
      cv_.wait_for(lock, std::chrono::milliseconds(waitMs));
    }
  }
}

bool RudeTerminal::Open(int vendorId, int productId) {
  // Like a handle that keeps what arrived: the library reads what waited before it reopens.
  std::lock_guard lock(mutex_);
  open_ = vendorId == kVendor && productId == kProduct;
  return open_;
}

void RudeTerminal::Close() {
  std::lock_guard lock(mutex_);
  open_ = false;
}

bool RudeTerminal::WriteReport(const std::uint8_t* report, std::size_t length) {
  {
    std::lock_guard lock(mutex_);
    if (!open_ || length != 65) return false;
  }
  const std::size_t n = std::min<std::size_t>(report[1] & 0x7F, kReportData);
  engine_.Receive(report + 2, n);
  return true;
}

int RudeTerminal::ReadReport(std::uint8_t* report, std::size_t capacity, int timeoutMs) {
  if (capacity < 65) return -1;
  std::unique_lock lock(mutex_);
  if (!open_ || readsFail_) return -1;
  if (!cv_.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                    [this] { return !input_.empty() || !open_ || stop_; }) ||
      input_.empty()) {
    return open_ ? 0 : -1;
  }
  std::memcpy(report, input_.front().data(), 65);
  input_.pop_front();
  return 65;
}

}  // namespace scenario
