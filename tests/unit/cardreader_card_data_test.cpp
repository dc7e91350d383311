// Pure logic of the card reader: what a read becomes, the flag folding, the manual-entry body.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "cardreader/card_data.h"
#include "cardreader/manual_entry.h"
#include "cardreader/settings_table.h"
#include "vterm/frame_codec.h"

namespace {

using namespace vantorel::cardreader;
using vterm::Bytes;

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// Runs PrepareDelivery over `bytes` as a read of their length.
Bytes Delivered(const Bytes& bytes) {
  std::array<std::uint8_t, 512> received{};
  std::array<std::uint8_t, 512> delivery{};
  std::copy(bytes.begin(), bytes.end(), received.begin());
  const std::size_t n =
      PrepareDelivery(received.data(), static_cast<int>(bytes.size()), delivery.data());
  return Bytes(delivery.begin(), delivery.begin() + static_cast<std::ptrdiff_t>(n));
}

TEST(CardReaderLineEnds, RewritesOnlyLineFeedsThatEndATrack) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"%B41^A^25?\n;41=25?\n", "%B41^A^25?\r;41=25?\r"},  // both tracks
      {"%B41?\n\r;41=25?\n", "%B41?\n\r;41=25?\r"},        // CR already follows: kept
      {"ab\ncd?x\n", "ab\ncd?x\n"},                        // LF after other bytes: kept
      {"?\n\n", "?\r\n"},                                  // a rewritten LF is no '?'
      {"\n?", "\n?"},                                      // the first byte has no predecessor
      {"??\n", "??\r"},                                    // LF in the last position
  };
  for (const Case& c : cases) {
    Bytes bytes = Text(c.in);
    RewriteTrackLineEnds(bytes.data(), bytes.size());
    EXPECT_EQ(bytes, Text(c.out)) << c.in;
  }
}

TEST(CardReaderDelivery, CountsAndKeyRepliesDecideWhatIsDelivered) {
  const Bytes eleven = Text("%B4111?\n;1?");
  ASSERT_EQ(eleven.size(), 11u);
  EXPECT_EQ(Delivered(eleven), Text("%B4111?\r;1?"));
  EXPECT_TRUE(Delivered(Text("%B4111?\n;1")).empty()) << "10 bytes";
  EXPECT_TRUE(Delivered(Text("%B4111?\n;")).empty()) << "9 bytes";
  EXPECT_TRUE(Delivered({}).empty());

  // Key replies: exactly 8 bytes with ACK at byte 3, key at byte 4.
  EXPECT_EQ(Delivered(vterm::AckFrame(Bytes{'C'})), (Bytes{0x7B, 1}));
  EXPECT_EQ(Delivered(vterm::AckFrame(Bytes{'B'})), (Bytes{0x7B, 2}));
  EXPECT_EQ(Delivered(vterm::AckFrame(Bytes{'E'})), (Bytes{0x7B, 3}));
  EXPECT_TRUE(Delivered(vterm::AckFrame(Bytes{'A'})).empty());
  EXPECT_TRUE(Delivered(vterm::AckFrame(Bytes{0x00})).empty());
  Bytes nak = vterm::AckFrame(Bytes{'E'});
  nak[3] = 0x15;
  EXPECT_TRUE(Delivered(nak).empty()) << "8 bytes without ACK";
  EXPECT_TRUE(Delivered(vterm::AckFrame(Bytes{'E', 'E'})).empty()) << "9-byte key reply";
}

TEST(CardReaderDelivery, FramedRecordsPassUnchanged) {
  const Bytes record = vterm::ShortFrame(Text("ENC?\n?\nDATA"));
  ASSERT_EQ(record[0], 0x02);
  EXPECT_EQ(Delivered(record), record);
  // And the whole of a 512-byte read.
  Bytes big(512, 'x');
  big[100] = '?';
  big[101] = '\n';
  Bytes expected = big;
  expected[101] = '\r';
  EXPECT_EQ(Delivered(big), expected);
}

TEST(CardReaderSettings, FlagsFoldInArgumentOrder) {
  const std::uint8_t none[] = {0, 0, 0, 0};
  const std::uint8_t all[] = {1, 0xFF, 7, 2};
  const std::uint8_t second[] = {0, 9, 0, 0};
  EXPECT_EQ(FoldFlags(none, 4), 0x00);
  EXPECT_EQ(FoldFlags(all, 4), 0x0F);
  EXPECT_EQ(FoldFlags(all, 3), 0x07);
  EXPECT_EQ(FoldFlags(second, 4), 0x02);
}

TEST(CardReaderSettings, TableHasThirtyDistinctExports) {
  for (std::size_t i = 0; i < kSettings.size(); ++i) {
    for (std::size_t j = i + 1; j < kSettings.size(); ++j) {
      EXPECT_NE(kSettings[i].name, kSettings[j].name);
      EXPECT_FALSE(kSettings[i].function == kSettings[j].function &&
                   kSettings[i].sub == kSettings[j].sub)
          << kSettings[i].name << " and " << kSettings[j].name;
    }
  }
}

