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
#include <span>
#include <type_traits>

#include "link/byte_writer.h"
#include "link/command_catalogue.h"
#include "link/frame.h"
#include "link/link_state.h"
#include "link/timing.h"
#include "vantorel.h"

namespace vantorel::link {

// Class, function, sub-command and parameters, composed to fit the command buffer together
// with the short frame's six bytes.
class CommandBytes : public ByteWriter<kCommandBufferSize - kShortFrameOverhead> {
 public:
  // A catalogue command; `index` (below its subCount) picks one of its sub-commands: the sign
  // format, the entry mode.
  explicit CommandBytes(Command command, unsigned index = 0) noexcept {
    const CatalogueEntry& e = Entry(command);
    Byte(e.commandClass).Byte(static_cast<std::uint8_t>(e.function));
    Byte(static_cast<std::uint8_t>(e.subCommand + index));
  }
  // A command of a family table (the reader settings): class, function and sub-command.
  CommandBytes(std::uint8_t commandClass, std::uint8_t function, std::uint8_t sub) noexcept {
    Byte(commandClass).Byte(function).Byte(sub);
  }
};

// Commands sent from more than one place: the open handshake and an export.
inline CommandBytes VersionQuery() noexcept {
  return CommandBytes{Command::kVersion};
}
inline CommandBytes SecureHeadSwitch(bool on) noexcept {
  CommandBytes command{Command::kSecureHeadSwitch};
  command.Byte(0x01).Byte(on ? '1' : '0');
  return command;
}

// How a command's reply is read.
struct ExchangeOptions {
  std::size_t serialLimit = kReplySize;  // limit of the serial reply read
  Millis hidTimeout = kHidReplyTimeout;  // wait for each input report
  Millis serialWait = kSerialReplyWait;  // pause between serial write and read
  // The reply may come as a long frame and is judged in either layout (picture and
  // sign-format reads).
  bool longToo = false;
  // A missing reply may still come and is then dropped (not for a restart: the terminal
  // loses its output when it goes down).
  bool replyMayComeLate = true;
  // The command starts a polling loop: bytes that follow its reply in the same read are the
  // loop's (a fast answer, the first pen packets), kept for it until it listens.
  bool startsLoop = false;
  // A reply larger than the reply area is not cut to what fits but read to its end (over HID
  // its last report, over serial as far as its first bytes say it goes) and dropped: the
  // area is cleared and 0 returned, which judges as a failure. For replies whose data go to
  // the caller: nothing reaches the caller rather than the part that fit.
  bool wholeReply = false;
  // A polling loop's own exchange (the reading loop's key poll): see SettleInput.
  bool forLoop = false;
};

// What becomes of the terminal's answer.
enum class ReplyUse : std::uint8_t {
  kJudged,          // judged under `accept`; the success handler runs on an acknowledgement
  kHandedOn,        // whatever arrived (perhaps nothing) goes to the handler unjudged; result 1
  kDroppedOverHid,  // over HID read and ignored, over serial not read (restart); result 1
  kNotRead,         // only written (cancel); result 1
};

struct CommandOptions {
  Accept accept = Accept::Ack;
  Millis wait = kCommandWait;  // after raising linkBusy, before the write
  ReplyUse reply = ReplyUse::kJudged;
  // The caller holds the link and has judged the connection itself: the open handshakes
  // (the connection is not open yet) and a polling loop's own exchange (inside WithIdleLink).
  bool linkHeld = false;
  ExchangeOptions exchange{};
  // Where the reply is read, its size the limit; empty: a 512-byte area of the helper.
  std::span<std::uint8_t> replyArea{};
  // Runs with the link still held once the exchange is over, whatever the answer.
  void (*afterExchange)() = nullptr;
  // Asked with the link held, right before the write: false sends nothing and the command
  // returns 1 (a start whose loop was ended before it began, such as a switch-on overtaken
  // by a switch-off, must not reach the terminal after it).
  bool (*proceed)(const void* context) = nullptr;
  const void* proceedContext = nullptr;
  // Records why the reply is no acknowledgement (the open handshakes say it in their own
  // words); null: the command's first three bytes name it in the cause.
  void (*noteUnacknowledged)(const Reply& reply, int received) noexcept = nullptr;
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
// is cleared first so that bytes that did not arrive read as 0; with no `reply` only writes
// (over HID after opening the device as any exchange does). The bytes received (0 when
// nothing arrived, nothing was read or a read failed). Input that waited before the write is
// settled first and the reply is carved out of what the read collected (reply_ownership.h).
int Exchange(const std::uint8_t* frame, std::size_t frameLength, std::uint8_t* reply,
             std::size_t replyCapacity, const ExchangeOptions& options = {}) noexcept;

// The connection's device as a cause names it: the serial device's path, or the HID
// device's ids. Written to `out` (always terminated); returns `out`.
inline constexpr std::size_t kDeviceNameSize = 272;  // a serial path and its terminator fit
const char* LinkDeviceName(char* out, std::size_t outSize) noexcept;

// Records why `reply` (`received` bytes) is no acknowledgement of `what` ("the open
// handshake", "the command 78 46 01"): no answer, a refusal and its status, or bytes that
// are no reply. A cause the transport recorded first (a vanished device) stays.
void NoteUnacknowledged(const Reply& reply, int received, const char* what) noexcept;

// Reads one message the terminal sent by itself: over HID the joined input reports (those
// kept from an earlier handle first), over serial what a command set aside for the loop,
// else a whole read. An owed late reply is removed. The bytes stored (0 when nothing came or
// a read failed).
int ReadMessage(std::uint8_t* buffer, std::size_t maxLength, Millis hidTimeout) noexcept;

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

// Reads the fields of an acknowledged reply; false when the reply lacks them.
using ReplyHandler = bool (*)(void* context, const Reply& reply);

// What goes out: a command composed in commandBuffer under the link lock, or a frame built
// elsewhere (one larger than commandBuffer).
struct Outgoing {
  const CommandBytes* command = nullptr;
  std::span<const std::uint8_t> frame{};
};

std::uint8_t RunCommandWith(const Outgoing& outgoing, const CommandOptions& options,
                            ReplyHandler onSuccess, void* context) noexcept;

template <class F>
ReplyHandler HandlerFor() noexcept {
  return [](void* context, const Reply& reply) {
    using Fn = std::remove_reference_t<F>;
    Fn& fn = *static_cast<Fn*>(context);
    if constexpr (std::is_void_v<std::invoke_result_t<Fn&, const Reply&>>) {
      fn(reply);
      return true;
    } else {
      return static_cast<bool>(fn(reply));
    }
  };
}

// The one command path, for every command: exports, the open handshakes, a loop's key poll,
// the send-only restart and cancel. Raises linkBusy, takes the link (unless `linkHeld`),
// waits, composes and frames in commandBuffer (or takes the frame given), exchanges into the
// cleared reply area (or only writes: `reply`), runs afterExchange, and judges the reply: 1
// on success (after `onSuccess(reply)` ran with the link still held), else the reply's
// Status(). An `onSuccess` that returns false
// (an acknowledged reply too short for the fields it reads) makes the result 0, so garbage
// is never reported as a value. 99 when the command did not fit; 201 when the connection
// closed while the command waited.
template <class F>
std::uint8_t RunCommand(const CommandBytes& command, const CommandOptions& options,
                        F&& onSuccess) noexcept {
  return RunCommandWith({&command, {}}, options, HandlerFor<F>(), &onSuccess);
}

inline std::uint8_t RunCommand(const CommandBytes& command,
                               const CommandOptions& options = {}) noexcept {
  return RunCommandWith({&command, {}}, options, nullptr, nullptr);
}

// An ordinary command with one parameter byte: 201 when no connection is open.
inline std::uint8_t RunByteCommand(Command command, std::uint8_t value) noexcept {
  if (!LinkIsOpen()) return VANTOREL_NOT_OPEN;
  CommandBytes bytes{command};
  bytes.Byte(value);
  return RunCommand(bytes);
}

// The same for a frame built outside commandBuffer.
template <class F>
std::uint8_t RunFrame(std::span<const std::uint8_t> frame, const CommandOptions& options,
                      F&& onSuccess) noexcept {
  return RunCommandWith({nullptr, frame}, options, HandlerFor<F>(), &onSuccess);
}
inline std::uint8_t RunFrame(std::span<const std::uint8_t> frame,
                             const CommandOptions& options = {}) noexcept {
  return RunCommandWith({nullptr, frame}, options, nullptr, nullptr);
}

}  // namespace vantorel::link
