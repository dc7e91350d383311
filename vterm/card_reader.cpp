#include "vterm/card_reader.h"

#include <algorithm>
#include <utility>

namespace vterm {

namespace {

constexpr std::uint8_t kReader = 0x73;
constexpr std::uint8_t kPinPad = 0x75;
constexpr std::uint8_t kPerform = 0x46;
constexpr std::uint8_t kRead = 0x52;
constexpr std::uint8_t kWrite = 0x53;

constexpr std::uint8_t kAllSettings = 0x1F;
constexpr std::uint8_t kFirmware = 0x22;
constexpr std::uint8_t kSerial = 0x4E;
constexpr std::uint8_t kKsn = 0x51;
constexpr std::uint8_t kEncryptedData = 0x74;
constexpr std::uint8_t kDeviceKey = 0x76;

// The one-byte settings and their power-on values. Read-only ones (0x7E security level,
// 0xE2 output status) are kept here too; the host never writes them.
const std::map<std::uint8_t, std::uint8_t>& DefaultSettings() {
  static const std::map<std::uint8_t, std::uint8_t> defaults{
      {0x1A, '0'},  {0x1D, '0'}, {0x49, '4'}, {0x4A, '4'}, {0x4B, '0'},  {0x4C, '0'},
      {0x50, '0'},  {0x58, '0'}, {0x5C, '0'}, {0x7E, '3'}, {0x84, 0x00}, {0x85, '0'},
      {0x86, 0x00}, {0xE2, '1'}, {0xE3, '0'}, {0xE4, '0'},
  };
  return defaults;
}

// Settings the host may write with one value byte (0x1A only through the switch-on).
bool Writable(std::uint8_t sub) {
  return sub != 0x7E && sub != 0xE2 && DefaultSettings().count(sub) != 0;
}

Response Counted(std::uint8_t sub, std::string_view text) {
  Bytes data{sub, 0x00, static_cast<std::uint8_t>(text.size())};
  data.insert(data.end(), text.begin(), text.end());
  return Response::Ack(std::move(data));
}

std::uint16_t Word(std::span<const std::uint8_t> p, std::size_t at) {
  return static_cast<std::uint16_t>(p[at] | (p[at + 1] << 8));
}

// Parses a manual-entry body; nullopt when it is malformed.
std::optional<ManualEntryRecord> ParseManualEntry(std::span<const std::uint8_t> p) {
  if (p.size() < 32 || p[31] != 0x00 || p[30] > 10) return std::nullopt;
  ManualEntryRecord r;
  r.body.assign(p.begin(), p.end());
  r.mode = p[0];
  r.entryKind = p[1];
  r.upperBound = p[2];
  r.lowerBound = p[3];
  r.selector = p[4];
  r.optionBytes.assign(p.begin() + 5, p.begin() + 21);
  for (std::size_t i = 0; i < 4; ++i) r.values[i] = Word(p, 21 + 2 * i);
  r.flagByte = p[29];
  std::size_t at = 32;
  for (int i = 0; i < p[30]; ++i) {
    if (at + 21 > p.size()) return std::nullopt;
    const std::size_t n = p[at + 19];
    if (p[at] != 21 + n || p[at + 1] != 0 || p[at + 20] != 0 || at + 21 + n > p.size()) {
      return std::nullopt;
    }
    ManualPromptLine line;
    line.attributes.assign(p.begin() + static_cast<std::ptrdiff_t>(at + 2),
                           p.begin() + static_cast<std::ptrdiff_t>(at + 15));
    line.x = Word(p, at + 15);
    line.y = Word(p, at + 17);
    line.text.assign(p.begin() + static_cast<std::ptrdiff_t>(at + 21),
                     p.begin() + static_cast<std::ptrdiff_t>(at + 21 + n));
    r.lines.push_back(std::move(line));
    at += 21 + n;
  }
  if (at != p.size()) return std::nullopt;
  return r;
}

}  // namespace

void CardReaderModule::Install(Terminal& t) {
  terminal_ = &t;
  settings_ = DefaultSettings();
  t.RegisterFunction(kReader, kRead,
                     [this](Terminal& term, const Command& c) { return ReadSetting(term, c); });
  t.RegisterFunction(kReader, kWrite,
                     [this](Terminal& term, const Command& c) { return WriteSetting(term, c); });
  t.Register(kPinPad, kPerform, 0x81,
             [this](Terminal& term, const Command& c) { return KeyPoll(term, c); });
  t.Register(kPinPad, kPerform, 0x82, [this](Terminal&, const Command&) {
    ++keyClears_;
    std::erase_if(pending_, [](const Delivery& d) { return d.key; });
    return Response::Ack(Bytes{'0'});
  });
  t.Register(kPinPad, kPerform, 0x40,
             [this](Terminal& term, const Command& c) { return ManualEntry(term, c); });
}

void CardReaderModule::Restart() {
  pending_.clear();
  manualWaiting_.reset();
}

Response CardReaderModule::ReadSetting(Terminal&, const Command& c) {
  if (!c.Params().empty()) return Response::Nak(kStatusBadParameter);
  const std::uint8_t sub = c.Sub();
  switch (sub) {
    case kAllSettings:
      return Response::Ack(AllSettings());
    case kFirmware:
      return Response::Ack(firmware_);
    case kSerial:
      return Counted(sub, serial_);
    case kKsn:
      return Counted(sub, ksn_);
    case kEncryptedData:
      return Response::Ack(encrypted_);
    default:
      break;
  }
  const auto it = settings_.find(sub);
  if (it == settings_.end()) return Response::Nak(kStatusUnknownCommand);
  return Response::Ack(Bytes{sub, 0x01, it->second});
}

Response CardReaderModule::WriteSetting(Terminal&, const Command& c) {
  const auto p = c.Params();
  const std::uint8_t sub = c.Sub();
  if (sub == kEncryptedData || sub == kDeviceKey) {
    const std::size_t size = sub == kEncryptedData ? 8 : 16;
    if (p.size() != size + 1 || p[0] != size) return Response::Nak(kStatusBadParameter);
    Bytes& target = sub == kEncryptedData ? encrypted_ : deviceKey_;
    target.assign(p.begin() + 1, p.end());
    return Response::Ack(Bytes{static_cast<std::uint8_t>(size)});
  }
  if (!Writable(sub)) return Response::Nak(kStatusUnknownCommand);
  if (p.size() != 2 || p[0] != 0x01) return Response::Nak(kStatusBadParameter);
  settings_[sub] = p[1];
  return Response::Ack(Bytes{p[1]});
}

Response CardReaderModule::KeyPoll(Terminal& t, const Command& c) {
  if (!c.Params().empty()) return Response::Nak(kStatusBadParameter);
  ++keyPolls_;
  if (pending_.empty()) return Response::Ack(Bytes{0x00});
  Delivery d = std::move(pending_.front());
  pending_.pop_front();
  if (d.via == Via::kKeyPoll) return Response::Raw(std::move(d.bytes));
  t.PushAfter(unsolicitedDelayMs_, std::move(d.bytes));
  return Response::None();
}

Response CardReaderModule::ManualEntry(Terminal& t, const Command& c) {
  auto record = ParseManualEntry(c.Params());
  if (!record) return Response::Nak(kStatusBadParameter);
  ManualEntryOutcome outcome;
  const bool scripted = !manualScript_.empty();
  if (scripted) {
    outcome = std::move(manualScript_.front());
    manualScript_.pop_front();
  }
  ++manualCount_;
  const bool dataReturning = record->mode == 1 || record->entryKind == 3;
  lastManual_ = std::move(record);
  manualWaiting_.reset();
  if (!scripted && keyedManual_) {
    manualWaiting_ = dataReturning;
    manualAt_ = Clock::now();
    return Response::Ack();
  }

  Bytes answer;
  switch (outcome.kind) {
    case ManualEntryOutcome::Kind::kDefault:
      answer =
          dataReturning
              ? AckFrame(Bytes(kDefaultKeyedCard, kDefaultKeyedCard + sizeof kDefaultKeyedCard - 1))
              : AckFrame();
      break;
    case ManualEntryOutcome::Kind::kData:
      answer = AckFrame(outcome.data);
      break;
    case ManualEntryOutcome::Kind::kAck:
      answer = AckFrame();
      break;
    case ManualEntryOutcome::Kind::kMessage:
      answer = outcome.data;
      break;
    case ManualEntryOutcome::Kind::kRefuse:
      answer = NakFrame(outcome.status);
      break;
    case ManualEntryOutcome::Kind::kRefuseCommand:
      return Response::Nak(outcome.status);
    case ManualEntryOutcome::Kind::kSilent:
      break;
  }
  if (!answer.empty()) t.PushAfter(outcome.delayMs, std::move(answer));
  return Response::Ack();
}

std::uint8_t CardReaderModule::Setting(std::uint8_t sub) const {
  auto lock = Lock();
  const auto it = settings_.find(sub);
  return it == settings_.end() ? 0 : it->second;
}
void CardReaderModule::SetSetting(std::uint8_t sub, std::uint8_t value) {
  auto lock = Lock();
  settings_[sub] = value;
}
std::string CardReaderModule::ReaderSerial() const {
  auto lock = Lock();
  return serial_;
}
void CardReaderModule::SetReaderSerial(std::string serial) {
  auto lock = Lock();
  serial_ = std::move(serial);
}
std::string CardReaderModule::Ksn() const {
  auto lock = Lock();
  return ksn_;
}
void CardReaderModule::SetKsn(std::string ksn) {
  auto lock = Lock();
  ksn_ = std::move(ksn);
}
std::string CardReaderModule::Firmware() const {
  auto lock = Lock();
  return firmware_;
}
void CardReaderModule::SetFirmware(std::string text) {
  auto lock = Lock();
  firmware_ = std::move(text);
}
Bytes CardReaderModule::EncryptedData() const {
  auto lock = Lock();
  return encrypted_;
}
void CardReaderModule::SetEncryptedData(Bytes data) {
  auto lock = Lock();
  encrypted_ = std::move(data);
}
Bytes CardReaderModule::DeviceKey() const {
  auto lock = Lock();
  return deviceKey_;
}
Bytes CardReaderModule::AllSettings() const {
  auto lock = Lock();
  Bytes block;
  for (const auto& [sub, value] : settings_) {
    block.push_back(sub);
    block.push_back(value);
  }
  return block;
}

void CardReaderModule::Swipe(Bytes message, Via via) {
  auto lock = Lock();
  pending_.push_back(Delivery{std::move(message), via, false});
}
void CardReaderModule::PressKey(PadKey key, Via via) {
  auto lock = Lock();
  pending_.push_back(Delivery{AckFrame(Bytes{static_cast<std::uint8_t>(key)}), via, true});
}
std::size_t CardReaderModule::Pending() const {
  auto lock = Lock();
  return pending_.size();
}
int CardReaderModule::KeyPolls() const {
  auto lock = Lock();
  return keyPolls_;
}
int CardReaderModule::KeyClears() const {
  auto lock = Lock();
  return keyClears_;
}
void CardReaderModule::SetUnsolicitedDelay(int ms) {
  auto lock = Lock();
  unsolicitedDelayMs_ = std::max(ms, 0);
}

Bytes CardReaderModule::TrackText(const std::vector<std::string_view>& tracks) {
  Bytes text;
  for (const auto track : tracks) {
    text.insert(text.end(), track.begin(), track.end());
    text.push_back('\n');
  }
  return text;
}

Bytes CardReaderModule::EncryptedRecord(const Bytes& payload) {
  return ShortFrame(payload);
}

void CardReaderModule::SetKeyedManualEntry(bool on) {
  auto lock = Lock();
  keyedManual_ = on;
}
bool CardReaderModule::ManualEntryPending() const {
  auto lock = Lock();
  return manualWaiting_.has_value();
}
// An answer given at once would run into a serial host's read of the command's reply: it
// leaves no earlier than a scripted one.
int CardReaderModule::ManualDelayLocked() const {
  const auto since =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - manualAt_);
  return std::max(0, kManualAnswerDelayMs - static_cast<int>(since.count()));
}
bool CardReaderModule::AnswerManualEntry(const Bytes& data) {
  auto lock = Lock();
  if (!manualWaiting_) return false;
  terminal_->PushAfter(ManualDelayLocked(), *manualWaiting_ ? AckFrame(data) : AckFrame());
  manualWaiting_.reset();
  return true;
}
bool CardReaderModule::RefuseManualEntry(std::uint8_t status) {
  auto lock = Lock();
  if (!manualWaiting_) return false;
  terminal_->PushAfter(ManualDelayLocked(), NakFrame(status));
  manualWaiting_.reset();
  return true;
}

void CardReaderModule::ScriptManualEntry(ManualEntryOutcome outcome) {
  auto lock = Lock();
  manualScript_.push_back(std::move(outcome));
}
std::optional<ManualEntryRecord> CardReaderModule::LastManualEntry() const {
  auto lock = Lock();
  return lastManual_;
}
int CardReaderModule::ManualEntryCount() const {
  auto lock = Lock();
  return manualCount_;
}

}  // namespace vterm
