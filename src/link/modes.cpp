#include "link/modes.h"

#include <mutex>

#include "link/link_state.h"
#include "vantorel.h"

namespace vantorel::link {
namespace {

// Which kinds refuse a start, in the order they are looked at. Secure reading counts in two
// strengths: switched on or running, or claimed at all (which also covers the last pass
// after reading was ended).
struct Refusals {
  bool pinEntry;        // 202
  bool reading;         // 204: being switched on, or running
  bool readingClaimed;  // 204: any phase of the reader's claim
  bool capture;         // 205
  bool encryptedEntry;  // 207
};

constexpr Refusals kTable[] = {
    //                 202    204    204 any 205    207
    /* capture */ {true, true, false, false, true},
    /* reading */ {true, true, true, true, true},
    /* PIN-pad */ {true, true, false, true, false},
    /* encrypted */ {false, true, false, true, false},
    /* manual */ {true, true, false, true, false},
};

std::mutex& TableMutex() noexcept {
  static std::mutex mutex;
  return mutex;
}

PollingMode* KindOf(Mode mode) noexcept {
  LinkState& state = State();
  switch (mode) {
    case Mode::kCapture:
      return &state.capture;
    case Mode::kPinPadEntry:
    case Mode::kManualEntry:
      return &state.pinEntry;
    case Mode::kEncryptedEntry:
      return &state.encryptedEntry;
    case Mode::kSecureReading:
      break;
  }
  return nullptr;  // the reader's claim is its phase
}

}  // namespace

std::uint8_t StartRefusal(Mode mode) noexcept {
  const Refusals& r = kTable[static_cast<int>(mode)];
  const LinkState& state = State();
  const ReadingPhase claim = ReadingClaim().load();
  if (r.pinEntry && state.pinEntry.Claimed()) return VANTOREL_PIN_ENTRY_ACTIVE;
  if ((r.reading && (state.secureHeadActive.load() != 0 || claim == ReadingPhase::kSwitchingOn)) ||
      (r.readingClaimed && claim != ReadingPhase::kIdle)) {
    return VANTOREL_SECURE_HEAD_ACTIVE;
  }
  if (r.capture && state.capture.Claimed()) return VANTOREL_CAPTURE_ACTIVE;
  if (r.encryptedEntry && state.encryptedEntry.Claimed()) return VANTOREL_ENCRYPTED_ENTRY_ACTIVE;
  return 0;
}

std::uint8_t StartClaim::Take() noexcept {
  if (held_) return 0;
  std::lock_guard<std::mutex> lock(TableMutex());
  if (const std::uint8_t rc = StartRefusal(mode_); rc != 0) return rc;
  if (PollingMode* kind = KindOf(mode_)) {
    kind->StartBegins();
  } else {
    ReadingClaim().store(ReadingPhase::kSwitchingOn);
  }
  held_ = true;
  return 0;
}

void StartClaim::Release() noexcept {
  PollingMode* kind = KindOf(mode_);
  if (!held_ || kind == nullptr) return;
  kind->StartEnds();
  held_ = false;
}

StartClaim::~StartClaim() {
  if (held_ && KindOf(mode_) == nullptr) {
    ReadingClaim().store(ReadingPhase::kIdle);
    held_ = false;
  }
  Release();
}

}  // namespace vantorel::link
