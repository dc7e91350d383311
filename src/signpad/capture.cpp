// Signature capture: the start export and its receive loop, the controls of a running
// capture, calibration, and the sign-format blocks.
//
// The loop runs on the thread that called Zelto_StartCapture and calls the application's
// point handler there, never with the link held. It takes the link for one read at a
// time and only while no command wants it, so a command from another thread (or from the
// handler) gets its own reply.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "link/command.h"
#include "link/modes.h"
#include "link/reply_ownership.h"
#include "link/trace.h"
#include "signpad/point_decoder.h"
#include "signpad/signpad_link.h"
#include "vantorel.h"

namespace vantorel::signpad {
namespace {

using link::Command;
using link::CommandBytes;
constexpr std::uint8_t kMaxFormat = 5;

// Serial: one raw read fills the assembly area behind the carry (15 packets at most).
constexpr std::size_t kSerialAssembly = 75;
// HID: one joined message; only 5 to 64 bytes carry packets, 4 bytes are an event.
constexpr std::size_t kHidReadArea = 76;
constexpr int kHidMessageLimit = 64;
constexpr int kEventLength = 4;
// Values of one decoded run; a serial read holds 15 packets, an HID message 13.
constexpr std::size_t kDecodeArea = 30;
// HID deliveries are batched until 15 points are collected or a run starts with a pen-up.
// Below the threshold plus one run of 13 packets: never more than 55 values.
constexpr std::size_t kBatchCapacity = 72;
constexpr int kBatchThreshold = 30;

constexpr std::size_t kSignFormatWork = 240000;
constexpr std::size_t kSignFormatMaxData = kSignFormatWork - 3 - link::kLongFrameOverhead;

std::atomic<VantorelPointHandler> pointHandler{nullptr};
std::atomic<void*> pointContext{nullptr};

// The frame for a sign-format block, composed and sent under signFormatMutex: two calls from
// two threads must not compose into it at once.
std::array<std::uint8_t, kSignFormatWork> signFormatWork;
std::mutex signFormatMutex;

// The handler and its context are read afresh for every delivery: the application may
// register another one while a capture runs. Without a handler there is nobody to tell.
void Deliver(const int* values, int count) {
  const VantorelPointHandler handler = pointHandler.load();
  if (handler == nullptr) return;
  handler(values, count, pointContext.load());
}

class ReceiveLoop {
 public:
  ReceiveLoop(int format, link::PollingMode::Ticket ticket) : format_(format), ticket_(ticket) {}

  void Run() {
    const bool hid = link::State().linkIsHid.load() != 0;
    do {
      if (hid) {
        HidTurn();
      } else {
        SerialTurn();
      }
    } while (Capturing());
    // Points the pen wrote before the capture ended are the application's too.
    FlushBatch();
  }

 private:
  // A loop whose capture was replaced leaves even when the new capture already raised
  // captureActive again before the old loop looked.
  bool Capturing() const { return link::State().capture.Current(ticket_); }

  // One read with the link held; false when a command holds or wants the link, or the
  // capture ended (checked with the link held: a new start takes the link to begin, so its
  // pen data is never read here). A read that found nothing, or a link busy with a command,
  // is followed by a short yield, so that a dead device or a long command never turns the
  // loop into a busy spin.
  template <class Read>
  bool ReadOnce(Read&& read) {
    bool didRead = false;
    const bool idle = link::WithIdleLink([&] {
      if (!Capturing()) return;
      read();
      didRead = true;
    });
    if (!idle) link::Pause(link::kCaptureYield);
    return didRead;
  }

  void SerialTurn() {
    int n = 0;
    if (!ReadOnce([&] {
          n = link::ReadSerialRaw(assembly_.data() + carry_, kSerialAssembly - carry_);
        })) {
      return;
    }
    if (n <= 0) {
      link::Pause(link::kCaptureYield);
      return;
    }
    const int count = Decode(carry_ + static_cast<std::size_t>(n));
    if (count > 0) Deliver(decode_.data(), count);
  }

