// The trace: one line per event (frames sent and received, OS errors, devices looked at,
// return codes) to standard error or a file, chosen by VANTOREL_TRACE when the library is
// loaded ("stderr", or a path; unset or empty: off).
//
// Off, every hook costs one relaxed atomic load: call sites test On() before doing any work.
// Secrets never reach a line: frames of PIN-pad entries, key loading and encrypted data, and
// everything the terminal sends by itself outside a signature capture, show only their
// length.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vantorel::link::trace {

namespace detail {
extern std::atomic<bool> enabled;
}

inline bool On() noexcept {
  return detail::enabled.load(std::memory_order_relaxed);
}

// Switches the trace to `target` ("stderr", a path, or null/empty for off). The library does
// this once at load with VANTOREL_TRACE; tests may call it again.
void Configure(const char* target) noexcept;

// Names the export that the calling thread runs, for the lines that follow; restores the
// previous name when it ends. Exports that go through the command helper need none.
class ExportScope {
 public:
  explicit ExportScope(const char* exportName) noexcept : active_(On()) {
    if (active_) [[unlikely]]
      previous_ = Enter(exportName);
  }
  ~ExportScope() {
    if (active_) [[unlikely]]
      Leave(previous_);
  }
  ExportScope(const ExportScope&) = delete;
  ExportScope& operator=(const ExportScope&) = delete;

 private:
  static const char* Enter(const char* exportName) noexcept;
  static void Leave(const char* previous) noexcept;
  bool active_;
  const char* previous_ = nullptr;
};

// A frame written to the terminal. Its data bytes appear unless the command carries secrets.
void FrameSent(const std::uint8_t* frame, std::size_t length) noexcept;
// The reply to `sentFrame` (null when unknown), `count` bytes (0: nothing arrived).
void ReplyReceived(const std::uint8_t* sentFrame, std::size_t sentLength, const std::uint8_t* reply,
                   int count) noexcept;
// Bytes the terminal sent by itself (capture, secure reading, entries).
void MessageReceived(const std::uint8_t* message, int count) noexcept;
// One call of the command helper: names the lines that follow after the export that called
// it (from a compiler's function name, unless an ExportScope named it already) and traces
// its return code.
class CallScope {
 public:
  explicit CallScope(const char* function) noexcept;
  ~CallScope();
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;
  void Result(std::uint8_t rc) noexcept;

 private:
  char name_[64];
  const char* previous_;
};
// An OS call that failed on `path`: "open /dev/ttyUSB0: Permission denied". `hint` (may be
// null) follows after " — ".
void OsError(const char* call, const char* path, const char* systemMessage,
             const char* hint = nullptr) noexcept;
// Free text (a device looked at and why it was skipped).
void Note(const char* text) noexcept;

#if defined(_WIN32)
// OsError with the system's own message for a GetLastError code (trace_win32.cpp).
void OsErrorCode(const char* call, const char* path, unsigned long code,
                 const char* hint = nullptr) noexcept;
#endif

// ---- Pure decisions, exposed for tests ------------------------------------------------

// Whether a command's own data bytes may be shown (`command` starts with class, function,
// sub-command).
bool MayShowCommand(const std::uint8_t* command, std::size_t length) noexcept;
// Whether the reply to `command` may be shown, given whether a secret-carrying mode (PIN-pad
// entry, secure reading) is in force.
bool MayShowReply(const std::uint8_t* command, std::size_t commandLength, const std::uint8_t* reply,
                  int count, bool secretModeActive) noexcept;
// "Brixa_GetVersion" from "unsigned char Brixa_GetVersion(char*, int*)".
void ShortFunctionName(const char* function, char* out, std::size_t outSize) noexcept;
// The meaning of a return code.
const char* ReturnCodeMeaning(std::uint8_t rc) noexcept;

}  // namespace vantorel::link::trace
