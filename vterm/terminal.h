// vterm::Terminal: the terminal's side of the protocol, independent of any transport.
//
// A front end (PtyFrontEnd, HidFrontEnd, or a test) feeds the bytes the host sent into
// Receive() in any chunking and takes the terminal's output, one whole message at a time
// (a reply frame or an unsolicited message), through the sink it installs with SetSink().
//
// Receiving. Frames are STX, length, content, XOR, sum, ETX with a 2-byte length, or a
// 3-byte length for content above 0xFFFE bytes. The short reading is tried first; when its
// check bytes fail and the 3-byte reading gives a length a host could mean (0xFFFF up to
// kMaxLongContent), the terminal waits for the long frame instead. Bytes before an STX are
// skipped. A frame that stops arriving for kStallMs is dropped and the search for the next
// STX starts behind its STX. Every frame is verified: a frame with a bad XOR, sum or ETX is
// answered with a NAK carrying kStatusBadFrame.
//
// Answering. Valid frames are dispatched by (class, function, sub-command) to handlers
// registered with Register(), or by (class, function) to a RegisterFunction() handler when
// no exact handler exists. A command nobody handles, or with fewer than 3 bytes, gets a NAK
// with kStatusUnknownCommand. Handlers run with the terminal's lock held (it is recursive:
// they may call any Terminal member) on the thread that called Receive().
//
// Output is one ordered stream: a message waits for every earlier one, so a late reply
// (Misbehave) also holds back what follows it, as a busy terminal would.
//
// Lifetime: a front end holds a reference to its terminal; destroy it first.
//
// Device families live in Modules (device.h for the device commands); each registers its
// handlers in Install() and keeps its own state under the terminal's lock.
#pragma once

#include <chrono>
#include <compare>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "vterm/frame_codec.h"

namespace vterm {

using Clock = std::chrono::steady_clock;

// Status codes of the terminal's own refusals (the host maps them to 101, 100 and 99).
inline constexpr std::uint8_t kStatusBadFrame = 0xEE;        // XOR, sum or ETX wrong
inline constexpr std::uint8_t kStatusUnknownCommand = 0xEC;  // no handler for the command
inline constexpr std::uint8_t kStatusBadParameter = 0xE1;    // parameters of wrong size/value

// A partial frame that receives nothing for this long is dropped.
inline constexpr int kStallMs = 200;
// How long a restart keeps the terminal away (off the bus over HID, deaf over serial).
inline constexpr int kDefaultRestartMs = 300;

struct CommandKey {
  std::uint8_t cls = 0;
  std::uint8_t fn = 0;
  std::uint8_t sub = 0;
  auto operator<=>(const CommandKey&) const = default;
};

// The content of a received frame: class, function, sub-command, parameters.
struct Command {
  Bytes bytes;

  bool HasHeader() const { return bytes.size() >= 3; }
  std::uint8_t Class() const { return bytes.size() > 0 ? bytes[0] : 0; }
  std::uint8_t Function() const { return bytes.size() > 1 ? bytes[1] : 0; }
  std::uint8_t Sub() const { return bytes.size() > 2 ? bytes[2] : 0; }
  CommandKey Key() const { return {Class(), Function(), Sub()}; }
  // The bytes after the sub-command (empty when there are none).
  std::span<const std::uint8_t> Params() const {
    return bytes.size() > 3 ? std::span<const std::uint8_t>(bytes).subspan(3)
                            : std::span<const std::uint8_t>();
  }
};

// What a handler answers.
class Response {
 public:
  enum class Kind { kAck, kNak, kNone, kRaw };

  // Reply frame over {ACK, data...}; the long layout once the content passes 0xFFFF bytes.
  static Response Ack(Bytes data = {});
  static Response Ack(std::string_view text);
  // Reply frame over {NAK, status}.
  static Response Nak(std::uint8_t status);
  // No reply at all.
  static Response None();
  // These exact bytes, unframed.
  static Response Raw(Bytes wire);

  Kind kind() const { return kind_; }
  const Bytes& data() const { return data_; }  // ACK data, or the raw bytes
  std::uint8_t status() const { return status_; }
  // The bytes that go out; empty for None.
  Bytes Wire() const;

 private:
  Kind kind_ = Kind::kNone;
  Bytes data_;
  std::uint8_t status_ = 0;
};

enum class FrameError {
  kNone,
  kBadEtx,  // no ETX where the length says the frame ends
  kBadXor,
  kBadSum,
  kIncomplete,  // stopped arriving (kStallMs) before the length was complete
};

// One frame as the terminal received it, valid or not.
struct ReceivedFrame {
  std::uint64_t seq = 0;  // 1, 2, ... over the terminal's life (not reset by ClearFrames)
  Bytes raw;              // the exact bytes from STX on
  bool longLayout = false;
  FrameError error = FrameError::kNone;
  Command command;  // the content (for an incomplete frame: what arrived of it)
  Clock::time_point at;

