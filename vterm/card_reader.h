// The card reader: its settings, the card slot and the PIN pad's key buffer, manual entry.
//
// Settings (class 0x73):
//   73 52 sub                 one-byte settings: ACK + sub, 01, value (the value at byte 6)
//   73 53 sub 01 v            write one: ACK + v; parameters of another shape: NAK E1
//   73 52 1F                  all settings: ACK + (sub, value) pairs in sub-command order
//   73 52 22                  secure-head firmware: ACK + its text
//   73 52 4E / 73 52 51       reader serial number / KSN and counter: ACK + sub, 00, n, n bytes
//   73 52 74                  encrypted data: ACK + the 8 stored bytes
//   73 53 74 08 + 8 bytes     store encrypted data: ACK + 08
//   73 53 76 10 + 16 bytes    load the device key: ACK + 10
// The secure-head switch 73 46 E1 belongs to DeviceModule (SecureHeadOn, SetSecureHead).
//
// The PIN pad's key buffer lives here, and only here: secure reading polls it, and the card
// slot may answer a poll with card data.
//   75 46 81                  key poll: the oldest pending delivery (see below), or, with
//                             none pending, ACK + 00 (no key)
//   75 46 82                  clear: drops pending key presses (not swipes); ACK + '0'
// A swipe or key press is queued for the next key poll. Given Via::kKeyPoll it is that
// poll's reply. Given Via::kUnsolicited the poll gets no reply and the message follows
// unasked kUnsolicitedDelayMs later: by then the host has given up on the poll and reads
// what the terminal sends by itself, so the message never shares a read with a reply. A key
// press goes out as the 8-byte key reply ACK + 'C' / 'B' / 'E'.
//
// Manual entry:
//   75 46 40 body             checked (32-byte header, encoded lines that add up), recorded,
//                             ACK; the answer follows after a delay: keyed card data (ACK +
//                             data) for data-returning entries, a bare ACK for acknowledged
//                             ones, unless a test scripted another outcome. A malformed body
//                             gets NAK E1.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vterm/terminal.h"

namespace vterm {

inline constexpr char kDefaultReaderSerial[] = "MSR00417";
inline constexpr char kDefaultKsn[] = "FFFF9876543210E00001";
inline constexpr char kDefaultFirmware[] = "SH FW 3.02";
inline constexpr char kDefaultKeyedCard[] = "4761739001010119=2512";
inline constexpr int kUnsolicitedDelayMs = 600;
// Long enough for the host's read of the command's reply to end first, over serial too.
inline constexpr int kManualAnswerDelayMs = 1000;

enum class PadKey : std::uint8_t { kCancel = 'C', kBackspace = 'B', kEnter = 'E' };
enum class Via { kUnsolicited, kKeyPoll };

// How the terminal ends the next manual entry.
struct ManualEntryOutcome {
  enum class Kind {
    kDefault,        // keyed card data or a bare ACK, as the entry asks
    kData,           // ACK + `data`
    kAck,            // a bare ACK
    kMessage,        // these exact bytes (`data`), unframed
    kRefuse,         // NAK + `status` during the wait
    kRefuseCommand,  // NAK + `status` as the reply to the command itself
    kSilent,         // nothing after the command's ACK
  };
  Kind kind = Kind::kDefault;
  Bytes data;
  std::uint8_t status = 0xE8;
  int delayMs = kManualAnswerDelayMs;

