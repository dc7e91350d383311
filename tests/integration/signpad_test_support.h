// What the signature-pad tests share: a recording point handler, a capture running on its
// own thread, and the pad of the session's terminal.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "link/link_state.h"
#include "support/session.h"
#include "vantorel.h"
#include "vterm/signpad.h"

namespace signpad_test {

using namespace std::chrono_literals;

// Every call of the point handler, in order, with the thread it ran on.
class Recorder {
 public:
  static void VANTOREL_CALL Handle(const int* values, int count, void* context) {
    auto* self = static_cast<Recorder*>(context);
    std::lock_guard lock(self->mutex_);
    self->calls_.emplace_back(values, values + count);
    self->threads_.push_back(std::this_thread::get_id());
    self->cv_.notify_all();
  }
  void Register() { Zelto_AddPointHandle(&Recorder::Handle, this); }

  std::vector<std::vector<int>> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::vector<std::thread::id> Threads() const {
    std::lock_guard lock(mutex_);
    return threads_;
  }
  // Every value of every call that is not an event pair, in order.
  std::vector<int> Points() const {
    std::lock_guard lock(mutex_);
    std::vector<int> all;
    for (const auto& call : calls_) {
      if (!IsEvent(call)) all.insert(all.end(), call.begin(), call.end());
    }
    return all;
  }
  std::vector<std::vector<int>> Events() const {
    std::lock_guard lock(mutex_);
    std::vector<std::vector<int>> events;
    for (const auto& call : calls_) {
      if (IsEvent(call)) events.push_back(call);
    }
    return events;
  }
  bool WaitForPoints(std::size_t values, std::chrono::milliseconds timeout = 10s) const {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return CountLocked() >= values; });
  }
  bool WaitForCalls(std::size_t calls, std::chrono::milliseconds timeout = 10s) const {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] { return calls_.size() >= calls; });
  }

 private:
  static bool IsEvent(const std::vector<int>& call) {
    return call.size() == 2 && (call[0] == 122 || call[0] == 123);
  }
  std::size_t CountLocked() const {
    std::size_t n = 0;
    for (const auto& call : calls_) {
      if (!IsEvent(call)) n += call.size();
    }
    return n;
  }

  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  std::vector<std::vector<int>> calls_;
  std::vector<std::thread::id> threads_;
};

// Zelto_StartCapture on a thread of its own.
class Capture {
 public:
  explicit Capture(unsigned char format) {
    thread_ = std::thread([this, format] {
      rc_ = Zelto_StartCapture(format, 1, 2, 3, 4, 5, 6, 7);
      done_ = true;
    });
  }
  ~Capture() {
    if (thread_.joinable()) {
      if (!done_) Brixa_Close();
      thread_.join();
    }
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  // True once the pad acknowledged the start and the loop runs.
  static bool WaitRunning(std::chrono::milliseconds timeout = 5s) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (vantorel::link::State().captureActive.load() == 0) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }
  // The start's return code once the call returned, nullopt when it did not in time.
  std::optional<int> Finish(std::chrono::milliseconds timeout = 5s) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!done_) {
      if (std::chrono::steady_clock::now() > until) return std::nullopt;
      std::this_thread::sleep_for(2ms);
    }
    thread_.join();
    return rc_.load();
  }
  bool Done() const { return done_; }
  std::thread::id Id() const { return thread_.get_id(); }

 private:
  std::atomic<int> rc_{-1};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// A session opened with the pad's pen told which link it is on and sending at once.
class PadTest : public support::TransportTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(session.Open(), 1);
    pad().SetHidLink(!session.serial());
    pad().SetPenTiming({.intervalMs = 15, .packetsPerMessage = 2, .startDelayMs = 0});
  }
  vterm::SignpadModule& pad() { return session.terminal().Get<vterm::SignpadModule>(); }
};

// Pad points of each stroke followed by the pen-up marker: what a handler should see.
inline std::vector<int> Expected(const std::vector<vterm::Stroke>& strokes) {
  std::vector<int> values;
  for (const auto& stroke : strokes) {
    for (const auto& p : stroke) values.insert(values.end(), {p.x, p.y});
    values.insert(values.end(), {-1, -1});
  }
  return values;
}

// Strokes that never move more than 511 at once (so relative packets map 1:1); the last
// starts as far out as one relative packet reaches without being taken for a stop on the
// way there (a move of exactly 511 is one).
inline std::vector<vterm::Stroke> KnownStrokes() {
  std::vector<vterm::Stroke> strokes;
  for (int s = 0; s < 3; ++s) {
    vterm::Stroke stroke;
    for (int i = 0; i < 9; ++i) stroke.push_back({100 + s * 150 + i * 17, 300 + (i * 37) % 200});
    strokes.push_back(stroke);
  }
  strokes.push_back({{510, 510}, {1000, 1000}, {1000, 500}});
  return strokes;
}

}  // namespace signpad_test