  bool valid() const { return error == FrameError::kNone; }
};

enum class Origin { kReply, kPush };

// One message the terminal handed to its sink.
struct SentMessage {
  Bytes bytes;
  Origin origin = Origin::kReply;
  std::uint64_t frameSeq = 0;  // the frame answered (0 for pushed messages)
  Clock::time_point at;
};

// Misbehaviour for the next `count` commands (valid frames; bad frames are always NAKed).
//  kRefuse  - the command is not carried out; NAK with `status`.
//  kSilent  - the command is lost: not carried out, no reply.
//  kLate    - carried out; the reply leaves `delayMs` later (and holds back later output).
//  kShort   - carried out; only the first `keepBytes` bytes of the reply leave.
//  kGarbage - carried out; `garbageLength` pseudo-random bytes leave instead of the reply
//             (also for a command that has no reply). Garbage never starts with STX, never
//             has ACK at offset 3 and never carries a status the host knows at offset 4, so
//             a host reads it as a failure without a status.
//  kSplit   - carried out; the reply leaves in two pieces: the first `splitAt` bytes
//             `delayMs` after the command arrived, the rest `delayMs` + `gapMs` after it. Over HID
//             the first piece's reports all carry the continuation bit, so the host joins both into
//             one reply.
// `skip` matching commands pass normally first; with `only` set, just that command matches.
enum class Fault { kNone, kRefuse, kSilent, kLate, kShort, kGarbage, kSplit };

struct Misbehaviour {
  Fault fault = Fault::kNone;
  int count = 1;
  int skip = 0;
  std::optional<CommandKey> only;
  std::uint8_t status = 0xE8;
  int delayMs = 0;
  std::size_t keepBytes = 0;
  std::size_t garbageLength = 8;
  std::size_t splitAt = 0;
  int gapMs = 0;
};

class Terminal;

// A device family of the terminal: registers its handlers and owns its state.
class Module {
 public:
  virtual ~Module() = default;
  // Called once, with the terminal's lock held.
  virtual void Install(Terminal& terminal) = 0;
  // The terminal restarted: drop what a power cycle loses. Lock held.
  virtual void Restart() {}
};

class DeviceModule;

class Terminal {
 public:
  using Handler = std::function<Response(Terminal&, const Command&)>;
  // Receives each outgoing message whole. Called with the terminal's lock held, from
  // Receive()'s thread or the terminal's timer thread: it must not block and must not call
  // back into the terminal.
  using Sink = std::function<void(const Bytes&)>;
  // The same, told whether more of the message follows (a split reply, see kSplit): a
  // front end that frames messages itself (HID reports) keeps them joined.
  using PieceSink = std::function<void(const Bytes&, bool more)>;
  using RestartListener = std::function<void(int durationMs)>;
  // Observers of the traffic, told of each frame as it is recorded and of each message as
  // it leaves. Called with the lock held: like the sink, they must not block and must not
  // call back into the terminal.
  using FrameListener = std::function<void(const ReceivedFrame&)>;
  using SentListener = std::function<void(const SentMessage&)>;

  // Installs the DeviceModule.
  Terminal();
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Bytes from the host, any chunking.
  void Receive(const std::uint8_t* bytes, std::size_t n);
  void Receive(std::span<const std::uint8_t> bytes) { Receive(bytes.data(), bytes.size()); }

  // Handlers; a later registration for the same key replaces the earlier one.
  void Register(std::uint8_t cls, std::uint8_t fn, std::uint8_t sub, Handler handler);
  void RegisterFunction(std::uint8_t cls, std::uint8_t fn, Handler handler);

  // Modules: constructs, installs and keeps one; Get finds it (throws std::logic_error
  // when absent).
  template <class M, class... Args>
  M& Add(Args&&... args) {
    auto lock = Lock();
    auto module = std::make_unique<M>(std::forward<Args>(args)...);
    M& ref = *module;
    modules_.push_back(std::move(module));
    ref.Install(*this);
    return ref;
  }
  template <class M>
  M& Get() const {
    auto lock = Lock();
    for (const auto& m : modules_) {
      if (auto* p = dynamic_cast<M*>(m.get())) return *p;
    }
    throw std::logic_error("vterm: module not installed");
  }
  DeviceModule& Device() const { return *device_; }

  // One front end at a time; an empty sink drops the output. Each replaces the other.
  void SetSink(Sink sink);
  void SetPieceSink(PieceSink sink);

