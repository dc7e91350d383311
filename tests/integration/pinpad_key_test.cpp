// The key commands: names, the stricter success rule, exact frames.
#include <gtest/gtest.h>

#include <string>

#include "integration/pinpad_test_support.h"

namespace {

using pinpad_test::Bytes;

class PinKeyTest : public support::TransportTest {};
VANTOREL_ON_BOTH_TRANSPORTS(PinKeyTest);

TEST_P(PinKeyTest, GetKeyNamesTheKey) {
  struct Case {
    std::uint8_t key;
    const char* name;
  } const cases[] = {{'E', "ENTER"}, {'C', "CANCEL"}, {'B', "BACKSPACE"}, {0x31, ""}};
  ASSERT_EQ(session.Open(), 1);
  auto& reader = session.terminal().Get<vterm::CardReaderModule>();
  for (const auto& c : cases) {
    session.Clear();
    reader.PressKey(static_cast<vterm::PadKey>(c.key));
    char name[10];
    std::fill(std::begin(name), std::end(name), 'z');
    int length = -1;
    EXPECT_EQ(PIN_GetKey(name, &length), 1) << c.name;
    EXPECT_STREQ(name, c.name);
    EXPECT_EQ(length, static_cast<int>(std::string(c.name).size()));
    EXPECT_EQ(session.Frames().front(),
              (Bytes{0x02, 0x03, 0x00, 0x75, 0x46, 0x81, 0xB2, 0x3C, 0x03}));
  }
}

TEST_P(PinKeyTest, ClearAndInvalidateFrames) {
  ASSERT_EQ(session.Open(), 1);
  EXPECT_EQ(PIN_ClearKey(), 1);
  EXPECT_EQ(PIN_InvalidateKey(), 1);
  EXPECT_EQ(session.Frames(),
            (std::vector<Bytes>{{0x02, 0x03, 0x00, 0x75, 0x46, 0x82, 0xB1, 0x3D, 0x03},
                                {0x02, 0x03, 0x00, 0x75, 0x46, 0x84, 0xB7, 0x3F, 0x03}}));
  EXPECT_EQ(pinpad_test::Pad(session).InvalidateKeyCount(), 1);
}

TEST_P(PinKeyTest, FailuresLeaveTheOutputsAlone) {
  char name[10] = "untouched";
  int length = -1;
  EXPECT_EQ(PIN_GetKey(name, &length), 201);
  EXPECT_EQ(PIN_ClearKey(), 201);
  EXPECT_EQ(PIN_InvalidateKey(), 201);
  ASSERT_EQ(session.Open(), 1);
  EXPECT_EQ(PIN_GetKey(nullptr, &length), 99);
  EXPECT_EQ(PIN_GetKey(name, nullptr), 99);
  EXPECT_TRUE(session.Commands().empty());
  // A 6-byte reply with ACK is not enough for any of the three.
  session.terminal().TruncateNext(3, 6);
  EXPECT_EQ(PIN_ClearKey(), 0);
  EXPECT_EQ(PIN_InvalidateKey(), 0);
  EXPECT_EQ(PIN_GetKey(name, &length), 0);
  session.terminal().RefuseNext(1, 0x19);
  EXPECT_EQ(PIN_GetKey(name, &length), 106);
  EXPECT_STREQ(name, "untouched");
  EXPECT_EQ(length, -1);
}

}  // namespace
