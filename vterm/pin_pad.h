// The PIN pad: the four entries, the cancel command and key invalidation. The function-key
// buffer (75 46 81 key poll, 75 46 82 clear, PressKey) belongs to CardReaderModule, whose
// secure reading polls it.
//
//   75 46 07 body        PIN block entry        ACK; later the PIN block (or per script)
//   75 46 22|23 ub lb s* numeric/amount entry   ACK when every piece s recovers with the
//                                               public key to a well-formed block; the
//                                               joined blocks' pieces form the prompt message
//   75 46 24 body        card account entry     ACK; later 2 bytes + the account number
//   75 46 25 body        encrypted data entry   ACK; later 2 bytes + the encrypted data
//   75 46 09             cancel                 no reply; a pending entry answers NAK
//                                               kStatusEntryCancelled
//   75 46 84             invalidate the keys    ACK
//
// An entry body that does not parse (lines that do not end where the body ends, an account
// flag other than 0 or 1) gets NAK kStatusBadParameter; a numeric entry whose pieces do not
// recover (no public key set, a length that is not a whole number of pieces, a malformed
// block, a message that does not parse) gets NAK kStatusBadSignature. An accepted entry is
// pending until its scripted answer leaves, the host cancels it or a new entry replaces it.
// Every entry's prompt lines stay readable (Lines, LastEntry) as the display would show them.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vterm/terminal.h"

namespace vterm {

inline constexpr std::uint8_t kStatusEntryCancelled = 0x18;  // the host maps it to 105
inline constexpr std::uint8_t kStatusBadSignature = 0xED;    // the host maps it to 102
// Long enough for the host's read of the command's reply to end first, over serial too.
inline constexpr int kDefaultEntryDelayMs = 1000;

struct ShownLine {
  std::array<std::uint8_t, 13> attributes{};
  int x = 0;
  int y = 0;
  std::string text;
  bool operator==(const ShownLine&) const = default;
};

// One entry as the pad understood it.
struct PinPadEntry {
  std::uint8_t sub = 0;   // 0x07, 0x22, 0x23, 0x24 or 0x25
  std::uint8_t mode = 0;  // PIN block: '0'/'1'; encrypted data: the data mode
  std::uint8_t upperBound = 0;
  std::uint8_t lowerBound = 0;
  std::string accountNumber;  // PIN block only; empty when none was sent
  std::uint8_t selector = 0;
  std::array<std::uint8_t, 16> optionBytes{};
  std::array<std::uint16_t, 4> values{};
  std::uint8_t flagByte = 0;
  std::uint8_t lineCount = 0;
  std::vector<ShownLine> lines;
  Bytes promptMessage;     // numeric entry: the message recovered from the pieces
  std::size_t pieces = 0;  // numeric entry: processed pieces received
};

// How the pad answers the next entry.
struct EntryScript {
  enum class Kind {
    kAnswer,  // ACK + `data` after `delayMs` (empty data: a default answer for the entry)
    kRefuse,  // NAK `status` after `delayMs`
    kHold,    // nothing until cancelled or replaced
  };
  Kind kind = Kind::kAnswer;
  int delayMs = kDefaultEntryDelayMs;
  Bytes data;
  std::uint8_t status = kStatusEntryCancelled;
};

class PinPadModule : public Module {
 public:
  void Install(Terminal& terminal) override;
  void Restart() override;

  // Scripts for the coming entries, used in order; with none queued, an entry is answered
  // with its default after kDefaultEntryDelayMs.
  void ScriptNextEntry(EntryScript script);
  void ClearScripts();

  // The public half of the application's key (big-endian numbers) for the numeric entry.
  void SetPublicKey(Bytes modulus, Bytes exponent);

  std::optional<PinPadEntry> LastEntry() const;
  // The lines on the display: the last accepted entry's, until it ends.
  std::vector<ShownLine> Lines() const;
  bool EntryPending() const;
  int EntryCount() const;  // accepted entries
  int CancelCount() const;

  int InvalidateKeyCount() const;

  // Entries keyed by a person (the browser view): with this on and nothing scripted, an
  // accepted entry waits for Key() instead of answering by itself.
  void SetKeyedEntries(bool on);
  // One key for the waiting keyed entry: '0'-'9' add a digit (up to the upper bound), 'B'
  // (Backspace) removes the last, 'X' (Clear) removes all, 'E' (Enter) answers with what
  // was keyed once the lower bound is reached, 'C' (Cancel) ends the entry with NAK
  // kStatusEntryCancelled. False when no keyed entry waits or the key changes nothing.
  bool Key(char key);
  bool KeyedEntryPending() const;
  // How many digits the waiting entry holds (never which).
  std::size_t KeyedDigitCount() const;
  // The answer of a keyed PIN entry: the ISO format-0 block of the digits and the account
  // number, encrypted under the pad's PIN key (two-key triple DES), as 16 hex characters.
  static std::string PinBlock(const std::string& digits, const std::string& account);
  // The digits inside such a block; nullopt when it does not decode.
  static std::optional<std::string> PinFromBlock(std::string_view block,
                                                 const std::string& account);

  // Answer data in the shapes the host expects.
  // Numeric: the count of digits, the digits, then 'F' up to `width` digits.
  static Bytes NumericAnswer(const std::string& digits, std::size_t width = 0);
  // Card account and encrypted data: two leading bytes (0, length), then the payload.
  static Bytes TwoByteAnswer(const Bytes& payload);

 private:
  Response Accept(const Command& command, PinPadEntry entry);
  Response NumericEntry(const Command& command);
  void EndPendingLocked();
  Bytes KeyedAnswerLocked() const;
  int AnswerDelayLocked() const;

  Terminal* terminal_ = nullptr;
  std::deque<EntryScript> scripts_;
  Bytes modulus_;
  Bytes exponent_;
  std::optional<PinPadEntry> last_;
  bool pending_ = false;
  std::optional<std::uint64_t> answerTask_;
  int entries_ = 0;
  int cancels_ = 0;
  int keyInvalidates_ = 0;
  bool keyed_ = false;
  bool keyedWaiting_ = false;
  std::string digits_;  // what the waiting keyed entry holds; wiped when it ends
  Clock::time_point acceptedAt_;
};

}  // namespace vterm
