// Numeric or amount entry: the prompt message cut into 116-byte pieces, each through our
// private-key block; the virtual pad recovers them with OpenSSL's public-key operation, so
// every accepted entry cross-checks the block against an independent implementation.
#include <gtest/gtest.h>

#include <string>

#include "integration/pinpad_test_support.h"
#include "link/link_state.h"
#include "vterm/pin_pad_keys.h"

namespace {

using pinpad_test::Answer;
using pinpad_test::Bytes;
using pinpad_test::EntryFields;
using pinpad_test::Pad;
using pinpad_test::Request;

class NumericEntryTest : public support::TransportTest {
 protected:
  static void SetUpTestSuite() {
    key1024 = new vterm::RsaKeyPair(vterm::GenerateRsaKeyPair(1024));
    key1023 = new vterm::RsaKeyPair(vterm::GenerateRsaKeyPair(1023));
    key768 = new vterm::RsaKeyPair(vterm::GenerateRsaKeyPair(768));
  }
  static void TearDownTestSuite() {
    delete key1024;
    delete key1023;
    delete key768;
  }
  void SetUp() override {
    vterm::UsePublicKey(session.terminal(), *key1024);
    ASSERT_EQ(session.Open(), 1);
  }

  static vterm::RsaKeyPair* key1024;
  static vterm::RsaKeyPair* key1023;
  static vterm::RsaKeyPair* key768;
};
vterm::RsaKeyPair* NumericEntryTest::key1024 = nullptr;
vterm::RsaKeyPair* NumericEntryTest::key1023 = nullptr;
vterm::RsaKeyPair* NumericEntryTest::key768 = nullptr;
VANTOREL_ON_BOTH_TRANSPORTS(NumericEntryTest);

// A request whose prompt message is exactly `length` bytes (28 + one line of length - 49,
// or two lines when one cannot carry it).
void MessageOfLength(Request& request, std::size_t length) {
  if (length == 28) return;
  if (length <= 28 + 255) {
    request.Line(std::string(length - 28 - 21, 'a'));
  } else {
    const std::size_t rest = length - 28 - 42;
    request.Line(std::string(rest / 2, 'b')).Line(std::string(rest - rest / 2, 'c'));
  }
}

TEST_P(NumericEntryTest, ArgumentsOutOfRangeAreRefusedBeforeSending) {
  struct Case {
    const char* what;
    unsigned char entryMode;
    std::function<void(Request&)> spoil;
  } const cases[] = {
      {"mode 0", 0, [](Request&) {}},
      {"mode 3", 3, [](Request&) {}},
      {"upper 3", 1, [](Request& r) { r.record.upperBound = 3; }},
      {"upper 21", 1, [](Request& r) { r.record.upperBound = 21; }},
      {"lower 3", 1, [](Request& r) { r.record.lowerBound = 3; }},
      {"lower 21", 1, [](Request& r) { r.record.upperBound = 20, r.record.lowerBound = 21; }},
      {"upper < lower", 2, [](Request& r) { r.record.upperBound = 9, r.record.lowerBound = 10; }},
      {"selector 4", 1, [](Request& r) { r.record.selector = 4; }},
      {"11 lines", 1, [](Request& r) { r.record.promptLineCount = 11; }},
      {"message 257", 1, [](Request& r) { MessageOfLength(r, 257); }},
      {"text 235", 1, [](Request& r) { r.Line(std::string(235, 't')); }},
      {"null text", 1, [](Request& r) { r.Line("t").record.promptLines[0].text = nullptr; }},
      {"null result", 1, [](Request& r) { r.record.result = nullptr; }},
  };
  for (const auto& c : cases) {
    Request request;
    c.spoil(request);
    EXPECT_EQ(PIN_GetNumericOrAmount(c.entryMode, request.record, key1024->privateKey), 99)
        << c.what;
  }
  EXPECT_TRUE(session.Commands().empty());
}

// One full entry: the command bytes, the recovered message, the copy of the answer.
TEST_P(NumericEntryTest, ShortMessageIsOnePieceAndTheAnswerIsCopied) {
  Answer(session, Bytes{0x03, '1', '2', '5', 'F', 'F'});  // 02 07 00 06 03 31 32 35 46 46 33 2D 03
  Request request(20, 4);
  EXPECT_EQ(PIN_GetNumericOrAmount(1, request.record, key1024->privateKey), 1);
  const Bytes sent = session.OnlyCommand();
  ASSERT_EQ(sent.size(), 133u);
  EXPECT_EQ(session.Frames().front().size(), 139u);
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 5), (Bytes{0x75, 0x46, 0x22, 20, 4}));
  const auto entry = Pad(session).LastEntry();
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->pieces, 1u);
  EXPECT_EQ(entry->promptMessage, EntryFields(request.record));
  EXPECT_EQ(request.resultLength, 3);
  EXPECT_EQ(Bytes(request.result.begin(), request.result.begin() + 5),
            (Bytes{'1', '2', '5', 0x00, 0xEE}));
}