struct ManualRequest {
  ManualEntryRequest r{};
  std::vector<std::string> texts;
  ManualRequest() {
    r.mode = 1;
    r.entryKind = 3;
    r.upperBound = 19;
    r.lowerBound = 12;
    r.selector = 3;
    for (int i = 0; i < 16; ++i) r.optionBytes[i] = static_cast<unsigned char>(0xA0 + i);
    r.value1 = 0x1234;
    r.value2 = -1;
    r.value3 = 70000;
    r.value4 = 0;
    r.flagByte = 0x5C;
    texts.reserve(10);
  }
  void Line(std::string text) {
    texts.push_back(std::move(text));
    PromptLine& line = r.promptLines[r.promptLineCount++];
    line.x = 300;
    line.y = 2;
    line.text = texts.back().c_str();
  }
};

TEST(CardReaderManualEntry, HeaderLayout) {
  ManualRequest m;
  std::array<std::uint8_t, kManualBodyCapacity> body{};
  ASSERT_EQ(BuildManualEntryBody(m.r, body.data()), 32u);
  const Bytes expected{1,    3,    19,   12,   3,    0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5,
                       0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF, 0x34,
                       0x12, 0xFF, 0x00, 0x70, 0x11, 0x00, 0x00, 0x5C, 0x00, 0x00};
  EXPECT_EQ(Bytes(body.begin(), body.begin() + 32), expected);
}

TEST(CardReaderManualEntry, LinesFollowTheHeader) {
  ManualRequest m;
  m.Line("");
  std::array<std::uint8_t, kManualBodyCapacity> body{};
  ASSERT_EQ(BuildManualEntryBody(m.r, body.data()), 53u);
  EXPECT_EQ(body[30], 1);
  EXPECT_EQ(body[32], 21);
  EXPECT_EQ(body[32 + 15], 0x2C);  // x = 300
  EXPECT_EQ(body[32 + 16], 0x01);

  m.r.promptLineCount = 0x100;  // only the low byte counts
  EXPECT_EQ(BuildManualEntryBody(m.r, body.data()), 32u);
}

TEST(CardReaderManualEntry, BodiesBeyondTheLimitsAreRefused) {
  ManualRequest tooLong;
  tooLong.Line(std::string(235, 'x'));
  std::array<std::uint8_t, kManualBodyCapacity> body{};
  EXPECT_EQ(BuildManualEntryBody(tooLong.r, body.data()), 0u);

  ManualRequest longest;
  longest.Line(std::string(234, 'x'));
  EXPECT_EQ(BuildManualEntryBody(longest.r, body.data()), 32u + 255u);

  // Two lines of 255 bytes pass 512 with the header.
  longest.Line(std::string(234, 'y'));
  EXPECT_EQ(BuildManualEntryBody(longest.r, body.data()), 0u);

  ManualRequest nullText;
  nullText.r.promptLineCount = 1;
  EXPECT_EQ(BuildManualEntryBody(nullText.r, body.data()), 0u);
}

TEST(CardReaderManualEntry, ValueChecks) {
  struct Case {
    const char* what;
    void (*change)(ManualEntryRequest&);
    bool valid;
  };
  const Case cases[] = {
      {"as built", [](ManualEntryRequest&) {}, true},
      {"mode 2", [](ManualEntryRequest& r) { r.mode = 2; }, false},
      {"mode 0", [](ManualEntryRequest& r) { r.mode = 0; }, true},
      {"kind 0", [](ManualEntryRequest& r) { r.entryKind = 0; }, false},
      {"kind 4", [](ManualEntryRequest& r) { r.entryKind = 4; }, false},
      {"kind 1", [](ManualEntryRequest& r) { r.entryKind = 1; }, true},
      {"upper below lower", [](ManualEntryRequest& r) { r.upperBound = 11; }, false},
      {"upper equals lower", [](ManualEntryRequest& r) { r.upperBound = 12; }, true},
      {"selector 4", [](ManualEntryRequest& r) { r.selector = 4; }, false},
      {"11 lines", [](ManualEntryRequest& r) { r.promptLineCount = 11; }, false},
      {"0x100 lines", [](ManualEntryRequest& r) { r.promptLineCount = 0x100; }, true},
  };
  for (const Case& c : cases) {
    ManualRequest m;
    c.change(m.r);
    EXPECT_EQ(ManualEntryValuesValid(m.r), c.valid) << c.what;
  }
}

TEST(CardReaderManualEntry, WhichEntriesEndOnAnAck) {
  ManualEntryRequest r{};
  const struct {
    std::uint8_t mode, kind;
    bool ack;
  } cases[] = {{0, 1, true},  {0, 2, true},  {0, 3, false},
               {1, 1, false}, {1, 2, false}, {1, 3, false}};
  for (const auto& c : cases) {
    r.mode = c.mode;
    r.entryKind = c.kind;
    EXPECT_EQ(EndsOnAck(r), c.ack) << int(c.mode) << "/" << int(c.kind);
  }
}

}  // namespace
