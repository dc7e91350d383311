// The trace: one line per event (frames sent and received, OS errors, devices looked at,
// return codes) to standard error or a file, chosen by VANTOREL_TRACE when the library is
// loaded ("stderr" or a switch word "1"/"on"/"yes"/"true": standard error; a path: that file;
// unset, empty or "0"/"off"/"no"/"false": off).
//
// Off, every hook costs one relaxed atomic load: each tests On() itself. A call site tests it
// only to skip formatting a line (snprintf, strings) that nobody would read.
// Secrets never reach a line: frames of PIN-pad entries, key loading and encrypted data (the
// command catalogue says which), every reply while a secret-carrying mode is claimed or
// running, and everything the terminal sends by itself outside a signature capture, show only
// their length.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "link/last_error.h"

namespace vantorel::link::trace {

namespace detail {
extern std::atomic<bool> enabled;
}

inline bool On() noexcept {
  return detail::enabled.load(std::memory_order_relaxed);
}

// Switches the trace to `target` (as VANTOREL_TRACE above; null is off). The library does
// this once at load with VANTOREL_TRACE; tests may call it again.
void Configure(const char* target) noexcept;

// The record of one export call: the first statement of every export, and every return of
// the export goes through Result(). While it lives it names the export in the lines that
// follow on this thread (a nested export, such as a callback calling another export, names
// itself and then gives the name back); when it ends it traces the code the export returned
// with its meaning. Off, it costs one relaxed load and a branch.
class ExportCall {
 public:
  explicit ExportCall(const char* exportName) noexcept : active_(On()) {
    last_error::Begin();
    if (active_) [[unlikely]]
      previous_ = Enter(exportName);
  }
  ~ExportCall() {
    if (active_) [[unlikely]]
      Leave(previous_, rc_, recorded_);
  }
  ExportCall(const ExportCall&) = delete;
  ExportCall& operator=(const ExportCall&) = delete;

  // The export's return code, passed through: `return call.Result(rc);`.
  std::uint8_t Result(std::uint8_t rc) noexcept {
    last_error::Record(rc);
    rc_ = rc;
    recorded_ = true;
    return rc;
  }

 private:
  static const char* Enter(const char* exportName) noexcept;
  static void Leave(const char* previous, std::uint8_t rc, bool recorded) noexcept;
  bool active_;
  bool recorded_ = false;
  std::uint8_t rc_ = 0;
  const char* previous_ = nullptr;
};

// The hooks below test On() themselves (inline: one relaxed load and a branch when off), so
// call sites just call them; detail:: writes the line.
namespace detail {
void FrameSent(const std::uint8_t* frame, std::size_t length) noexcept;
void ReplyReceived(const std::uint8_t* sentFrame, std::size_t sentLength, const std::uint8_t* reply,
                   int count) noexcept;
void MessageReceived(const std::uint8_t* message, int count) noexcept;
void OsError(const char* call, const char* path, const char* systemMessage,
             const char* hint) noexcept;
void Note(const char* text) noexcept;
#if defined(_WIN32)
void OsErrorCode(const char* call, const char* path, unsigned long code, const char* hint) noexcept;
#endif
}  // namespace detail

// A frame written to the terminal. Its data bytes appear unless the command carries secrets.
inline void FrameSent(const std::uint8_t* frame, std::size_t length) noexcept {
  if (On()) [[unlikely]]
    detail::FrameSent(frame, length);
}
// The reply to `sentFrame` (null when unknown), `count` bytes (0: nothing arrived).
inline void ReplyReceived(const std::uint8_t* sentFrame, std::size_t sentLength,
                          const std::uint8_t* reply, int count) noexcept {
  if (On()) [[unlikely]]
    detail::ReplyReceived(sentFrame, sentLength, reply, count);
}
// Bytes the terminal sent by itself (capture, secure reading, entries).
inline void MessageReceived(const std::uint8_t* message, int count) noexcept {
  if (On()) [[unlikely]]
    detail::MessageReceived(message, count);
}
// An OS call that failed on `path`: "open /dev/ttyUSB0: Permission denied". `hint` (may be
// null) follows after " — ".
inline void OsError(const char* call, const char* path, const char* systemMessage,
                    const char* hint = nullptr) noexcept {
  if (On()) [[unlikely]]
    detail::OsError(call, path, systemMessage, hint);
}
// Free text (a device looked at and why it was skipped).
inline void Note(const char* text) noexcept {
  if (On()) [[unlikely]]
    detail::Note(text);
}

#if defined(_WIN32)
// The system's own one-line text for a GetLastError code, in `out` (always terminated).
const char* WindowsErrorText(unsigned long code, char* out, std::size_t outSize) noexcept;

// OsError with the system's own message for a GetLastError code (trace_win32.cpp).
inline void OsErrorCode(const char* call, const char* path, unsigned long code,
                        const char* hint = nullptr) noexcept {
  if (On()) [[unlikely]]
    detail::OsErrorCode(call, path, code, hint);
}
#endif

// ---- Pure decisions, exposed for tests ------------------------------------------------

// Whether a command's own data bytes may be shown (`command` starts with class, function,
// sub-command).
bool MayShowCommand(const std::uint8_t* command, std::size_t length) noexcept;
// Whether the reply to `command` may be shown, given whether a secret-carrying mode (a PIN-pad,
// manual or encrypted entry, secure reading) is claimed or running: then no reply is shown,
// since a message of that mode may have landed in any read.
bool MayShowReply(const std::uint8_t* command, std::size_t commandLength, const std::uint8_t* reply,
                  int count, bool secretModeActive) noexcept;
// The meaning of a return code.
const char* ReturnCodeMeaning(std::uint8_t rc) noexcept;

}  // namespace vantorel::link::trace
