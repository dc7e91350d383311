// Secure reading against the virtual terminal: the switch-on, the reading loop's deliveries,
// the ways reading ends.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "cardreader_test_support.h"
#include "link/link_state.h"
#include "vterm/device.h"

namespace {

using namespace cardreader_test;
using support::TransportTest;
using vterm::CardReaderModule;
using vterm::PadKey;
using vterm::Via;

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

const Bytes kEnable1{0x02, 0x05, 0x00, 0x73, 0x46, 0xE1, 0x01, 0x31, 0xE4, 0xCC, 0x03};
const Bytes kEnable2{0x02, 0x05, 0x00, 0x73, 0x53, 0x1A, 0x01, 0x31, 0x0A, 0x12, 0x03};
const Bytes kEnable3{0x02, 0x03, 0x00, 0x75, 0x46, 0x82, 0xB1, 0x3D, 0x03};
const Bytes kKeyPoll{0x02, 0x03, 0x00, 0x75, 0x46, 0x81, 0xB2, 0x3C, 0x03};
const Bytes kDisable{0x02, 0x05, 0x00, 0x73, 0x46, 0xE1, 0x01, 0x30, 0xE5, 0xCB, 0x03};

class SecureReading : public TransportTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
    Deliveries::Instance().Register();
  }
  CardReaderModule& reader() { return Reader(session); }
  Deliveries& deliveries() { return Deliveries::Instance(); }
};
VANTOREL_ON_BOTH_TRANSPORTS(SecureReading);

TEST_P(SecureReading, SwitchOnPollAndSwitchOffFrames) {
  Reading reading;
  ASSERT_TRUE(WaitForKeyPolls(session, 2));
  EXPECT_TRUE(session.terminal().Device().SecureHeadOn());
  EXPECT_EQ(reader().Setting(0x1A), '1');
  EXPECT_EQ(reader().KeyClears(), 1);
  EXPECT_EQ(MSR_DisableSecureHead(), VANTOREL_SUCCESS);
  EXPECT_EQ(reading.Result(), VANTOREL_SUCCESS);
  EXPECT_FALSE(session.terminal().Device().SecureHeadOn());

  const auto frames = session.Frames();
  ASSERT_GE(frames.size(), 6u);
  EXPECT_EQ(frames[0], kEnable1);
  EXPECT_EQ(frames[1], kEnable2);
  EXPECT_EQ(frames[2], kEnable3);
  EXPECT_EQ(frames[3], kKeyPoll);
  EXPECT_EQ(frames[4], kKeyPoll);
  EXPECT_EQ(frames.back(), kDisable);
  for (std::size_t i = 3; i + 1 < frames.size(); ++i) EXPECT_EQ(frames[i], kKeyPoll) << i;
}

TEST_P(SecureReading, TrackTextArrivesWithItsLineEndsRewritten) {
  Reading reading;
  ASSERT_TRUE(WaitForKeyPolls(session, 1));
  reader().Swipe(CardReaderModule::TrackText(
                     {"%B4761739001010119^TEST/CARD^2512101?", ";4761739001010119=2512101?"}),
                 Via::kUnsolicited);
  ASSERT_TRUE(deliveries().WaitFor(1));
  EXPECT_EQ(deliveries().Received().at(0),
            Text("%B4761739001010119^TEST/CARD^2512101?\r;4761739001010119=2512101?\r"));
  EXPECT_EQ(deliveries().Contexts().at(0), kContext);
  bool pushed = false;
  for (const auto& m : session.terminal().Sent()) pushed |= m.origin == vterm::Origin::kPush;
  EXPECT_TRUE(pushed) << "the swipe came unasked";
}

TEST_P(SecureReading, FramedRecordsAndKeyPollRepliesAreDeliveredUnchanged) {
  Reading reading;
  ASSERT_TRUE(WaitForKeyPolls(session, 1));
  const Bytes record = CardReaderModule::EncryptedRecord(Text("\x81\x40?\nENC-TRACK-2?\n\xEE"));
  reader().Swipe(record, Via::kUnsolicited);
  const Bytes polled = Text(";5413330089010434=2512?\n");  // card data as the poll's reply
  reader().Swipe(polled, Via::kKeyPoll);
  ASSERT_TRUE(deliveries().WaitFor(2));
  const auto got = deliveries().Received();
  EXPECT_EQ(got.at(0), record);
  EXPECT_EQ(got.at(1), Text(";5413330089010434=2512?\r"));
}

