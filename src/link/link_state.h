// The process-wide connection state, the shared command buffer and the link lock.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace vantorel::link {

inline constexpr std::size_t kCommandBufferSize = 1028;
inline constexpr std::size_t kReplySize = 512;

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
};

// The one instance, zero at load.
LinkState& State() noexcept;

// Where every command is composed and framed in place; touched only with LinkLock held.
std::array<std::uint8_t, kCommandBufferSize>& CommandBuffer() noexcept;

// Serialises every use of the transport: compose + exchange of a command, one polling
// read, one key poll. Never held while a loop sleeps or a callback runs.
std::mutex& LinkLock() noexcept;

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
