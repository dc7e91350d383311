// The state of the connection in one object: the flags, the loops' current markers and
// claims, the transports, who owns arriving bytes, the shared command buffer and the link
// lock. Registrations that outlive a connection stay with the exports that make them: the
// point handler (signpad/capture.cpp), the card-data handler (cardreader/secure_head.cpp),
// the port map (serial_port.cpp); Reset() keeps them.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "link/hid_device.h"
#include "link/polling_mode.h"
#include "link/reply_ownership.h"
#include "link/serial_port.h"

namespace vantorel::link {

inline constexpr std::size_t kCommandBufferSize = 1028;
inline constexpr std::size_t kReplySize = 512;

// Who owns the bytes that arrive (reply_ownership.*): what a connection owes and keeps for
// its loops. Touched only with the link lock held; reset at open and close.
struct InputOwnership {
  // Serial bytes that arrived while a command held the link, for the loop that waits for
  // them: room for several commands' worth of a streaming pen while the loop is kept off.
  static constexpr std::size_t kInboxSize = 16384;
  static constexpr std::size_t kMaxClaimants = 4;
  struct Claimant {
    LoopMessageTest test = nullptr;
    const void* context = nullptr;
  };

  // A late reply is owed until this time (none when `owed` is false).
  bool owed = false;
  std::chrono::steady_clock::time_point owedUntil{};
  int listeners = 0;
  std::array<Claimant, kMaxClaimants> claimants{};
  std::array<std::uint8_t, kInboxSize> inbox{};
  std::size_t inboxLength = 0;
  // A frame a loop read while a late reply was owed, that the loop would take as its own:
  // held back until the owed window tells whose it is (ReadMessage).
  std::array<std::uint8_t, kReplySize> held{};
  std::size_t heldLength = 0;
};

struct LinkState {
  std::atomic<int> linkOpen{0};
  std::atomic<int> linkIsHid{0};
  // Number of commands that want or hold the link. A polling loop reads only while it is 0.
  // A count rather than a flag: with two commands in flight, the first one to finish must
  // not let a loop read the second one's reply.
  std::atomic<int> linkBusy{0};
  std::atomic<std::uint8_t> pinEntryActive{0};
  std::atomic<std::uint8_t> secureHeadActive{0};
  std::atomic<std::uint8_t> captureActive{0};
  std::atomic<std::uint8_t> encryptedEntryActive{0};
  std::atomic<int> hidVendorId{0};
  std::atomic<int> hidProductId{0};

  // Whether each kind's loop is still the current one (polling_mode.h), over the flags above.
  PollingMode capture{captureActive};
  PollingMode reading{secureHeadActive};
  PollingMode pinEntry{pinEntryActive};
  PollingMode encryptedEntry{encryptedEntryActive};

  // The transports; which one is in use is linkIsHid.
  SerialPort serial;
  HidDevice hid;
  InputOwnership input;

  // Where every command is composed and framed in place; touched only with `lock` held.
  std::array<std::uint8_t, kCommandBufferSize> commandBuffer{};
  // Serialises every use of the transport: compose + exchange of a command, one polling
  // read, one key poll. Never held while a loop sleeps or a callback runs.
  std::mutex lock;

  // Ends every loop at its next turn (a close).
  void EndLoops() noexcept {
    capture.End();
    reading.End();
    pinEntry.End();
    encryptedEntry.End();
  }

  // Back to the state at load, for tests that run one case after another in one process:
  // false (nothing changed) while the link is open or a command or loop may still run. The
  // port map and an HID backend set for tests are kept.
  bool Reset() noexcept;
};

// The one instance, zero at load.
LinkState& State() noexcept;

inline std::array<std::uint8_t, kCommandBufferSize>& CommandBuffer() noexcept {
  return State().commandBuffer;
}
inline std::mutex& LinkLock() noexcept {
  return State().lock;
}

inline bool LinkIsOpen() noexcept {
  return State().linkOpen.load() != 0;
}
inline bool LinkBusy() noexcept {
  return State().linkBusy.load() != 0;
}

// Raises linkBusy for its lifetime.
class BusyGuard {
 public:
  BusyGuard() noexcept { State().linkBusy.fetch_add(1); }
  ~BusyGuard() { State().linkBusy.fetch_sub(1); }
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;
};

// Holds the link for one exchange: raises linkBusy first (no new polling read starts),
// then takes the lock (a read in progress finishes).
class LinkGuard {
 public:
  LinkGuard() : lock_(LinkLock()) {}
  LinkGuard(const LinkGuard&) = delete;
  LinkGuard& operator=(const LinkGuard&) = delete;

 private:
  BusyGuard busy_;
  std::lock_guard<std::mutex> lock_;
};

}  // namespace vantorel::link
