// What the page's frame log shows of each frame and message, and what it must never show.
#include "vterm/web/frame_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vterm/frame_codec.h"

namespace {

using nlohmann::json;
using vterm::Bytes;
using vterm::Origin;

vterm::ReceivedFrame Host(std::uint64_t seq, Bytes content,
                          vterm::FrameError error = vterm::FrameError::kNone) {
  vterm::ReceivedFrame f;
  f.seq = seq;
  f.raw = vterm::HostFrame(content);
  f.command.bytes = std::move(content);
  f.error = error;
  return f;
}

vterm::SentMessage Sent(Bytes bytes, Origin origin, std::uint64_t seq = 0) {
  return vterm::SentMessage{std::move(bytes), origin, seq, {}};
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(FrameLog, HostFramesDecodedAndSecretsHidden) {
  const Bytes account = {'4', '7', '6', '1', '7', '3', '9', '0',
                         '0', '1', '0', '1', '0', '1', '1', '9'};
  struct Case {
    const char* what;
    Bytes content;
    vterm::FrameError error;
    json expected;  // fields that must match
  };
  const std::vector<Case> cases = {
      {"drawing command",
       {0x8A, 0x46, 0x11, 0x0A, 0x00, 0x14, 0x00},
       vterm::FrameError::kNone,
       {{"dir", "host"},
        {"cls", "8A"},
        {"fn", "46"},
        {"sub", "11"},
        {"name", "line"},
        {"length", 7},
        {"data", "0A 00 14 00"},
        {"error", "ok"}}},
      {"no parameters",
       {0x78, 0x46, 0x01},
       vterm::FrameError::kNone,
       {{"sub", "01"}, {"name", "version"}, {"data", ""}, {"length", 3}}},
      {"device key",
       Cat({0x73, 0x53, 0x76, 0x10}, Bytes(16, 0xAB)),
       vterm::FrameError::kNone,
       {{"data", nullptr}, {"hidden", 17}}},
      {"encrypted data",
       Cat({0x73, 0x53, 0x74, 0x08}, Bytes(8, 0xCD)),
       vterm::FrameError::kNone,
       {{"data", nullptr}, {"hidden", 9}}},
      {"bad check bytes still decoded",
       {0x8A, 0x46, 0x22, 0x01},
       vterm::FrameError::kBadXor,
       {{"error", "bad XOR"}, {"data", "01"}}},
  };
  for (const Case& c : cases) {
    vterm::web::FrameLog log;
    const json entry = log.Frame(Host(5, c.content, c.error));
    for (const auto& [key, value] : c.expected.items()) {
      EXPECT_EQ(entry.value(key, json()), value) << c.what << ": " << key;
    }
  }

  // A PIN entry with an account number: the prompt stays readable, the account does not.
  vterm::web::FrameLog log;
  const Bytes entry = Cat(Cat({0x75, 0x46, 0x07, '1', 8, 4, 1}, account), {2, 0x41, 0x42});
  const json shown = log.Frame(Host(6, entry));
  EXPECT_EQ(shown["hidden"], 16);
  const std::string data = shown["data"];
  EXPECT_EQ(data.find(vterm::Hex(account).substr(0, 11)), std::string::npos) << data;
  EXPECT_NE(data.find("41 42"), std::string::npos) << data;
}

TEST(FrameLog, TerminalMessagesDecodedAndSecretsHidden) {
  struct Case {
    const char* what;
    Bytes command;  // the frame answered (empty for a push)
    vterm::SentMessage message;
    json expected;
  };
  const Bytes card = {'%', 'B', '4', '7', '6', '1', '?', '\n', ';', '4', '7', '?', '\n'};
  const std::vector<Case> cases = {
      {"version reply",
       {0x78, 0x46, 0x01},
       Sent(vterm::AckFrame(Bytes{'V', 'T'}), Origin::kReply, 9),
       {{"dir", "terminal"},
        {"origin", "reply"},
        {"status", "ACK"},
        {"data", "56 54"},
        {"length", 3},
        {"seq", 9}}},
      {"refusal",
       {0x78, 0x46, 0x01},
       Sent(vterm::NakFrame(0xE8), Origin::kReply, 9),
       {{"status", "NAK"}, {"data", "E8"}}},
      {"key reply",
       {0x75, 0x46, 0x81},
       Sent(vterm::AckFrame(Bytes{'E'}), Origin::kReply, 9),
       {{"data", "45"}}},
      {"card data answering a key poll",
       {0x75, 0x46, 0x81},
       Sent(card, Origin::kReply, 9),
       {{"data", nullptr}, {"hidden", card.size()}}},
      {"encrypted data read",
       {0x73, 0x52, 0x74},
       Sent(vterm::AckFrame(Bytes(8, 0x11)), Origin::kReply, 9),
       {{"data", nullptr}}},
      {"device key load answered with the key",
       {0x73, 0x53, 0x76},
       Sent(vterm::AckFrame(Bytes(16, 0xAB)), Origin::kReply, 9),
       {{"data", nullptr}}},
      {"garbled reply",
       {0x78, 0x46, 0x01},
       Sent(Bytes{0x55, 0x66, 0x77}, Origin::kReply, 9),
       {{"framed", false}, {"data", "55 66 77"}}},
      {"entry answer",
       {},
       Sent(vterm::AckFrame(Bytes{'5', 'A', '1', 'F'}), Origin::kPush),
       {{"origin", "push"}, {"status", "ACK"}, {"data", nullptr}, {"hidden", 4}}},
      {"entry refused",
       {},
       Sent(vterm::NakFrame(0x18), Origin::kPush),
       {{"status", "NAK"}, {"data", "18"}}},
      {"pen packets",
       {},
       Sent(Bytes{0x9C, 1, 2, 3, 4, 0x8C, 0, 0, 0, 0}, Origin::kPush),
       {{"kind", "pen"}, {"data", "9C 01 02 03 04 8C 00 00 00 00"}}},
      {"pad event",
       {},
       Sent(Bytes{0x7A, 0x05, 0x00, 0x00}, Origin::kPush),
       {{"kind", "event"}, {"data", "7A 05 00 00"}}},
      {"swiped tracks", {}, Sent(card, Origin::kPush), {{"kind", "data"}, {"data", nullptr}}},
      {"framed card record",
       {},
       Sent(vterm::ShortFrame(Bytes(20, 0x42)), Origin::kPush),
       {{"data", nullptr}}},
  };
  for (const Case& c : cases) {
    vterm::web::FrameLog log;
    if (!c.command.empty()) log.Frame(Host(9, c.command));
    const json entry = log.Sent(c.message);
    for (const auto& [key, value] : c.expected.items()) {
      EXPECT_EQ(entry.value(key, json()), value) << c.what << ": " << key;
    }
  }
}

// A picture read back runs to 230 kB: the page gets the first bytes and a count.
TEST(FrameLog, LongDataIsCut) {
  vterm::web::FrameLog log;
  log.Frame(Host(3, {0x8A, 0x46, 0x60, 0, 0, 0, 0}));
  const json entry = log.Sent(Sent(vterm::AckFrame(Bytes(1000, 0x7F)), Origin::kReply, 3));
  EXPECT_EQ(entry["more"], 1000 - 256);
  EXPECT_EQ(entry["data"].get<std::string>().size(), 256u * 3 - 1);
  EXPECT_EQ(entry["length"], 1001);
}

}  // namespace
