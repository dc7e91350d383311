// PtyFrontEnd on POSIX pseudo-terminals.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "vterm/pty_front_end.h"

namespace vterm {

namespace {

void SetNonBlocking(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

PtyFrontEnd::PtyFrontEnd(Terminal& terminal) : terminal_(terminal) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) throw std::runtime_error("vterm: posix_openpt failed");
  std::array<char, 128> name{};
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name.data(), name.size()) != 0) {
    ::close(master_);
    throw std::runtime_error("vterm: cannot set up the pseudo-terminal");
  }
  path_ = name.data();
  slaveKeeper_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slaveKeeper_ < 0) {
    ::close(master_);
    throw std::runtime_error("vterm: cannot open " + path_);
  }
  // Raw from the start: no echo of our own replies, no line editing, no CR/NL rewriting.
  termios tio{};
  if (::tcgetattr(slaveKeeper_, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::tcsetattr(slaveKeeper_, TCSANOW, &tio);
  }
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) {
    ::close(slaveKeeper_);
    ::close(master_);
    throw std::runtime_error("vterm: pipe failed");
  }
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(wakeRead_, F_SETFD, FD_CLOEXEC);
  ::fcntl(wakeWrite_, F_SETFD, FD_CLOEXEC);
  SetNonBlocking(master_);
  SetNonBlocking(wakeRead_);
  SetNonBlocking(wakeWrite_);

  terminal_.SetSink([this](const Bytes& message) {
    {
      std::lock_guard lock(mutex_);
      if (closed_ || hangupRequested_) return;
      pending_.insert(pending_.end(), message.begin(), message.end());
    }
    Wake();
  });
  thread_ = std::thread([this] { Loop(); });
}

PtyFrontEnd::~PtyFrontEnd() {
  terminal_.SetSink(nullptr);
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  Wake();
  thread_.join();
  CloseFds();
  ::close(wakeRead_);
  ::close(wakeWrite_);
}

void PtyFrontEnd::Wake() {
  const std::uint8_t b = 1;
  // A full pipe already guarantees a wake-up.
  [[maybe_unused]] const auto r = ::write(wakeWrite_, &b, 1);
}

void PtyFrontEnd::CloseFds() {
  if (master_ >= 0) ::close(master_);
  if (slaveKeeper_ >= 0) ::close(slaveKeeper_);
  master_ = -1;
  slaveKeeper_ = -1;
}

void PtyFrontEnd::Hangup() {
  std::unique_lock lock(mutex_);
  if (closed_) return;
  hangupRequested_ = true;
  pending_.clear();
  if (std::this_thread::get_id() == thread_.get_id()) return;  // the loop closes next turn
  lock.unlock();
  Wake();
  lock.lock();
  closedCv_.wait(lock, [&] { return closed_; });
}

bool PtyFrontEnd::HungUp() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

std::size_t PtyFrontEnd::BytesWritten() const {
  std::lock_guard lock(mutex_);
  return written_;
}

bool PtyFrontEnd::Drain(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto clearSince = deadline;  // when all was last seen clear; `deadline`: not clear now
  bool clear = false;
  for (;;) {
    bool left = terminal_.OutputPending();
    {
      std::lock_guard lock(mutex_);
      if (closed_ || hangupRequested_) return false;
      int unread = 0;
      // The slave's input queue: what reached the host's side and was not read yet.
      if (!pending_.empty() || ::ioctl(slaveKeeper_, FIONREAD, &unread) != 0 || unread > 0) {
        left = true;
      }
    }
    // Bytes written to the master reach the slave's queue a moment later, and a host reads
    // a reply until its line stays silent for a while (a serial read call of 200 ms): all
    // clear counts once it has held longer than that.
    const auto now = std::chrono::steady_clock::now();
    if (left) {
      clear = false;
    } else if (!clear) {
      clear = true;
      clearSince = now;
    } else if (now - clearSince >= std::chrono::milliseconds(300)) {
      return true;
    }
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void PtyFrontEnd::Loop() {
  std::array<std::uint8_t, 4096> buffer;
  for (;;) {
    bool wantWrite = false;
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
      if (hangupRequested_ && !closed_) {
        // Only this thread polls the descriptors, so only it may close them.
        CloseFds();
        closed_ = true;
        closedCv_.notify_all();
      }
      wantWrite = !closed_ && !pending_.empty();
    }
    pollfd fds[2] = {{wakeRead_, POLLIN, 0}, {master_, 0, 0}};
    nfds_t count = 1;
    if (master_ >= 0) {
      fds[1].events = static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0));
      count = 2;
    }
    if (::poll(fds, count, -1) < 0 && errno != EINTR) return;

    if (fds[0].revents & POLLIN) {
      while (::read(wakeRead_, buffer.data(), buffer.size()) > 0) {
      }
    }
    if (count < 2) continue;
    if (fds[1].revents & POLLIN) {
      const ssize_t n = ::read(master_, buffer.data(), buffer.size());
      if (n > 0) terminal_.Receive(buffer.data(), static_cast<std::size_t>(n));
    }
    if (fds[1].revents & POLLOUT) {
      std::lock_guard lock(mutex_);
      const std::size_t n = std::min(pending_.size(), buffer.size());
      std::copy_n(pending_.begin(), n, buffer.begin());
      const ssize_t w = ::write(master_, buffer.data(), n);
      if (w > 0) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(w));
        written_ += static_cast<std::size_t>(w);
      }
    }
    if ((fds[1].revents & (POLLHUP | POLLERR)) && !(fds[1].revents & POLLIN)) {
      // Cannot happen while the slave keeper is open; avoid spinning if it does.
      ::usleep(10000);
    }
  }
}

}  // namespace vterm