  void HidTurn() {
    int n = 0;
    if (!ReadOnce(
            [&] { n = link::ReadMessage(read_.data(), read_.size(), link::kHidPointWait); })) {
      return;
    }
    if (n == kEventLength && read_[0] == link::kSignatureClass) {
      DeliverEvent();
      return;
    }
    // A frame is no pen data (a reply nobody waited for): dropped whole, the carry stays.
    if (n <= kEventLength || n > kHidMessageLimit || read_[0] == link::kStx) {
      if (n <= 0) link::Pause(link::kCaptureYield);
      return;
    }
    std::memcpy(assembly_.data() + carry_, read_.data(), static_cast<std::size_t>(n));
    decode_.fill(0);
    const int count = Decode(carry_ + static_cast<std::size_t>(n));
    if (count > 0) {
      std::copy_n(decode_.begin(), count, batch_.begin() + batchCount_);
      batchCount_ += count;
    }
    // A run that starts with a pen-up ends a stroke: hand the stroke over now.
    if (batchCount_ >= kBatchThreshold || decode_[0] < 0) FlushBatch();
  }

  // Decodes the whole packets of assembly_[0, total) into decode_ and keeps the rest (less
  // than a packet) as the carry; the values to deliver. A run with a packet that is not one of
  // the format's delivers nothing. When the packet after the bad one begins no packet either,
  // a byte was lost or added on the line: the rest of the run is dropped up to the next status
  // byte's packet boundary, so one such byte costs one run, not the rest of the capture. A
  // dropped run is traced.
  int Decode(std::size_t total) {
    const std::size_t whole = total - total % kPacketSize;
    int count = 0;
    if (whole == 0 || pointContext.load() == nullptr ||
        DecodePointPackets(format_, {assembly_.data(), whole}, decode_, count, position_)) {
      KeepCarry(total, whole);
      return format_ == 2 ? DropApproach(decode_, count, approach_) : count;
    }
    std::size_t at = whole;
    const std::size_t failedAt = static_cast<std::size_t>(count / 2) * kPacketSize;
    const std::size_t next = failedAt + kPacketSize;
    if (next < total && !IsStatusByte(format_, assembly_[next])) {
      std::size_t p = failedAt + 1;
      while (p < total && !IsStatusByte(format_, assembly_[p])) ++p;
      // Formats without a decoding have no status byte: their runs fail as they always did.
      if (p < total) at = p + (total - p) / kPacketSize * kPacketSize;
    }
    NoteDropped(at);
    KeepCarry(total, at);
    return 0;
  }

  static void NoteDropped(std::size_t dropped) {
    if (!link::trace::On()) [[likely]]
      return;  // the line is formatted only for the trace
    char text[96];
    std::snprintf(text, sizeof text, "pen data: %zu bytes dropped (lost): a packet was malformed",
                  dropped);
    link::trace::Note(text);
  }

  void DeliverEvent() {
    std::array<int, 2> event{};
    if (read_[1] != 0xFF) {
      event = {122, read_[1]};  // a region was touched
    } else if (read_[3] == 'C') {
      event = {123, 1};
    } else if (read_[3] == 'B') {
      event = {123, 2};
    } else if (read_[3] == 'E') {
      event = {123, 3};
    } else {
      return;
    }
    // Points the pen wrote before the event reach the handler before it.
    FlushBatch();
    Deliver(event.data(), 2);
  }

  void FlushBatch() {
    if (batchCount_ == 0) return;
    Deliver(batch_.data(), batchCount_);
    batchCount_ = 0;
  }

  void KeepCarry(std::size_t total, std::size_t whole) {
    carry_ = total - whole;
    std::memmove(assembly_.data(), assembly_.data() + whole, carry_);
  }

  const int format_;
  const link::PollingMode::Ticket ticket_;
  std::size_t carry_ = 0;
  RelativePosition position_;
  StrokeApproach approach_;
  std::array<std::uint8_t, kHidReadArea> read_{};
  std::array<std::uint8_t, kHidReadArea> assembly_{};
  std::array<int, kDecodeArea> decode_{};
  std::array<int, kBatchCapacity> batch_{};
  int batchCount_ = 0;
};

std::uint8_t Plain(Command command) noexcept {
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  return link::RunCommand(CommandBytes{command});
}

// Commands whose reply data is a 32-bit little-endian number; a reply without all four bytes
// fails rather than reporting its check bytes as the number.
std::uint8_t ReadNumber(Command command, unsigned int* out) noexcept {
  if (!link::LinkIsOpen()) return VANTOREL_NOT_OPEN;
  if (out == nullptr) return VANTOREL_INVALID_ARGUMENT;
  return link::RunCommand(CommandBytes{command}, {}, [&](const link::Reply& reply) {
    if (!reply.Holds(4)) return false;
    *out = reply.U32At(0);
    return true;
  });
}

}  // namespace
}  // namespace vantorel::signpad

using namespace vantorel;
using namespace vantorel::signpad;
using link::Command;
using link::CommandBytes;
using link::LinkIsOpen;

