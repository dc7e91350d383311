// Requests and expected command bodies for the PIN-pad entry tests.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "support/session.h"
#include "vantorel.h"
#include "vterm/card_reader.h"
#include "vterm/frame_codec.h"
#include "vterm/pin_pad.h"

namespace pinpad_test {

using vterm::Bytes;

// A request with recognisable fields, outputs pointing at `out`.
struct Request {
  PinEntryRequest record{};
  std::array<unsigned char, 512> result{};
  int resultLength = -7;
  std::vector<std::string> texts;

  explicit Request(std::uint8_t upper = 8, std::uint8_t lower = 4) {
    result.fill(0xEE);
    record.result = result.data();
    record.resultLength = &resultLength;
    record.mode = '1';
    record.upperBound = upper;
    record.lowerBound = lower;
    record.accountNumber = "";
    record.selector = 2;
    for (int i = 0; i < 16; ++i) record.optionBytes[i] = static_cast<unsigned char>(0x40 + i);
    record.value1 = 300;
    record.value2 = -1;
    record.value3 = 65535;
    record.value4 = 7;
    record.flagByte = 0x5A;
  }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  // Adds a line (texts are kept alive here; at most 10 lines).
  Request& Line(std::string text, int x = 10, int y = 20) {
    texts.reserve(10);
    texts.push_back(std::move(text));
    PromptLine& line = record.promptLines[record.promptLineCount];
    for (int i = 0; i < 13; ++i) line.attributes[i] = static_cast<unsigned char>(i + 1);
    line.x = x;
    line.y = y;
    line.text = texts.back().c_str();
    ++record.promptLineCount;
    return *this;
  }
};

// What the fields from `selector` on encode to, lines included.
inline Bytes EntryFields(const PinEntryRequest& r) {
  Bytes b(r.optionBytes, r.optionBytes + 16);  // (g++ 12 -O3 misjudges an insert here)
  b.insert(b.begin(), r.selector);
  for (int v : {r.value1, r.value2, r.value3, r.value4}) {
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
    b.push_back(static_cast<std::uint8_t>((v / 256) & 0xFF));
  }
  b.push_back(r.flagByte);
  const int count = r.promptLineCount & 0xFF;
  b.push_back(static_cast<std::uint8_t>(count));
  b.push_back(0);
  for (int i = 0; i < count; ++i) {
    const PromptLine& line = r.promptLines[i];
    const std::string text = line.text;
    b.push_back(static_cast<std::uint8_t>(21 + text.size()));
    b.push_back(0);
    b.insert(b.end(), line.attributes, line.attributes + 13);
    for (int v : {line.x, line.y}) {
      b.push_back(static_cast<std::uint8_t>(v & 0xFF));
      b.push_back(static_cast<std::uint8_t>((v / 256) & 0xFF));
    }
    b.push_back(static_cast<std::uint8_t>(text.size()));
    b.push_back(0);
    b.insert(b.end(), text.begin(), text.end());
  }
  return b;
}

inline Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline vterm::PinPadModule& Pad(support::Session& session) {
  return session.terminal().Get<vterm::PinPadModule>();
}

// Holds the next entry (no answer until cancelled) so a test can push its own messages.
inline void Hold(support::Session& session) {
  Pad(session).ScriptNextEntry({vterm::EntryScript::Kind::kHold, 0, {}, 0});
}

inline void Answer(support::Session& session, Bytes data, int delayMs = 1000) {
  Pad(session).ScriptNextEntry({vterm::EntryScript::Kind::kAnswer, delayMs, std::move(data), 0});
}

}  // namespace pinpad_test
