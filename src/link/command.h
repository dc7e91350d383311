// The one command pattern every export family goes through, and the transport calls the
// long-running loops use.
//
// An ordinary export reads as: `if (!LinkIsOpen()) return 201;` its argument checks (99),
// then its command bytes and reply shape handed to RunCommand.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "link/frame.h"
#include "link/link_state.h"
#include "link/timing.h"

namespace vantorel::link {

// Composes class, function, sub-command and parameters; remembers when something did not
// fit, so the export can refuse with 99 before anything is sent.
class CommandBytes {
 public:
  // What fits the command buffer together with the short frame's six bytes.
  static constexpr std::size_t kCapacity = kCommandBufferSize - kShortFrameOverhead;

  CommandBytes(std::uint8_t commandClass, std::uint8_t function, std::uint8_t sub) noexcept {
    Byte(commandClass).Byte(function).Byte(sub);
  }
  CommandBytes& Byte(std::uint8_t b) noexcept {
    if (size_ < kCapacity) {
      bytes_[size_++] = b;
    } else {
      fits_ = false;
    }
    return *this;
  }
  // A 32-bit value sent as 16 bits: its low byte, then the low byte of value / 256
  // (truncated toward zero, so -1 goes out as FF 00).
  CommandBytes& Word(std::int32_t value) noexcept {
    return Byte(static_cast<std::uint8_t>(value & 0xFF))
        .Byte(static_cast<std::uint8_t>((value / 256) & 0xFF));
  }
  CommandBytes& Bytes(const void* data, std::size_t n) noexcept {
    if (n > kCapacity - size_) {
      fits_ = false;
      return *this;
    }
    if (n != 0) std::memcpy(bytes_.data() + size_, data, n);
    size_ += n;
    return *this;
  }
  bool Fits() const noexcept { return fits_; }
  const std::uint8_t* data() const noexcept { return bytes_.data(); }
  std::size_t size() const noexcept { return size_; }

 private:
  std::array<std::uint8_t, kCapacity> bytes_{};
  std::size_t size_ = 0;
  bool fits_ = true;
};

// What a reply must be to count as success: ACK and at least one byte, or ACK and more
// than six bytes (commands that return data, and the stricter families).
enum class Accept { Ack, Data };

struct ExchangeOptions {
  std::size_t serialLimit = kReplySize;   // limit of the serial reply read
  int hidTimeoutMs = kHidReplyTimeoutMs;  // wait for each input report
  Millis serialWait = kSerialReplyWait;   // pause between serial write and read
  // Carve the reply out of what the read collected (not for replies that may come in the
  // long layout: picture and sign-format reads).
  bool carve = true;
  // A missing reply may still come and is then dropped (not for a restart: the terminal
  // loses its output when it goes down).
  bool replyMayComeLate = true;
  // The command starts a polling loop: bytes that follow its reply in the same read are the
  // loop's (a fast answer, the first pen packets), kept for it until it listens.
  bool startsLoop = false;
};

struct CommandOptions {
  Accept accept = Accept::Ack;
  Millis wait = kCommandWait;  // after raising linkBusy, before the write
  bool startsLoop = false;     // see ExchangeOptions
};

// Length of a zero-terminated text, reading at most `limit` + 1 bytes: a result above
// `limit` means "too long" without walking an unterminated buffer to its end.
inline std::size_t TextLength(const char* text, std::size_t limit) noexcept {
  std::size_t n = 0;
  while (n <= limit && text[n] != '\0') ++n;
  return n;
}

// ---- With LinkLock held -------------------------------------------------------------

// Sends a framed command over the open transport and reads its reply into `reply`, which
// is cleared first so that bytes that did not arrive read as 0. The bytes received (0 when
// nothing arrived or a read failed). Input that waited before the write is settled first and
// the reply is carved out of what the read collected (reply_ownership.h).
int Exchange(const std::uint8_t* frame, std::size_t frameLength, std::uint8_t* reply,
             std::size_t replyCapacity, const ExchangeOptions& options = {}) noexcept;

// Copies the command into commandBuffer, frames it there and exchanges it.
int ExchangeCommand(const CommandBytes& command, std::uint8_t* reply, std::size_t replyCapacity,
                    const ExchangeOptions& options = {}) noexcept;

// Sends a framed command without reading a reply: over serial only the write, over HID
// the exchange with no reply buffer.
void SendFrame(const std::uint8_t* frame, std::size_t frameLength) noexcept;

// Reads one message the terminal sent by itself: over HID the joined input reports (those
// kept from an earlier handle first), over serial what a command set aside for the loop,
// else a whole read. An owed late reply is removed. The bytes stored (0 when nothing came or
// a read failed).
int ReadMessage(std::uint8_t* buffer, std::size_t maxLength, int hidTimeoutMs) noexcept;

// One raw serial read of at most `count` bytes (signature capture), set-aside bytes first.
int ReadSerialRaw(std::uint8_t* buffer, std::size_t count) noexcept;

// ---- Polling loops --------------------------------------------------------------------

// Runs `read` with the link held, but only when no command wants the link; returns false
// (without running it) otherwise. A loop calls this for each single read, so a command
// from another thread always finds the link free within one read.
template <class F>
bool WithIdleLink(F&& read) {
  if (LinkBusy()) return false;
  std::lock_guard<std::mutex> lock(LinkLock());
  if (LinkBusy()) return false;  // a command raised the flag while we took the lock
  read();
  return true;
}

// ---- The command pattern ----------------------------------------------------------------

using ReplyHandler = void (*)(void* context, const std::uint8_t* reply, int count);

std::uint8_t RunCommandWith(const CommandBytes& command, const CommandOptions& options,
                            ReplyHandler onSuccess, void* context) noexcept;

// Raises linkBusy, takes the link, waits, composes in commandBuffer, frames, exchanges
// into a cleared 512-byte reply and judges it: 1 on success (after `onSuccess(reply,
// count)` ran with the link still held), else MapReplyStatus of the reply. 99 when the
// command did not fit; 201 when the connection closed while the command waited.
template <class F>
std::uint8_t RunCommand(const CommandBytes& command, const CommandOptions& options,
                        F&& onSuccess) noexcept {
  using Fn = std::remove_reference_t<F>;
  return RunCommandWith(
      command, options,
      [](void* context, const std::uint8_t* reply, int count) {
        (*static_cast<Fn*>(context))(reply, count);
      },
      &onSuccess);
}

inline std::uint8_t RunCommand(const CommandBytes& command,
                               const CommandOptions& options = {}) noexcept {
  return RunCommandWith(command, options, nullptr, nullptr);
}

// Send-only commands (restart, cancel): wait, send without judging a reply, return 1.
// With `exchangeOverHid` the HID side performs the whole exchange and ignores its result
// (restart), otherwise it reads nothing (cancel); serial only writes.
std::uint8_t SendCommand(const CommandBytes& command, bool exchangeOverHid = false) noexcept;

}  // namespace vantorel::link