TEST_P(NumericEntryTest, MessageIsCutIntoPiecesOf116) {
  struct Case {
    std::size_t length;
    std::size_t pieces;
  } const cases[] = {{116, 1}, {117, 2}, {232, 2}, {233, 3}, {256, 3}};
  for (const auto& c : cases) {
    session.Clear();
    Answer(session, Bytes{0x01, '7', 'F', 'F', 'F'}, session.serial() ? 1000 : 50);
    Request request;
    MessageOfLength(request, c.length);
    ASSERT_EQ(EntryFields(request.record).size(), c.length);
    EXPECT_EQ(PIN_GetNumericOrAmount(2, request.record, key1024->privateKey), 1) << c.length;
    const Bytes sent = session.OnlyCommand();
    EXPECT_EQ(sent.size(), 5 + 128 * c.pieces) << c.length;
    EXPECT_EQ(sent[2], 0x23);
    const auto entry = Pad(session).LastEntry();
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->pieces, c.pieces) << c.length;
    EXPECT_EQ(entry->promptMessage, EntryFields(request.record)) << c.length;
    EXPECT_EQ(entry->lines.size(), static_cast<std::size_t>(request.record.promptLineCount));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(request.result.data())), "7");
  }
}

// A 1023-bit key still yields 128 bytes a piece.
TEST_P(NumericEntryTest, ShorterKeyStillFillsWholePieces) {
  vterm::UsePublicKey(session.terminal(), *key1023);
  Request request;
  MessageOfLength(request, 150);
  EXPECT_EQ(PIN_GetNumericOrAmount(1, request.record, key1023->privateKey), 1);
  EXPECT_EQ(session.OnlyCommand().size(), 5u + 256u);
  EXPECT_EQ(Pad(session).LastEntry()->promptMessage, EntryFields(request.record));
}

TEST_P(NumericEntryTest, FailedPrivateKeyOperationSendsNothing) {
  RsaPrivateKey tooLong = key1024->privateKey;
  tooLong.bits = 1032;  // more than the record holds
  for (std::size_t length : {28u, 200u}) {
    Request request;
    MessageOfLength(request, length);
    // The block is not below a 768-bit modulus.
    EXPECT_EQ(PIN_GetNumericOrAmount(1, request.record, key768->privateKey), 0) << length;
    EXPECT_EQ(PIN_GetNumericOrAmount(1, request.record, tooLong), 0) << length;
  }
  EXPECT_TRUE(session.Commands().empty());
  EXPECT_EQ(vantorel::link::State().pinEntryActive.load(), 0);
}

// The pad refuses pieces that do not recover with its public key.
TEST_P(NumericEntryTest, PadRefusesPiecesOfAnotherKey) {
  vterm::UsePublicKey(session.terminal(), *key1023);
  Request request;
  EXPECT_EQ(PIN_GetNumericOrAmount(1, request.record, key1024->privateKey), 102);
  EXPECT_EQ(session.Commands().size(), 1u);
  EXPECT_EQ(Pad(session).EntryCount(), 0);
  EXPECT_EQ(request.resultLength, -7);
}

TEST_P(NumericEntryTest, AnswerWithoutPaddingIsCopiedToItsCheckBytes) {
  Answer(session, Bytes{0x2A, '9', '9', '0', '0', '1'});
  Request request;
  EXPECT_EQ(PIN_GetNumericOrAmount(1, request.record, key1024->privateKey), 1);
  EXPECT_EQ(request.resultLength, 0x2A);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(request.result.data())), "99001");
}

}  // namespace