  // Recording.
  std::vector<ReceivedFrame> Frames() const;
  // The content of every valid frame, in order.
  std::vector<Bytes> Commands() const;
  void ClearFrames();
  // True once at least `count` frames are recorded (since the last ClearFrames).
  bool WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;
  // The first recorded frame with a sequence number above `afterSeq`, waiting up to
  // `timeout` for one to arrive; none when the time runs out (or it was cleared away).
  std::optional<ReceivedFrame> NextFrame(std::uint64_t afterSeq,
                                         std::chrono::milliseconds timeout) const;
  std::vector<SentMessage> Sent() const;
  void ClearSent();
  bool WaitForSent(std::size_t count, std::chrono::milliseconds timeout) const;
  // Bytes skipped while looking for an STX, or dropped during a restart.
  std::size_t GarbageBytes() const;
  // Whether output is still held back (a late reply, a delayed push) for its due time.
  bool OutputPending() const;

  // Misbehaviour (replaces the one in force).
  void Misbehave(const Misbehaviour& m);
  void RefuseNext(int count, std::uint8_t status);
  void SilenceNext(int count);
  void DelayNext(int count, int delayMs);
  void TruncateNext(int count, std::size_t keepBytes);
  void GarbleNext(int count, std::size_t length);
  void SplitNext(int count, std::size_t splitAt, int gapMs, int delayMs = 0);
  void BehaveNormally();
  // Commands still to be affected by the misbehaviour in force.
  int MisbehaviourLeft() const;
  // How long every command takes to carry out before its reply leaves (0: none), until
  // changed; a misbehaviour's own delay comes on top. A slow terminal.
  void SetProcessingDelay(int ms);
  int ProcessingDelay() const;

  // Unsolicited messages: each leaves as one unit, in order with the replies.
  void Push(Bytes message);
  void PushAfter(int delayMs, Bytes message);
  // Runs `task` on the timer thread after `delayMs`, lock held. Returns an id for Cancel.
  std::uint64_t Schedule(int delayMs, std::function<void(Terminal&)> task);
  bool Cancel(std::uint64_t id);

  // Restart: modules drop volatile state, pending output, scheduled tasks and half-received
  // frames are lost, the front ends are told (HID leaves the bus) and input is ignored for
  // the restart duration.
  void Restart();
  int RestartCount() const;
  void SetRestartDuration(int ms);
  bool Restarting() const;
  int AddRestartListener(RestartListener listener);
  void RemoveRestartListener(int id);
  int AddTrafficListener(FrameListener onFrame, SentListener onSent);
  void RemoveTrafficListener(int id);

  std::unique_lock<std::recursive_mutex> Lock() const {
    return std::unique_lock<std::recursive_mutex>(mutex_);
  }

 private:
  struct Pending {
    Clock::time_point due;
    Bytes bytes;
    Origin origin;
    std::uint64_t frameSeq;
    bool more = false;  // the first piece of a split message
  };
  struct Task {
    Clock::time_point due;
    std::function<void(Terminal&)> fn;
  };

  void ParseLocked(Clock::time_point now);
  void DropStalledLocked(Clock::time_point now);
  void TakeFrameLocked(std::size_t length, bool longLayout, FrameError error,
                       std::size_t contentOffset, std::size_t contentLength);
  void DispatchLocked(const ReceivedFrame& frame);
  void EmitLocked(Bytes bytes, Origin origin, std::uint64_t frameSeq, Clock::time_point due,
                  bool more = false);
  void DeliverLocked(Pending&& p);
  void RecordFrameLocked(ReceivedFrame frame);
  Bytes GarbageLocked(std::size_t length);
  void TimerLoop();

  mutable std::recursive_mutex mutex_;
  mutable std::condition_variable_any recordCv_;
  std::condition_variable_any timerCv_;

  std::map<CommandKey, Handler> handlers_;
  std::map<std::pair<std::uint8_t, std::uint8_t>, Handler> functionHandlers_;
  std::vector<std::unique_ptr<Module>> modules_;
  DeviceModule* device_ = nullptr;
  Sink sink_;
  PieceSink pieceSink_;

  Bytes rx_;
  std::size_t awaitLong_ = 0;  // frame size rx_ must reach before parsing again (0: none)
  Clock::time_point lastRx_;
  std::uint64_t nextSeq_ = 1;
  std::vector<ReceivedFrame> frames_;
  std::vector<SentMessage> sent_;
  std::size_t garbage_ = 0;

  Misbehaviour misbehaviour_;
  int processingDelayMs_ = 0;
  std::mt19937 rng_{0x5EEDu};

  std::vector<Pending> out_;  // in order; due times never decrease
  std::map<std::uint64_t, Task> tasks_;
  std::uint64_t nextTaskId_ = 1;

  int restartCount_ = 0;
  int restartMs_ = kDefaultRestartMs;
  Clock::time_point restartUntil_;
  std::map<int, RestartListener> restartListeners_;
  std::map<int, std::pair<FrameListener, SentListener>> trafficListeners_;
  int nextListenerId_ = 1;

  bool stop_ = false;
  std::thread timer_;
};

}  // namespace vterm