// Card data the terminal sends right behind the switch-on's last reply, so that the enable's
// own read collects both, belongs to the reading loop: delivered once, unchanged.
TEST_P(SecureReading, CardDataRightBehindTheSwitchOnIsDelivered) {
  const Bytes record = CardReaderModule::EncryptedRecord(Text("\x81\x40?\nENC-TRACK-1?\n\xEE"));
  auto& terminal = session.terminal();
  std::atomic<std::uint64_t> clearSeq{0};
  std::atomic<bool> pushed{false};
  const int id = terminal.AddTrafficListener(
      [&](const vterm::ReceivedFrame& f) {
        if (f.command.Key() == vterm::CommandKey{0x75, 0x46, 0x82}) clearSeq = f.seq;
      },
      [&](const vterm::SentMessage& m) {
        if (m.frameSeq != 0 && m.frameSeq == clearSeq.load() && !pushed.exchange(true)) {
          terminal.PushAfter(0, record);  // leaves once the reply has left
        }
      });
  {
    Reading reading;
    ASSERT_TRUE(WaitForKeyPolls(session, 2));
    ASSERT_TRUE(deliveries().WaitFor(1, 2000ms));
    EXPECT_EQ(MSR_DisableSecureHead(), VANTOREL_SUCCESS);
    EXPECT_EQ(reading.Result(), VANTOREL_SUCCESS);
  }
  terminal.RemoveTrafficListener(id);
  ASSERT_TRUE(pushed.load());
  EXPECT_EQ(deliveries().Received(), std::vector<Bytes>{record});
  EXPECT_EQ(session.Frames().at(2), kEnable3);
}

TEST_P(SecureReading, ShortReadsDeliverNothingElevenBytesDo) {
  Reading reading;
  ASSERT_TRUE(WaitForKeyPolls(session, 1));
  Bytes nak = vterm::AckFrame(Bytes{'E'});
  nak[3] = 0x15;
  reader().Swipe(Text("123456789"), Via::kUnsolicited);
  reader().Swipe(Text("1234567890"), Via::kKeyPoll);
  reader().Swipe(nak, Via::kUnsolicited);                      // 8 bytes without ACK
  reader().Swipe(vterm::AckFrame(Bytes{'A'}), Via::kKeyPoll);  // not a key
  reader().Swipe(Text("12345678901"), Via::kUnsolicited);
  ASSERT_TRUE(deliveries().WaitFor(1, 15000ms));
  EXPECT_EQ(reader().Pending(), 0u);
  EXPECT_EQ(deliveries().Received(), std::vector<Bytes>{Text("12345678901")});
}

TEST_P(SecureReading, KeyPressesBecomeKeyEvents) {
  Reading reading;
  ASSERT_TRUE(WaitForKeyPolls(session, 1));
  reader().PressKey(PadKey::kCancel, Via::kKeyPoll);
  reader().PressKey(PadKey::kBackspace, Via::kUnsolicited);
  reader().PressKey(PadKey::kEnter, Via::kKeyPoll);
  ASSERT_TRUE(deliveries().WaitFor(3, 15000ms));
  EXPECT_EQ(deliveries().Received(),
            (std::vector<Bytes>{{0x7B, 0x01}, {0x7B, 0x02}, {0x7B, 0x03}}));
}

TEST_P(SecureReading, WithoutAHandlerDeliveriesAreDropped) {
  MSR_AddDataHandle(nullptr, 0);
  Reading reading;
  ASSERT_TRUE(WaitForKeyPolls(session, 1));
  reader().Swipe(Text(";1111222233334444=2512?\n"), Via::kKeyPoll);
  reader().PressKey(PadKey::kEnter, Via::kKeyPoll);
  ASSERT_TRUE(WaitForKeyPolls(session, 4));
  // A handler registered while reading takes over from the next delivery.
  deliveries().Register();
  reader().PressKey(PadKey::kCancel, Via::kKeyPoll);
  ASSERT_TRUE(deliveries().WaitFor(1));
  EXPECT_EQ(deliveries().Received(), (std::vector<Bytes>{{0x7B, 0x01}}));
}

