// The terminal of the scenario runner: the virtual terminal's protocol engine behind a front
// end that answers when the scenario says, not inside the write. Every message the engine
// emits (replies, and what a scenario sends by itself: pen packets, card data, entry answers,
// stray bytes) goes through one ordered outbox that a wire thread delivers at its due time:
// over serial as writes to a pseudo-terminal's master side, over HID as input reports of
// the library's HidBackend seam.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "link/hid_backend.h"
#include "vterm/frame_codec.h"
#include "vterm/terminal.h"

namespace scenario {

using vterm::Bytes;
using Clock = std::chrono::steady_clock;

enum class Wire { kSerial, kHid };

class RudeTerminal : public vantorel::link::HidBackend {
 public:
  // Decides what happens to one reply the engine produced for `command` (class, function,
  // sub-command, parameters): by default it is sent at once. Runs with the engine's lock
  // held: it may call Send, never the engine.
  using ReplyPlan =
      std::function<void(RudeTerminal&, const vterm::Command& command, const Bytes& reply)>;

  RudeTerminal(Wire wire, std::uint64_t seed);
  ~RudeTerminal() override;
  RudeTerminal(const RudeTerminal&) = delete;
  RudeTerminal& operator=(const RudeTerminal&) = delete;

  Wire wire() const { return wire_; }
  vterm::Terminal& engine() { return engine_; }
  std::mt19937_64& rng() { return rng_; }
  // Opens the library's connection to this terminal; the handshake frames are forgotten.
  unsigned char OpenLink();

  // Queues bytes after everything already queued, at the earliest `delayMs` from now (with
  // `afterPrevious`, `delayMs` after the last queued message: a steady stream). Over
  // HID one Send is one message (its own run of reports); `moreFollows` keeps the
  // continuation bit on its last report, so the next Send completes the same message.
  void Send(Bytes bytes, int delayMs = 0, bool moreFollows = false, bool afterPrevious = false);
  void SetReplyPlan(ReplyPlan plan);
  // Blocks until everything queued so far is on the wire.
  void Drain();
  // True once everything queued is on the wire and, over HID, every input report was read.
  bool AllRead() const;
  // HID: every read fails at once (-1) while set, as on a handle that went bad.
  void SetReadsFail(bool fail);
  // The last command the engine received (valid frames only).
  std::vector<Bytes> Commands() const { return engine_.Commands(); }

  // HidBackend.
  bool Open(int vendorId, int productId) override;
  void Close() override;
  std::size_t InputReportLength() const override { return 65; }
  std::size_t OutputReportLength() const override { return 65; }
  bool WriteReport(const std::uint8_t* report, std::size_t length) override;
  int ReadReport(std::uint8_t* report, std::size_t capacity, int timeoutMs) override;

 private:
  struct Out {
    Clock::time_point due;
    Bytes bytes;
    bool more = false;
  };
  void OnEngineOutput(const Bytes& message);
  void WireLoop();
  void Deliver(const Out& out);

  const Wire wire_;
  std::mt19937_64 rng_;
  vterm::Terminal engine_;
  std::string ptyPath_;
  int master_ = -1;
  int slaveKeeper_ = -1;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Out> outbox_;
  std::size_t inFlight_ = 0;
  Clock::time_point lastDue_{};
  std::deque<std::array<std::uint8_t, 65>> input_;  // HID input reports
  bool readsFail_ = false;
  bool open_ = false;
  bool stop_ = false;
  ReplyPlan plan_;
  vterm::Command lastCommand_;
  int frameListener_ = 0;
  std::thread thread_;
};

}  // namespace scenario
