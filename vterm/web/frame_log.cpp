#include "vterm/web/frame_log.h"

#include <string>

#include "link/command_catalogue.h"

namespace vterm::web {
namespace {

namespace catalogue = vantorel::link;

constexpr std::size_t kRemembered = 256;
// The bytes of one entry the page shows; the rest is counted (a picture runs to 230 kB).
constexpr std::size_t kShownBytes = 256;

std::string HexByte(std::uint8_t b) {
  return Hex(std::span<const std::uint8_t>(&b, 1));
}

const char* ErrorName(FrameError e) {
  switch (e) {
    case FrameError::kNone:
      return "ok";
    case FrameError::kBadEtx:
      return "bad ETX";
    case FrameError::kBadXor:
      return "bad XOR";
    case FrameError::kBadSum:
      return "bad sum";
    case FrameError::kIncomplete:
      return "incomplete";
  }
  return "?";
}

void PutData(nlohmann::json& entry, std::span<const std::uint8_t> data, bool hide) {
  if (hide && !data.empty()) {
    entry["data"] = nullptr;
    entry["hidden"] = data.size();
  } else if (data.size() > kShownBytes) {
    entry["data"] = Hex(data.first(kShownBytes));
    entry["more"] = data.size() - kShownBytes;
  } else {
    entry["data"] = Hex(data);
  }
}

bool Is(const CommandKey& k, catalogue::Command command) {
  const catalogue::CatalogueEntry& e = catalogue::Entry(command);
  return k.cls == e.commandClass && k.fn == e.function && k.sub == e.subCommand;
}

const catalogue::CatalogueEntry& Row(const CommandKey& k) {
  const std::uint8_t bytes[] = {k.cls, k.fn, k.sub};
  return catalogue::LookUpCommand(bytes, sizeof bytes);
}

// Host frames whose parameters are key material or card data: the reader's, as the catalogue
// says. (A PIN entry's parameters are shown but for its account number, below.)
bool SecretCommand(const CommandKey& k) {
  return k.cls == catalogue::kReaderClass && Row(k).commandSecret;
}

// Replies that carry encrypted data or a key, or may carry a card (a key poll answered by a
// swipe).
bool SecretReply(const CommandKey& k, std::size_t dataLength) {
  if (k.cls == catalogue::kReaderClass) return Row(k).replySecret;
  return Is(k, catalogue::Command::kGetKey) && dataLength > 2;
}

// The content of a whole reply frame in either layout, or an empty span.
std::span<const std::uint8_t> FrameContent(const Bytes& b, bool& framed) {
  framed = false;
  if (b.size() >= kShortOverhead && b[0] == kStx && b.back() == kEtx) {
    const std::size_t shortLen = b[1] | (b[2] << 8);
    if (shortLen + kShortOverhead == b.size()) {
      framed = true;
      return std::span<const std::uint8_t>(b).subspan(3, shortLen);
    }
    if (b.size() >= kLongOverhead) {
      const std::size_t longLen = b[1] | (b[2] << 8) | (b[3] << 16);
      if (longLen + kLongOverhead == b.size()) {
        framed = true;
        return std::span<const std::uint8_t>(b).subspan(4, longLen);
      }
    }
  }
  return {};
}

}  // namespace

nlohmann::json FrameLog::Frame(const ReceivedFrame& frame) {
  const Command& c = frame.command;
  commands_[frame.seq] = c.Key();
  while (commands_.size() > kRemembered) commands_.erase(commands_.begin());

  nlohmann::json entry;
  entry["dir"] = "host";
  entry["seq"] = frame.seq;
  entry["error"] = ErrorName(frame.error);
  entry["long"] = frame.longLayout;
  entry["length"] = c.bytes.size();
  if (c.bytes.size() > 0) entry["cls"] = HexByte(c.Class());
  if (c.bytes.size() > 1) entry["fn"] = HexByte(c.Function());
  if (c.bytes.size() > 2) {
    entry["sub"] = HexByte(c.Sub());
    entry["name"] = Row(c.Key()).name;
  }
  Bytes params(c.Params().begin(), c.Params().end());
  const bool hide = SecretCommand(c.Key());
  // A PIN entry's account number: its 16 digits follow the flag byte at offset 3.
  if (!hide && Is(c.Key(), catalogue::Command::kPinBlock) && params.size() >= 20 &&
      params[3] == 1) {
    entry["data"] = Hex(std::span<const std::uint8_t>(params).first(4)) + " (16 bytes hidden) " +
                    Hex(std::span<const std::uint8_t>(params).subspan(20));
    entry["hidden"] = 16;
    return entry;
  }
  PutData(entry, params, hide);
  return entry;
}

nlohmann::json FrameLog::Sent(const SentMessage& message) {
  const Bytes& b = message.bytes;
  nlohmann::json entry;
  entry["dir"] = "terminal";
  entry["seq"] = message.frameSeq;
  entry["origin"] = message.origin == Origin::kReply ? "reply" : "push";
  bool framed = false;
  const auto content = FrameContent(b, framed);
  entry["framed"] = framed;
  entry["length"] = framed ? content.size() : b.size();
  if (framed && !content.empty()) {
    const std::uint8_t status = content[0];
    entry["status"] = status == kAck ? "ACK" : status == kNak ? "NAK" : HexByte(status);
    const auto data = content.subspan(1);
    bool hide;
    if (message.origin == Origin::kReply) {
      const auto it = commands_.find(message.frameSeq);
      hide = it != commands_.end() && SecretReply(it->second, data.size());
    } else {
      // Pushed frames: refusals are harmless; ACK frames end entries with their answers.
      hide = status != kNak;
    }
    PutData(entry, data, hide);
    return entry;
  }
  if (message.origin == Origin::kReply) {
    // Misbehaviour (short or garbled replies) and raw answers.
    const auto it = commands_.find(message.frameSeq);
    PutData(entry, b, it != commands_.end() && SecretReply(it->second, b.size()));
    return entry;
  }
  // Pushed, unframed: pen packets (status bit 7 set) and 4-byte pad events are shown; card
  // text is not.
  const bool pen = !b.empty() && (b[0] & 0x80) != 0 && b.size() % 5 == 0;
  const bool event = b.size() == 4 && b[0] == catalogue::kSignatureClass;
  entry["kind"] = pen ? "pen" : event ? "event" : "data";
  PutData(entry, b, !pen && !event);
  return entry;
}

}  // namespace vterm::web