TEST_P(SecureReading, SecondEnableAndManualEntryAreRefusedWhileReading) {
  Reading reading;
  ASSERT_TRUE(WaitForKeyPolls(session, 1));
  const auto before = session.Commands().size();
  EXPECT_EQ(MSR_EnableSecureHead(), VANTOREL_SECURE_HEAD_ACTIVE);
  unsigned char result[512];
  int length = 0;
  ManualEntryRequest request{};
  request.result = result;
  request.resultLength = &length;
  request.entryKind = 1;
  EXPECT_EQ(MSR_ManualInputCardData(request), VANTOREL_SECURE_HEAD_ACTIVE);
  for (const auto& c : session.Commands()) EXPECT_NE(c.at(2), 0x40);
  for (std::size_t i = before; i < session.Commands().size(); ++i) {
    EXPECT_NE(session.Commands()[i].at(2), 0xE1) << "no second switch-on";
  }
}

TEST_P(SecureReading, CloseEndsReadingWithoutTheSwitchOff) {
  Reading reading;
  ASSERT_TRUE(WaitForKeyPolls(session, 1));
  EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
  EXPECT_EQ(reading.Result(), VANTOREL_SUCCESS);
  for (const auto& f : session.Frames()) EXPECT_NE(f, kDisable);
  EXPECT_EQ(MSR_DisableSecureHead(), VANTOREL_NOT_OPEN);
}

TEST_P(SecureReading, DisableWithoutReadingSendsTheSwitchOff) {
  EXPECT_EQ(MSR_DisableSecureHead(), VANTOREL_SUCCESS);
  EXPECT_EQ(session.Frames(), std::vector<Bytes>{kDisable});
  session.terminal().RefuseNext(1, 0x19);
  EXPECT_EQ(MSR_DisableSecureHead(), 106);
}

TEST_P(SecureReading, FailedSwitchOnReturnsTheStatusAndDoesNotRead) {
  vterm::Misbehaviour refuse;
  refuse.fault = vterm::Fault::kRefuse;
  refuse.status = 0xC1;
  refuse.only = vterm::CommandKey{0x73, 0x46, 0xE1};
  session.terminal().Misbehave(refuse);
  EXPECT_EQ(MSR_EnableSecureHead(), 102);
  EXPECT_EQ(session.Commands().size(), 1u);

  session.Clear();
  refuse.only = vterm::CommandKey{0x73, 0x53, 0x1A};
  refuse.status = 0x81;
  session.terminal().Misbehave(refuse);
  EXPECT_EQ(MSR_EnableSecureHead(), 103);
  EXPECT_EQ(session.Commands().size(), 2u);

  session.Clear();
  session.terminal().SilenceNext(1);
  EXPECT_EQ(MSR_EnableSecureHead(), VANTOREL_FAILURE);
  EXPECT_EQ(vantorel::link::State().secureHeadActive.load(), 0);

  // Nothing stuck: reading starts normally afterwards.
  Reading reading;
  EXPECT_TRUE(WaitForKeyPolls(session, 1));
}

TEST_P(SecureReading, StateChecksComeFirst) {
  auto& state = vantorel::link::State();
  struct Case {
    std::atomic<std::uint8_t>* flag;
    unsigned char rc;
  };
  const Case cases[] = {{&state.pinEntryActive, 202},
                        {&state.captureActive, 205},
                        {&state.encryptedEntryActive, 207}};
  for (const Case& c : cases) {
    c.flag->store(1);
    EXPECT_EQ(MSR_EnableSecureHead(), c.rc);
    c.flag->store(0);
  }
  EXPECT_TRUE(session.Commands().empty());
  Brixa_Close();
  EXPECT_EQ(MSR_EnableSecureHead(), VANTOREL_NOT_OPEN);
}

}  // namespace