extern "C" unsigned char VANTOREL_CALL Zelto_AddPointHandle(VantorelPointHandler handler,
                                                            void* context) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  pointContext.store(context);
  pointHandler.store(handler);
  return call.Result(VANTOREL_SUCCESS);
}

extern "C" unsigned char VANTOREL_CALL Zelto_StartCapture(
    unsigned char format, unsigned char captureByte1, unsigned char captureByte2,
    unsigned char captureByte3, unsigned char captureByte4, unsigned char captureByte5,
    unsigned char captureByte6, unsigned char captureByte7) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (format > kMaxFormat) return call.Result(VANTOREL_INVALID_ARGUMENT);
  // A capture running on another thread ends with this claim, whatever this start's answer;
  // this one does not begin when a later start superseded it before its answer came.
  link::LoopStart start(link::Mode::kCapture);
  if (const auto rc = start.Claim(); rc != 0) return call.Result(rc);

  CommandBytes command{Command::kStartCapture};
  command.Byte(format).Byte(captureByte1).Byte(captureByte2).Byte(captureByte3);
  command.Byte(captureByte4).Byte(captureByte5).Byte(captureByte6).Byte(captureByte7);

  link::PollingMode::Ticket ticket = 0;
  const std::uint8_t rc = link::RunCommand(
      command, {.wait = link::kNoWait, .exchange = {.startsLoop = true}}, [&](const link::Reply&) {
        start.Listen();
        ticket = start.Begin();
      });
  start.Release();
  if (rc != VANTOREL_SUCCESS) {
    link::State().capture.End();
    return call.Result(rc);
  }
  ReceiveLoop(format, ticket).Run();
  return call.Result(VANTOREL_SUCCESS);
}

extern "C" unsigned char VANTOREL_CALL Zelto_ContinueCapture(void) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(Plain(Command::kContinueCapture));
}

extern "C" unsigned char VANTOREL_CALL Zelto_PauseCapture(unsigned int* value) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(ReadNumber(Command::kPauseCapture, value));
}

extern "C" unsigned char VANTOREL_CALL Zelto_GetPointCount(unsigned int* count) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(ReadNumber(Command::kPointCount, count));
}

extern "C" unsigned char VANTOREL_CALL Zelto_ClearSignature(void) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(Plain(Command::kClearSignature));
}

extern "C" unsigned char VANTOREL_CALL Zelto_CalibrateDevice(void) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  return call.Result(Plain(Command::kCalibrate));
}

extern "C" unsigned char VANTOREL_CALL Zelto_ExitCapture(void) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  return call.Result(link::RunCommand(CommandBytes{Command::kExitCapture}, {},
                                      [](const link::Reply&) { link::State().capture.End(); }));
}

extern "C" unsigned char VANTOREL_CALL Zelto_GetSignFormat(int formatNumber, unsigned char* buffer,
                                                           unsigned int bufferSize,
                                                           unsigned int* length) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (formatNumber < 1 || formatNumber > 4) return call.Result(VANTOREL_INVALID_ARGUMENT);
  // Every reply frame has at least 7 bytes; a smaller buffer could not even be judged.
  if (buffer == nullptr || length == nullptr || bufferSize < 7)
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  const CommandBytes command{Command::kGetSignFormat, static_cast<unsigned>(formatNumber - 1)};
  return call.Result(ReadIntoCallerBuffer(command, buffer, bufferSize, length));
}

extern "C" unsigned char VANTOREL_CALL Zelto_SetSignFormat(int formatNumber,
                                                           const unsigned char* data,
                                                           unsigned int length) noexcept {
  vantorel::link::trace::ExportCall call(__func__);
  if (!LinkIsOpen()) return call.Result(VANTOREL_NOT_OPEN);
  if (formatNumber < 1 || formatNumber > 4) return call.Result(VANTOREL_INVALID_ARGUMENT);
  // The pad's blocks are far smaller than the working buffer; a longer block is refused
  // rather than given an allocation of the caller's choosing.
  if (length > kSignFormatMaxData || (length != 0 && data == nullptr)) {
    return call.Result(VANTOREL_INVALID_ARGUMENT);
  }
  const CommandBytes head{Command::kSetSignFormat, static_cast<unsigned>(formatNumber - 1)};
  std::lock_guard<std::mutex> lock(signFormatMutex);
  return call.Result(SendLargeCommand({head.data(), head.size()}, {data, length}, signFormatWork));
}