  static ManualEntryOutcome Of(Kind kind, Bytes data = {}, std::uint8_t status = 0xE8,
                               int delayMs = kManualAnswerDelayMs) {
    ManualEntryOutcome o;
    o.kind = kind;
    o.data = std::move(data);
    o.status = status;
    o.delayMs = delayMs;
    return o;
  }
  static ManualEntryOutcome Data(Bytes data) { return Of(Kind::kData, std::move(data)); }
  static ManualEntryOutcome Message(Bytes wire) { return Of(Kind::kMessage, std::move(wire)); }
  static ManualEntryOutcome Ack(int delayMs = kManualAnswerDelayMs) {
    return Of(Kind::kAck, {}, 0, delayMs);
  }
  static ManualEntryOutcome Refuse(std::uint8_t status) { return Of(Kind::kRefuse, {}, status); }
  static ManualEntryOutcome RefuseCommand(std::uint8_t status) {
    return Of(Kind::kRefuseCommand, {}, status);
  }
  static ManualEntryOutcome Silent() { return Of(Kind::kSilent); }
};

struct ManualPromptLine {
  Bytes attributes;  // 13 bytes
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  std::string text;
};

// A manual entry command as the terminal understood it.
struct ManualEntryRecord {
  Bytes body;
  std::uint8_t mode = 0;
  std::uint8_t entryKind = 0;
  std::uint8_t upperBound = 0;
  std::uint8_t lowerBound = 0;
  std::uint8_t selector = 0;
  Bytes optionBytes;  // 16
  std::uint16_t values[4] = {};
  std::uint8_t flagByte = 0;
  std::vector<ManualPromptLine> lines;
};

class CardReaderModule : public Module {
 public:
  void Install(Terminal& terminal) override;
  void Restart() override;

  // Settings, by sub-command.
  std::uint8_t Setting(std::uint8_t sub) const;
  void SetSetting(std::uint8_t sub, std::uint8_t value);
  std::string ReaderSerial() const;
  void SetReaderSerial(std::string serial);
  std::string Ksn() const;
  void SetKsn(std::string ksn);
  std::string Firmware() const;
  void SetFirmware(std::string text);
  Bytes EncryptedData() const;
  void SetEncryptedData(Bytes data);
  Bytes DeviceKey() const;
  // What 73 52 1F answers.
  Bytes AllSettings() const;

  // Card slot and key buffer.
  void Swipe(Bytes message, Via via = Via::kUnsolicited);
  void PressKey(PadKey key, Via via = Via::kKeyPoll);
  std::size_t Pending() const;
  int KeyPolls() const;
  int KeyClears() const;
  void SetUnsolicitedDelay(int ms);

  // Plain track text: each track followed by LF (the tracks carry their own sentinels).
  static Bytes TrackText(const std::vector<std::string_view>& tracks);
  // A framed encrypted record: STX, length, the payload, XOR, sum, ETX.
  static Bytes EncryptedRecord(const Bytes& payload);

  // Manual entry.
  void ScriptManualEntry(ManualEntryOutcome outcome);
  std::optional<ManualEntryRecord> LastManualEntry() const;
  int ManualEntryCount() const;
  // Manual entries answered by a person (the browser view): with this on and nothing
  // scripted, an entry waits after its ACK until AnswerManualEntry or RefuseManualEntry.
  void SetKeyedManualEntry(bool on);
  bool ManualEntryPending() const;
  // Ends the waiting entry: a data-returning one with ACK + `data`, an acknowledged one
  // with a bare ACK. False when none waits.
  bool AnswerManualEntry(const Bytes& data);
  bool RefuseManualEntry(std::uint8_t status);

 private:
  struct Delivery {
    Bytes bytes;
    Via via;
    bool key;
  };

  Response ReadSetting(Terminal& t, const Command& c);
  Response WriteSetting(Terminal& t, const Command& c);
  Response KeyPoll(Terminal& t, const Command& c);
  Response ManualEntry(Terminal& t, const Command& c);
  int ManualDelayLocked() const;
  std::unique_lock<std::recursive_mutex> Lock() const { return terminal_->Lock(); }

  Terminal* terminal_ = nullptr;
  std::map<std::uint8_t, std::uint8_t> settings_;
  std::string serial_ = kDefaultReaderSerial;
  std::string ksn_ = kDefaultKsn;
  std::string firmware_ = kDefaultFirmware;
  Bytes encrypted_ = Bytes(8, 0);
  Bytes deviceKey_;
  std::deque<Delivery> pending_;
  int keyPolls_ = 0;
  int keyClears_ = 0;
  int unsolicitedDelayMs_ = kUnsolicitedDelayMs;
  std::deque<ManualEntryOutcome> manualScript_;
  std::optional<ManualEntryRecord> lastManual_;
  int manualCount_ = 0;
  bool keyedManual_ = false;
  std::optional<bool> manualWaiting_;  // set while an entry waits; true: data-returning
  Clock::time_point manualAt_;
};

}  // namespace vterm
