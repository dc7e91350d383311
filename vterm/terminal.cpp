#include "vterm/terminal.h"

#include <algorithm>

#include "vterm/device.h"

namespace vterm {

namespace {

using std::chrono::milliseconds;

// Statuses a host maps to a return code; garbage must avoid them at offset 4.
bool IsKnownStatus(std::uint8_t s) {
  switch (s) {
    case 0xE1:
    case 0xEC:
    case 0x6A:
    case 0xEE:
    case 0xC1:
    case 0xED:
    case 0x81:
    case 0xE8:
    case 0x18:
    case 0x19:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x0D:
      return true;
    default:
      return false;
  }
}

bool Matches(const Misbehaviour& m, const Command& c) {
  return !m.only || (c.HasHeader() && c.Key() == *m.only);
}

}  // namespace

// --- Response ---------------------------------------------------------------------------

Response Response::Ack(Bytes data) {
  Response r;
  r.kind_ = Kind::kAck;
  r.data_ = std::move(data);
  return r;
}

Response Response::Ack(std::string_view text) {
  return Ack(Bytes(text.begin(), text.end()));
}

Response Response::Nak(std::uint8_t status) {
  Response r;
  r.kind_ = Kind::kNak;
  r.status_ = status;
  return r;
}

Response Response::None() {
  return Response();
}

Response Response::Raw(Bytes wire) {
  Response r;
  r.kind_ = Kind::kRaw;
  r.data_ = std::move(wire);
  return r;
}

Bytes Response::Wire() const {
  switch (kind_) {
    case Kind::kAck:
      return AckFrame(data_);
    case Kind::kNak:
      return NakFrame(status_);
    case Kind::kRaw:
      return data_;
    case Kind::kNone:
      break;
  }
  return {};
}

// --- Terminal ---------------------------------------------------------------------------

Terminal::Terminal() {
  device_ = &Add<DeviceModule>();
  timer_ = std::thread([this] { TimerLoop(); });
}

Terminal::~Terminal() {
  {
    auto lock = Lock();
    stop_ = true;
  }
  timerCv_.notify_all();
  timer_.join();
}

void Terminal::Register(std::uint8_t cls, std::uint8_t fn, std::uint8_t sub, Handler handler) {
  auto lock = Lock();
  handlers_[CommandKey{cls, fn, sub}] = std::move(handler);
}

void Terminal::RegisterFunction(std::uint8_t cls, std::uint8_t fn, Handler handler) {
  auto lock = Lock();
  functionHandlers_[{cls, fn}] = std::move(handler);
}

void Terminal::SetSink(Sink sink) {
  auto lock = Lock();
  sink_ = std::move(sink);
  pieceSink_ = nullptr;
}

void Terminal::SetPieceSink(PieceSink sink) {
  auto lock = Lock();
  pieceSink_ = std::move(sink);
  sink_ = nullptr;
}

void Terminal::Receive(const std::uint8_t* bytes, std::size_t n) {
  if (bytes == nullptr || n == 0) return;
  auto lock = Lock();
  const auto now = Clock::now();
  if (now < restartUntil_) {
    garbage_ += n;  // still booting: nothing listens to the line
    return;
  }
  DropStalledLocked(now);
  rx_.insert(rx_.end(), bytes, bytes + n);
  lastRx_ = now;
  ParseLocked(now);
  timerCv_.notify_all();  // a partial frame now has a stall deadline
}

void Terminal::DropStalledLocked(Clock::time_point now) {
  if (rx_.empty() || now - lastRx_ < milliseconds(kStallMs)) return;
  // rx_ starts with STX here (ParseLocked strips everything before it).
  const std::size_t shortLen = rx_.size() >= 3 ? (rx_[1] | (rx_[2] << 8)) : 0;
  if (rx_.size() >= 3 && rx_.size() >= shortLen + kShortOverhead) {
    // The short reading was complete but failed; the terminal waited for a long frame
    // that never came. Answer the short frame as the bad frame it is.
    const bool etxOk = rx_[shortLen + 5] == kEtx;
    const CheckBytes c = ComputeChecks(std::span<const std::uint8_t>(rx_).subspan(3, shortLen));
    FrameError e = !etxOk                           ? FrameError::kBadEtx
                   : c.xorByte != rx_[shortLen + 3] ? FrameError::kBadXor
                                                    : FrameError::kBadSum;
    TakeFrameLocked(etxOk ? shortLen + kShortOverhead : 1, false, e, 3, shortLen);
  } else {
    // Record what arrived up to the next STX and search again from there.
    auto next = std::find(rx_.begin() + 1, rx_.end(), kStx);
    const std::size_t len = static_cast<std::size_t>(next - rx_.begin());
    ReceivedFrame f;
    f.seq = nextSeq_++;
    f.raw.assign(rx_.begin(), next);
    f.error = FrameError::kIncomplete;
    if (len > 3) f.command.bytes.assign(rx_.begin() + 3, next);
    f.at = now;
    rx_.erase(rx_.begin(), next);
    awaitLong_ = 0;
    RecordFrameLocked(std::move(f));
  }
  ParseLocked(now);
}

void Terminal::ParseLocked(Clock::time_point now) {
  (void)now;
  for (;;) {
    auto stx = std::find(rx_.begin(), rx_.end(), kStx);
    garbage_ += static_cast<std::size_t>(stx - rx_.begin());
    rx_.erase(rx_.begin(), stx);
    if (rx_.size() < 3) return;
    // Judged already: the short reading failed and a long frame is on its way. Skipping
    // the short checks keeps a large frame arriving in small pieces linear.
    if (awaitLong_ != 0 && rx_.size() < awaitLong_) return;

    const std::size_t shortLen = rx_[1] | (rx_[2] << 8);
    if (rx_.size() < shortLen + kShortOverhead) return;  // wait for the rest
    const auto content = [&](std::size_t offset, std::size_t len) {
      return std::span<const std::uint8_t>(rx_).subspan(offset, len);
    };
    const CheckBytes sc = ComputeChecks(content(3, shortLen));
    const bool shortEtx = rx_[shortLen + 5] == kEtx;
    const bool shortXor = sc.xorByte == rx_[shortLen + 3];
    const bool shortSum = sc.sumByte == rx_[shortLen + 4];
    if (shortEtx && shortXor && shortSum) {
      TakeFrameLocked(shortLen + kShortOverhead, false, FrameError::kNone, 3, shortLen);
      continue;
    }

    // A host only sends the long layout for content above 0xFFFE bytes. (rx_ holds at
    // least the 6 bytes of an empty short frame here, so the third length byte is in.)
    {
      const std::size_t longLen = shortLen | (static_cast<std::size_t>(rx_[3]) << 16);
      if (longLen > kHostShortLimit && longLen <= kMaxLongContent) {
        if (rx_.size() < longLen + kLongOverhead) {
          awaitLong_ = longLen + kLongOverhead;  // wait; a stall ends the wait
          return;
        }
        const CheckBytes lc = ComputeChecks(content(4, longLen));
        const bool longEtx = rx_[longLen + 6] == kEtx;
        const bool longXor = lc.xorByte == rx_[longLen + 4];
        const bool longSum = lc.sumByte == rx_[longLen + 5];
        if (longEtx && longXor && longSum) {
          TakeFrameLocked(longLen + kLongOverhead, true, FrameError::kNone, 4, longLen);
          continue;
        }
        if (longEtx && !shortEtx) {
          TakeFrameLocked(longLen + kLongOverhead, true,
                          longXor ? FrameError::kBadSum : FrameError::kBadXor, 4, longLen);
          continue;
        }
      }
    }

    // A bad short frame. With ETX in place the length was right: drop the whole frame.
    // Without it the length is suspect: drop only the STX and search again behind it.
    const FrameError e = !shortEtx   ? FrameError::kBadEtx
                         : !shortXor ? FrameError::kBadXor
                                     : FrameError::kBadSum;
    TakeFrameLocked(shortEtx ? shortLen + kShortOverhead : 1, false, e, 3, shortLen);
  }
}

// Records the frame at the front of rx_, removes `consumed` bytes and answers it. For a
// frame whose ETX is missing only the STX is consumed, but the record shows the bytes the
// length claimed.
void Terminal::TakeFrameLocked(std::size_t consumed, bool longLayout, FrameError error,
                               std::size_t contentOffset, std::size_t contentLength) {
  ReceivedFrame f;
  f.seq = nextSeq_++;
  const std::size_t recorded = contentOffset + contentLength + 3;
  f.raw.assign(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(recorded));
  f.longLayout = longLayout;
  f.error = error;
  f.command.bytes.assign(rx_.begin() + static_cast<std::ptrdiff_t>(contentOffset),
                         rx_.begin() + static_cast<std::ptrdiff_t>(contentOffset + contentLength));
  f.at = Clock::now();
  rx_.erase(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(consumed));
  awaitLong_ = 0;
  RecordFrameLocked(f);
  DispatchLocked(f);
}

void Terminal::DispatchLocked(const ReceivedFrame& frame) {
  const auto now = Clock::now() + milliseconds(processingDelayMs_);
  if (!frame.valid()) {
    EmitLocked(NakFrame(kStatusBadFrame), Origin::kReply, frame.seq, now);
    return;
  }
  const Command& cmd = frame.command;

  Fault fault = Fault::kNone;
  Misbehaviour m = misbehaviour_;
  if (m.fault != Fault::kNone && m.count > 0 && Matches(m, cmd)) {
    if (misbehaviour_.skip > 0) {
      --misbehaviour_.skip;
    } else {
      fault = m.fault;
      if (--misbehaviour_.count <= 0) misbehaviour_ = Misbehaviour{};
    }
  }

  if (fault == Fault::kRefuse) {
    EmitLocked(NakFrame(m.status), Origin::kReply, frame.seq, now);
    return;
  }
  if (fault == Fault::kSilent) return;

  Response response = Response::Nak(kStatusUnknownCommand);
  if (cmd.HasHeader()) {
    const Handler* handler = nullptr;
    if (auto it = handlers_.find(cmd.Key()); it != handlers_.end()) {
      handler = &it->second;
    } else if (auto f = functionHandlers_.find({cmd.Class(), cmd.Function()});
               f != functionHandlers_.end()) {
      handler = &f->second;
    }
    if (handler != nullptr) {
      const Handler h = *handler;  // the handler may register others
      response = h(*this, cmd);
    }
  }

  Bytes wire = response.Wire();
  Clock::time_point due = Clock::now() + milliseconds(processingDelayMs_);
  switch (fault) {
    case Fault::kLate:
      due += milliseconds(m.delayMs);
      break;
    case Fault::kShort:
      wire.resize(std::min(wire.size(), m.keepBytes));
      break;
    case Fault::kGarbage:
      wire = GarbageLocked(m.garbageLength);
      break;
    case Fault::kSplit:
      due += milliseconds(m.delayMs);
      if (m.splitAt > 0 && m.splitAt < wire.size()) {
        Bytes first(wire.begin(), wire.begin() + static_cast<std::ptrdiff_t>(m.splitAt));
        wire.erase(wire.begin(), wire.begin() + static_cast<std::ptrdiff_t>(m.splitAt));
        EmitLocked(std::move(first), Origin::kReply, frame.seq, due, true);
        due += milliseconds(m.gapMs);
      }
      break;
    default:
      break;
  }
  EmitLocked(std::move(wire), Origin::kReply, frame.seq, due);
}

Bytes Terminal::GarbageLocked(std::size_t length) {
  std::uniform_int_distribution<int> dist(0, 255);
  Bytes g(length);
  for (std::size_t i = 0; i < length; ++i) {
    std::uint8_t b;
    do {
      b = static_cast<std::uint8_t>(dist(rng_));
    } while ((i == 0 && b == kStx) || (i == 3 && b == kAck) || (i == 4 && IsKnownStatus(b)));
    g[i] = b;
  }
  return g;
}

void Terminal::EmitLocked(Bytes bytes, Origin origin, std::uint64_t frameSeq, Clock::time_point due,
                          bool more) {
  if (bytes.empty()) return;
  if (!out_.empty()) due = std::max(due, out_.back().due);
  Pending p{due, std::move(bytes), origin, frameSeq, more};
  if (out_.empty() && due <= Clock::now()) {
    DeliverLocked(std::move(p));
    return;
  }
  out_.push_back(std::move(p));
  timerCv_.notify_all();
}

void Terminal::RecordFrameLocked(ReceivedFrame frame) {
  frames_.push_back(std::move(frame));
  recordCv_.notify_all();
  for (const auto& [id, listeners] : trafficListeners_) {
    if (listeners.first) listeners.first(frames_.back());
  }
}

void Terminal::DeliverLocked(Pending&& p) {
  sent_.push_back(SentMessage{p.bytes, p.origin, p.frameSeq, Clock::now()});
  recordCv_.notify_all();
  for (const auto& [id, listeners] : trafficListeners_) {
    if (listeners.second) listeners.second(sent_.back());
  }
  if (pieceSink_) {
    pieceSink_(p.bytes, p.more);
  } else if (sink_) {
    sink_(p.bytes);
  }
}

void Terminal::TimerLoop() {
  auto lock = Lock();
  while (!stop_) {
    const auto now = Clock::now();
    while (!out_.empty() && out_.front().due <= now) {
      Pending p = std::move(out_.front());
      out_.erase(out_.begin());
      DeliverLocked(std::move(p));
    }
    while (!tasks_.empty()) {
      auto it = std::min_element(tasks_.begin(), tasks_.end(), [](const auto& a, const auto& b) {
        return a.second.due < b.second.due;
      });
      if (it->second.due > now) break;
      auto fn = std::move(it->second.fn);
      tasks_.erase(it);
      fn(*this);
    }
    if (!rx_.empty() && now - lastRx_ >= milliseconds(kStallMs)) DropStalledLocked(now);

    auto wake = now + std::chrono::seconds(1);
    if (!out_.empty()) wake = std::min(wake, out_.front().due);
    for (const auto& [id, t] : tasks_) wake = std::min(wake, t.due);
    if (!rx_.empty()) wake = std::min(wake, lastRx_ + milliseconds(kStallMs));
    timerCv_.wait_until(lock, wake);
  }
}

std::vector<ReceivedFrame> Terminal::Frames() const {
  auto lock = Lock();
  return frames_;
}

std::vector<Bytes> Terminal::Commands() const {
  auto lock = Lock();
  std::vector<Bytes> out;
  for (const auto& f : frames_) {
    if (f.valid()) out.push_back(f.command.bytes);
  }
  return out;
}

void Terminal::ClearFrames() {
  auto lock = Lock();
  frames_.clear();
}

std::optional<ReceivedFrame> Terminal::NextFrame(std::uint64_t afterSeq,
                                                 std::chrono::milliseconds timeout) const {
  auto lock = Lock();
  // Frames are recorded in sequence order.
  auto after = [&] {
    return std::upper_bound(frames_.begin(), frames_.end(), afterSeq,
                            [](std::uint64_t seq, const ReceivedFrame& f) { return seq < f.seq; });
  };
  if (!recordCv_.wait_for(lock, timeout, [&] { return after() != frames_.end(); })) return {};
  return *after();
}

bool Terminal::WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const {
  auto lock = Lock();
  return recordCv_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
}

std::vector<SentMessage> Terminal::Sent() const {
  auto lock = Lock();
  return sent_;
}

void Terminal::ClearSent() {
  auto lock = Lock();
  sent_.clear();
}

bool Terminal::WaitForSent(std::size_t count, std::chrono::milliseconds timeout) const {
  auto lock = Lock();
  return recordCv_.wait_for(lock, timeout, [&] { return sent_.size() >= count; });
}

std::size_t Terminal::GarbageBytes() const {
  auto lock = Lock();
  return garbage_;
}

bool Terminal::OutputPending() const {
  auto lock = Lock();
  return !out_.empty();
}

void Terminal::Misbehave(const Misbehaviour& m) {
  auto lock = Lock();
  misbehaviour_ = m;
  if (m.count <= 0) misbehaviour_ = Misbehaviour{};
}

namespace {
Misbehaviour Fault1(Fault f, int count) {
  Misbehaviour m;
  m.fault = f;
  m.count = count;
  return m;
}
}  // namespace

void Terminal::RefuseNext(int count, std::uint8_t status) {
  Misbehaviour m = Fault1(Fault::kRefuse, count);
  m.status = status;
  Misbehave(m);
}
void Terminal::SilenceNext(int count) {
  Misbehave(Fault1(Fault::kSilent, count));
}
void Terminal::DelayNext(int count, int delayMs) {
  Misbehaviour m = Fault1(Fault::kLate, count);
  m.delayMs = delayMs;
  Misbehave(m);
}
void Terminal::TruncateNext(int count, std::size_t keepBytes) {
  Misbehaviour m = Fault1(Fault::kShort, count);
  m.keepBytes = keepBytes;
  Misbehave(m);
}
void Terminal::GarbleNext(int count, std::size_t length) {
  Misbehaviour m = Fault1(Fault::kGarbage, count);
  m.garbageLength = length;
  Misbehave(m);
}
void Terminal::SplitNext(int count, std::size_t splitAt, int gapMs, int delayMs) {
  Misbehaviour m = Fault1(Fault::kSplit, count);
  m.splitAt = splitAt;
  m.gapMs = gapMs;
  m.delayMs = delayMs;
  Misbehave(m);
}
void Terminal::BehaveNormally() {
  Misbehave({});
}

void Terminal::SetProcessingDelay(int ms) {
  auto lock = Lock();
  processingDelayMs_ = std::max(ms, 0);
}

int Terminal::ProcessingDelay() const {
  auto lock = Lock();
  return processingDelayMs_;
}

int Terminal::MisbehaviourLeft() const {
  auto lock = Lock();
  return misbehaviour_.fault == Fault::kNone ? 0 : misbehaviour_.count;
}

void Terminal::Push(Bytes message) {
  auto lock = Lock();
  EmitLocked(std::move(message), Origin::kPush, 0, Clock::now());
}

void Terminal::PushAfter(int delayMs, Bytes message) {
  Schedule(delayMs, [message = std::move(message)](Terminal& t) mutable {
    t.EmitLocked(std::move(message), Origin::kPush, 0, Clock::now());
  });
}

std::uint64_t Terminal::Schedule(int delayMs, std::function<void(Terminal&)> task) {
  auto lock = Lock();
  const std::uint64_t id = nextTaskId_++;
  tasks_[id] = Task{Clock::now() + milliseconds(std::max(delayMs, 0)), std::move(task)};
  timerCv_.notify_all();
  return id;
}

bool Terminal::Cancel(std::uint64_t id) {
  auto lock = Lock();
  return tasks_.erase(id) != 0;
}

void Terminal::Restart() {
  auto lock = Lock();
  ++restartCount_;
  rx_.clear();
  awaitLong_ = 0;
  out_.clear();
  tasks_.clear();
  for (auto& m : modules_) m->Restart();
  restartUntil_ = Clock::now() + milliseconds(restartMs_);
  for (auto& [id, listener] : restartListeners_) listener(restartMs_);
}

int Terminal::RestartCount() const {
  auto lock = Lock();
  return restartCount_;
}

void Terminal::SetRestartDuration(int ms) {
  auto lock = Lock();
  restartMs_ = std::max(ms, 0);
}

bool Terminal::Restarting() const {
  auto lock = Lock();
  return Clock::now() < restartUntil_;
}

int Terminal::AddRestartListener(RestartListener listener) {
  auto lock = Lock();
  const int id = nextListenerId_++;
  restartListeners_[id] = std::move(listener);
  return id;
}

void Terminal::RemoveRestartListener(int id) {
  auto lock = Lock();
  restartListeners_.erase(id);
}

int Terminal::AddTrafficListener(FrameListener onFrame, SentListener onSent) {
  auto lock = Lock();
  const int id = nextListenerId_++;
  trafficListeners_[id] = {std::move(onFrame), std::move(onSent)};
  return id;
}

void Terminal::RemoveTrafficListener(int id) {
  auto lock = Lock();
  trafficListeners_.erase(id);
}

}  // namespace vterm
