#include "link/modes.h"

#include <mutex>

#include "link/link_state.h"
#include "vantorel.h"

namespace vantorel::link {
namespace {

// Per start: which kinds refuse it, in the order they are looked at, and which it
// supersedes. Secure reading refuses in two strengths: claimed or switched on, or in any
// phase (also the last pass of a loop that was ended but has not returned yet).
struct Rule {
  bool pinEntry;        // 202
  bool reading;         // 204: being switched on, or running
  bool readingAtAll;    // 204: any phase, the last pass too
  bool capture;         // 205
  bool encryptedEntry;  // 207
  // Ended when this start claims: its running loop and any start of it not begun yet.
  PollingMode LinkState::*endsAtClaim;
  // Ended when this start's loop begins.
  PollingMode LinkState::*endsAtBegin;
};

constexpr Rule kTable[] = {
    // clang-format off
    //               202    204    204 any 205    207    ends at claim        ends at begin
    /* capture */   {true,  true,  false,  false, true,  &LinkState::capture, nullptr},
    /* reading */   {true,  true,  true,   true,  true,  nullptr,             nullptr},
    /* PIN-pad */   {true,  true,  false,  true,  false, nullptr,             &LinkState::encryptedEntry},
    /* encrypted */ {false, true,  false,  true,  false, nullptr,             &LinkState::pinEntry},
    /* manual */    {true,  true,  false,  true,  false, nullptr,             &LinkState::encryptedEntry},
    // clang-format on
};

std::mutex& TableMutex() noexcept {
  static std::mutex mutex;
  return mutex;
}

PollingMode& KindOf(Mode mode) noexcept {
  LinkState& state = State();
  switch (mode) {
    case Mode::kCapture:
      return state.capture;
    case Mode::kSecureReading:
      return state.reading;
    case Mode::kEncryptedEntry:
      return state.encryptedEntry;
    case Mode::kPinPadEntry:
    case Mode::kManualEntry:
      break;
  }
  return state.pinEntry;
}

}  // namespace

std::uint8_t StartRefusal(Mode mode) noexcept {
  const Rule& r = kTable[static_cast<int>(mode)];
  const LinkState& state = State();
  if (r.pinEntry && state.pinEntry.Claimed()) return VANTOREL_PIN_ENTRY_ACTIVE;
  if ((r.reading && state.reading.Claimed()) || (r.readingAtAll && state.reading.Running())) {
    return VANTOREL_SECURE_HEAD_ACTIVE;
  }
  if (r.capture && state.capture.Claimed()) return VANTOREL_CAPTURE_ACTIVE;
  if (r.encryptedEntry && state.encryptedEntry.Claimed()) return VANTOREL_ENCRYPTED_ENTRY_ACTIVE;
  return 0;
}

LoopStart::LoopStart(Mode mode) noexcept : mode_(mode), kind_(KindOf(mode)) {}

LoopStart::~LoopStart() {
  listener_.reset();
  Release();
  if (running_) kind_.LoopReturns();
}

std::uint8_t LoopStart::Claim() noexcept {
  if (claimed_) return 0;
  // Taken first: an end (a disable) issued from here on reaches this start.
  mark_ = kind_.Mark();
  std::lock_guard<std::mutex> lock(TableMutex());
  if (const std::uint8_t rc = StartRefusal(mode_); rc != 0) return rc;
  kind_.StartBegins();
  claimed_ = true;
  const Rule& r = kTable[static_cast<int>(mode_)];
  if (r.endsAtClaim != nullptr) {
    PollingMode& ended = State().*r.endsAtClaim;
    const PollingMode::Ticket mark = ended.Supersede();
    if (&ended == &kind_) mark_ = mark;
  }
  return 0;
}

bool LoopStart::EndedSinceClaim() const noexcept {
  return kind_.EndedSince(mark_);
}

void LoopStart::Listen(LoopMessageTest isMessage, const void* context) noexcept {
  if (!listener_) listener_.emplace();
  listener_->Begin(isMessage, context);
}

PollingMode::Ticket LoopStart::Begin() noexcept {
  PollingMode::Ticket ticket = 0;
  if (kind_.BeginUnlessEnded(mark_, ticket)) {
    const Rule& r = kTable[static_cast<int>(mode_)];
    if (r.endsAtBegin != nullptr) (State().*r.endsAtBegin).End();
    if (!running_) kind_.LoopBegins();
    running_ = true;
  }
  Release();
  return ticket;
}

void LoopStart::Release() noexcept {
  if (!claimed_) return;
  kind_.StartEnds();
  claimed_ = false;
}

}  // namespace vantorel::link
