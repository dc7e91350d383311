#include "link/trace.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "link/command_catalogue.h"
#include "link/frame.h"
#include "link/link_state.h"
#include "link/return_codes.h"
#include "link/timing.h"

namespace vantorel::link::trace {

namespace detail {
constinit std::atomic<bool> enabled{false};
}

namespace {

// Not constinit: not every library makes std::mutex constexpr. Declared before the loader
// below, so it is ready when that runs.
std::mutex sinkMutex;
constinit std::FILE* sink = nullptr;
constinit bool sinkIsFile = false;
constinit std::atomic<int> threadCounter{0};
thread_local const char* currentExport = nullptr;

// Long frames (pictures) show their start only.
constexpr std::size_t kShownBytes = 64;

int ThreadNumber() noexcept {
  thread_local const int number = threadCounter.fetch_add(1) + 1;
  return number;
}

void Emit(const std::string& text) noexcept {
  try {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    std::tm utc{};
#if defined(_WIN32)
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char prefix[96];
    std::snprintf(prefix, sizeof prefix, "%02d:%02d:%02d.%03d T%d %s ", utc.tm_hour, utc.tm_min,
                  utc.tm_sec, static_cast<int>(ms.count()), ThreadNumber(),
                  currentExport != nullptr ? currentExport : "-");
    std::lock_guard<std::mutex> lock(sinkMutex);
    if (sink == nullptr) return;
    std::fputs(prefix, sink);
    std::fputs(text.c_str(), sink);
    std::fputc('\n', sink);
    std::fflush(sink);
  } catch (...) {
    // A trace line is never worth an exception across the API.
  }
}

void AppendHex(std::string& out, const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const std::size_t shown = count < kShownBytes ? count : kShownBytes;
  for (std::size_t i = 0; i < shown; ++i) {
    if (i != 0) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  if (shown < count) out += " ... (" + std::to_string(count - shown) + " more)";
}

// The command bytes inside a frame, short or long layout; null when it is neither.
const std::uint8_t* CommandOf(const std::uint8_t* frame, std::size_t length,
                              std::size_t& commandLength) noexcept {
  commandLength = 0;
  if (frame == nullptr || length < kShortFrameOverhead || frame[0] != kStx) return nullptr;
  const std::size_t shortLength = frame[1] | (std::size_t{frame[2]} << 8);
  if (shortLength + kShortFrameOverhead == length) {
    commandLength = shortLength;
    return frame + 3;
  }
  if (length >= kLongFrameOverhead) {
    const std::size_t longLength = shortLength | (std::size_t{frame[3]} << 16);
    if (longLength + kLongFrameOverhead == length) {
      commandLength = longLength;
      return frame + 4;
    }
  }
  return nullptr;
}

std::string Describe(const std::uint8_t* command, std::size_t length) {
  if (command == nullptr || length < 3) return "[not a command frame]";
  char text[80];
  std::snprintf(text, sizeof text, "[%s %02X, %s %02X, sub %02X]", CommandClassName(command[0]),
                command[0], FunctionName(command[1]), command[1], command[2]);
  return text;
}

// A mode in which secrets flow is claimed or running: a PIN-pad, manual or encrypted entry
// from its start on, secure reading from the head's switch-on to the enable's return. Its
// messages may land in any read, so no read's data is shown meanwhile.
bool SecretModeActive() noexcept {
  const LinkState& s = State();
  return s.pinEntry.Claimed() || s.encryptedEntry.Claimed() || s.reading.Running();
}

}  // namespace

namespace {

bool SameWord(const char* text, const char* word) noexcept {
  for (; *text != '\0' && *word != '\0'; ++text, ++word) {
    const char c = (*text >= 'A' && *text <= 'Z') ? static_cast<char>(*text - 'A' + 'a') : *text;
    if (c != *word) return false;
  }
  return *text == *word;
}

// A switch rather than a path: "1", "on", "yes", "true" mean standard error, "0", "off",
// "no", "false" mean off. Nobody means a trace file named "1" in the working directory.
enum class Switch { kNone, kOn, kOff };
Switch SwitchWord(const char* target) noexcept {
  for (const char* word : {"1", "on", "yes", "true"}) {
    if (SameWord(target, word)) return Switch::kOn;
  }
  for (const char* word : {"0", "off", "no", "false"}) {
    if (SameWord(target, word)) return Switch::kOff;
  }
  return Switch::kNone;
}

}  // namespace

void Configure(const char* target) noexcept {
  std::lock_guard<std::mutex> lock(sinkMutex);
  detail::enabled.store(false);
  if (sinkIsFile && sink != nullptr) std::fclose(sink);
  sink = nullptr;
  sinkIsFile = false;
  if (target == nullptr || *target == '\0') return;
  const Switch word = SwitchWord(target);
  if (word == Switch::kOff) return;
  if (word == Switch::kOn || std::strcmp(target, "stderr") == 0) {
    sink = stderr;
  } else {
    sink = std::fopen(target, "a");
    if (sink == nullptr) {
      std::fprintf(stderr, "vantorel: trace file %s: %s\n", target, std::strerror(errno));
      return;
    }
    sinkIsFile = true;
  }
  detail::enabled.store(true);
}

namespace {
// VANTOREL_TRACE is read once, when the library is loaded; VANTOREL_TIMING right after it,
// so that the trace can tell about a timing value it does not know.
struct LoadTimeConfiguration {
  LoadTimeConfiguration() noexcept {
    Configure(std::getenv("VANTOREL_TRACE"));
    ReadTimingEnvironment();
  }
} loadTimeConfiguration;
}  // namespace

const char* ExportCall::Enter(const char* exportName) noexcept {
  const char* previous = currentExport;
  currentExport = exportName;
  return previous;
}

void ExportCall::Leave(const char* previous, std::uint8_t rc, bool recorded) noexcept {
  char text[128];
  if (recorded) {
    std::snprintf(text, sizeof text, "returned %u (%s)", rc, ReturnCodeMeaning(rc));
  } else {
    std::snprintf(text, sizeof text, "returned without a recorded code");
  }
  Note(text);
  currentExport = previous;
}

bool MayShowCommand(const std::uint8_t* command, std::size_t length) noexcept {
  if (command == nullptr || length < 3) return false;
  return !LookUpCommand(command, length).commandSecret;
}

bool MayShowReply(const std::uint8_t* command, std::size_t commandLength, const std::uint8_t*, int,
                  bool secretModeActive) noexcept {
  if (command == nullptr || commandLength < 3 || secretModeActive) return false;
  return !LookUpCommand(command, commandLength).replySecret;
}

const char* ReturnCodeMeaning(std::uint8_t rc) noexcept {
  return ReturnCodeText(rc);
}

void detail::FrameSent(const std::uint8_t* frame, std::size_t length) noexcept {
  try {
    std::size_t commandLength = 0;
    const std::uint8_t* command = CommandOf(frame, length, commandLength);
    std::string line =
        "sent " + std::to_string(length) + " bytes " + Describe(command, commandLength);
    if (MayShowCommand(command, commandLength)) {
      line += ": ";
      AppendHex(line, frame, length);
    } else {
      line += ": data withheld (" + std::to_string(commandLength) + " command bytes)";
    }
    Emit(line);
  } catch (...) {
  }
}

void detail::ReplyReceived(const std::uint8_t* sentFrame, std::size_t sentLength,
                           const std::uint8_t* reply, int count) noexcept {
  try {
    if (count <= 0) {
      Emit("received nothing");
      return;
    }
    std::string line = "received " + std::to_string(count) + " bytes";
    if (count >= 5 && reply[0] == kStx) {
      if (reply[3] == kAck) {
        line += " [ACK]";
      } else {
        char status[80];
        const std::uint8_t rc = MapReplyStatus(reply);
        std::snprintf(status, sizeof status, " [status %02X: %u, %s]", reply[4], rc,
                      ReturnCodeMeaning(rc));
        line += status;
      }
    } else {
      line += " [not a reply frame]";
    }
    std::size_t commandLength = 0;
    const std::uint8_t* command = CommandOf(sentFrame, sentLength, commandLength);
    if (MayShowReply(command, commandLength, reply, count, SecretModeActive())) {
      line += ": ";
      AppendHex(line, reply, static_cast<std::size_t>(count));
    } else {
      line += ": data withheld";
    }
    Emit(line);
  } catch (...) {
  }
}

void detail::MessageReceived(const std::uint8_t* message, int count) noexcept {
  try {
    if (count <= 0) return;  // polling reads that found nothing are not worth a line
    std::string line = "read " + std::to_string(count) + " bytes the terminal sent by itself";
    // Pen packets are shown; everything else a loop reads (card data, entry results) is not.
    if (State().captureActive.load() != 0 && !SecretModeActive()) {
      line += ": ";
      AppendHex(line, message, static_cast<std::size_t>(count));
    } else {
      line += ": data withheld";
    }
    Emit(line);
  } catch (...) {
  }
}

void detail::OsError(const char* call, const char* path, const char* systemMessage,
                     const char* hint) noexcept {
  try {
    std::string line = std::string(call) + " " + (path != nullptr ? path : "?") + ": " +
                       (systemMessage != nullptr ? systemMessage : "error");
    if (hint != nullptr) line += std::string(" — ") + hint;
    Emit(line);
  } catch (...) {
  }
}

void detail::Note(const char* text) noexcept {
  try {
    Emit(text);
  } catch (...) {
  }
}

}  // namespace vantorel::link::trace
