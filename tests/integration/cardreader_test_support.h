// Shared by the card reader's integration and concurrency tests: a data handler that keeps
// what it was given, and secure reading running on a thread of its own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "support/session.h"
#include "vantorel.h"
#include "vterm/card_reader.h"

namespace cardreader_test {

using vterm::Bytes;
using namespace std::chrono_literals;

inline constexpr int kContext = 0x5EC0DE;

// Everything the data handler received, in order.
class Deliveries {
 public:
  static Deliveries& Instance() {
    static Deliveries deliveries;
    return deliveries;
  }
  static void VANTOREL_CALL Handler(const unsigned char* data, int count, int context) {
    Instance().Add(Bytes(data, data + count), context);
  }
  // Registers the handler and forgets earlier deliveries.
  void Register() {
    Clear();
    MSR_AddDataHandle(&Deliveries::Handler, kContext);
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    received_.clear();
    contexts_.clear();
  }
  bool WaitFor(std::size_t count, std::chrono::milliseconds timeout = 8000ms) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
  }
  std::vector<Bytes> Received() const {
    std::lock_guard lock(mutex_);
    return received_;
  }
  std::vector<int> Contexts() const {
    std::lock_guard lock(mutex_);
    return contexts_;
  }

 private:
  void Add(Bytes bytes, int context) {
    std::lock_guard lock(mutex_);
    received_.push_back(std::move(bytes));
    contexts_.push_back(context);
    cv_.notify_all();
  }
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<Bytes> received_;
  std::vector<int> contexts_;
};

// MSR_EnableSecureHead on a thread of its own.
class Reading {
 public:
  Reading() : thread_([this] { Finish(MSR_EnableSecureHead()); }) {}
  ~Reading() {
    if (thread_.joinable()) {
      MSR_DisableSecureHead();
      thread_.join();
    }
  }
  Reading(const Reading&) = delete;
  Reading& operator=(const Reading&) = delete;

  // The enable call's result once it returned within `timeout`.
  std::optional<unsigned char> Result(std::chrono::milliseconds timeout = 8000ms) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [&] { return done_; })) return std::nullopt;
    lock.unlock();
    if (thread_.joinable()) thread_.join();
    return rc_;
  }

 private:
  void Finish(unsigned char rc) {
    std::lock_guard lock(mutex_);
    rc_ = rc;
    done_ = true;
    cv_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  unsigned char rc_ = 0;
  std::thread thread_;
};

inline vterm::CardReaderModule& Reader(support::Session& session) {
  return session.terminal().Get<vterm::CardReaderModule>();
}

// Waits until the loop has sent `count` key polls.
inline bool WaitForKeyPolls(support::Session& session, int count,
                            std::chrono::milliseconds timeout = 8000ms) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (Reader(session).KeyPolls() < count) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

}  // namespace cardreader_test
