// Fault table, one ordinary command against a misbehaving terminal, over both transports:
// the return code, what reached the caller, how long the call took, and that the next
// command still gets its own reply once whatever the fault left over has arrived.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "fault_table_support.h"
#include "link/link_state.h"
#include "signpad_test_support.h"
#include "vterm/card_reader.h"
#include "vterm/signpad.h"

// The table drives the virtual terminal's own front ends (split reports, unplugging);
// the VM's kernel HID device has neither.
#ifndef VANTOREL_TEST_UHID

namespace {

using namespace fault_table;
using support::Transport;

enum class Call { kData, kSet };  // Brixa_GetVersion, Brixa_ControlAudio

struct Codes {
  unsigned char serial;
  unsigned char hid;
};

struct Causes {
  const char* serial;
  const char* hid;
};
constexpr Causes kNoReply{"no reply from ", "no reply from "};
constexpr Causes kTooShort{"the reply from ", "the reply from "};
constexpr Causes kGarbled{"a garbled reply from ", "a garbled reply from "};
constexpr Causes kSuccess{"success", "success"};

struct ReplyRow {
  const char* name;
  vterm::Misbehaviour fault;
  Call call;
  Codes rc;
  Span time;
  long settleMs;   // after the call's start, whatever the terminal still sends has left
  Causes cause;    // how Brixa_GetLastErrorText begins
  int slowMs = 0;  // the terminal's processing delay for the call
};

vterm::Misbehaviour Fault(vterm::Fault kind) {
  vterm::Misbehaviour m;
  m.fault = kind;
  return m;
}
vterm::Misbehaviour Short(std::size_t keep) {
  auto m = Fault(vterm::Fault::kShort);
  m.keepBytes = keep;
  return m;
}
vterm::Misbehaviour Garbage(std::size_t length) {
  auto m = Fault(vterm::Fault::kGarbage);
  m.garbageLength = length;
  return m;
}
vterm::Misbehaviour Late(int ms) {
  auto m = Fault(vterm::Fault::kLate);
  m.delayMs = ms;
  return m;
}
// The reply's first four bytes (up to the ACK) `delayMs` after the command arrived, so
// after the serial read began; the rest `gapMs` later.
constexpr int kSplitDelay = 350;
vterm::Misbehaviour Split(int gapMs) {
  auto m = Fault(vterm::Fault::kSplit);
  m.splitAt = 4;
  m.delayMs = kSplitDelay;
  m.gapMs = gapMs;
  return m;
}
// When the serial read sees the first piece: the command arrives after kCommandWait (at once
// under the prompt profile).
constexpr long kFirstPiece = kCommandWait + kSplitDelay;
constexpr long kPromptFirstPiece = kSplitDelay;
// A reply cut short, or bytes that are no frame, all there when the read starts.
constexpr Span kCutShort{kCommandWait + kSerialWait + kSerialSilence, kCommandWait, kPromptCutShort,
                         0};

const ReplyRow kRows[] = {
    {"Silent", Fault(vterm::Fault::kSilent), Call::kData, {0, 0}, kSilent, 0, kNoReply},
    {"SilentToASetter", Fault(vterm::Fault::kSilent), Call::kSet, {0, 0}, kSilent, 0, kNoReply},
    {"ReplyWithoutItsAckByte", Short(3), Call::kData, {0, 0}, kCutShort, 0, kGarbled},
    {"AckWithoutData", Short(6), Call::kData, {0, 0}, kCutShort, 0, kTooShort},
    {"BytesThatAreNoFrame", Garbage(12), Call::kData, {0, 0}, kCutShort, 0, kGarbled},
    {"BytesThatAreNoFrameToASetter", Garbage(12), Call::kSet, {0, 0}, kCutShort, 0, kGarbled},
    // Over serial the chunk that overflows the 512-byte reply ends the read at once.
    {"NoiseBeyondTheReplyBuffer",
     Garbage(700),
     Call::kData,
     {0, 0},
     {kCommandWait + kSerialWait, kCommandWait, kPromptCutShort, 0},
     0,
     {"a garbled reply from ", "a reply from "}},
    // Both pieces inside one serial read call; under the prompt profile the read ends with
    // the reply.
    {"SplitBelowTheReadGap",
     Split(30),
     Call::kData,
     {1, 1},
     {kFirstPiece + 30 + kSerialGap + kSerialSilence, kFirstPiece + 30, kPromptFirstPiece + 30,
      kPromptFirstPiece + 30},
     0,
     kSuccess},
    // The first read call ends at the gap; the next one collects the rest.
    {"SplitAboveTheReadGap",
     Split(120),
     Call::kData,
     {1, 1},
     {kFirstPiece + 120 + kSerialGap + kSerialSilence, kFirstPiece + 120, kPromptFirstPiece + 120,
      kPromptFirstPiece + 120},
     0,
     kSuccess},
    {"SplitAboveTheReadGapToASetter",
     Split(120),
     Call::kSet,
     {1, 1},
     {kFirstPiece + 120 + kSerialGap + kSerialSilence, kFirstPiece + 120, kPromptFirstPiece + 120,
      kPromptFirstPiece + 120},
     0,
     kSuccess},
    // A silent serial read call ends the reply before the rest comes; HID waits on.
    {"SplitAboveTheSilentRead",
     Split(380),
     Call::kData,
     {0, 1},
     {kFirstPiece + kSerialGap + kSerialSilence, kFirstPiece + 380,
      kPromptFirstPiece + kSerialGap + kSerialSilence, kPromptFirstPiece + 380},
     kFirstPiece + 380,
     {"the reply from ", "success"}},
    {"SplitAboveTheReportWait",
     Split(700),
     Call::kData,
     {0, 0},
     {kFirstPiece + kSerialGap + kSerialSilence, kFirstPiece + kHidReportWait,
      kPromptFirstPiece + kSerialGap + kSerialSilence, kPromptFirstPiece + kHidReportWait},
     kFirstPiece + 700,
     kTooShort},
    // A slow terminal: answered within the wait of both profiles, or after it.
    {"SlowTerminal",
     vterm::Misbehaviour{},
     Call::kData,
     {1, 1},
     {kCommandWait + kSerialWait + kSerialGap + kSerialSilence, kCommandWait + 250, 250, 250},
     0,
     kSuccess,
     250},
    {"TooSlowTerminal",
     vterm::Misbehaviour{},
     Call::kData,
     {0, 0},
     kSilent,
     kCommandWait + 600,
     kNoReply,
     600},
    {"LateReply", Late(1200), Call::kData, {0, 0}, kSilent, kCommandWait + 1200, kNoReply},
    {"LateReplyToASetter", Late(1200), Call::kSet, {0, 0}, kSilent, kCommandWait + 1200, kNoReply},
};

void PrintTo(const ReplyRow& row, std::ostream* os) {
  *os << row.name;
}

// Under both profiles: the same outcomes, each in its profile's time.
class FaultReply
    : public ::testing::TestWithParam<std::tuple<Transport, support::Timing, ReplyRow>> {
 protected:
  support::Session session{std::get<0>(GetParam()), std::get<1>(GetParam())};
};

TEST_P(FaultReply, ReturnsInTimeAndLeavesNothingForTheNextCommand) {
  const ReplyRow& row = std::get<2>(GetParam());
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  session.terminal().Misbehave(row.fault);
  session.terminal().SetProcessingDelay(row.slowMs);

  Output out;
  const auto start = Clock::now();
  const unsigned char rc = row.call == Call::kData
                               ? Brixa_GetVersion(out.buffer.data(), &out.length)
                               : Brixa_ControlAudio(3);
  const long elapsed = ElapsedMs(start);

  const unsigned char expected = session.serial() ? row.rc.serial : row.rc.hid;
  EXPECT_EQ(rc, expected);
  // What the application learns about it: the cause, naming the device (or the code's text).
  const std::string cause = Brixa_GetLastErrorText();
  const char* expectedCause = session.serial() ? row.cause.serial : row.cause.hid;
  EXPECT_EQ(cause.rfind(expectedCause, 0), 0u) << cause;
  if (expected != VANTOREL_SUCCESS) {
    EXPECT_NE(cause.find(session.serial() ? session.pty()->Path() : "device 0ACD:3910"),
              std::string::npos)
        << cause;
  }
  if (row.call == Call::kData) {
    if (expected == VANTOREL_SUCCESS) {
      EXPECT_EQ(out.Text(), kVersion) << "the whole reply, joined";
      EXPECT_TRUE(out.NothingBeyond());
    } else {
      EXPECT_TRUE(out.Untouched()) << "a failed command writes nothing to the caller";
    }
  }
  ExpectTime(elapsed, Expected(session, row.time), row.name);
  EXPECT_EQ(session.terminal().Commands().size(), 1u) << "one command, nothing retried";
  session.terminal().SetProcessingDelay(0);

  // Whatever the terminal still owed has arrived now; it belongs to nobody.
  std::this_thread::sleep_until(start + std::chrono::milliseconds(row.settleMs));
  ExpectOwnSerialNumber(row.name);
}

INSTANTIATE_TEST_SUITE_P(, FaultReply,
                         ::testing::Combine(kTransports, kTimings, ::testing::ValuesIn(kRows)),
                         RowName<ReplyRow>);

// Every status of the reply-status map, and values outside it. Sharded so that no single
// test waits through all of them over serial.
struct StatusRow {
  std::uint8_t status;
  unsigned char rc;
};
const StatusRow kStatuses[] = {
    {0xE1, 99},  {0xEC, 100}, {0x6A, 101}, {0xEE, 101}, {0xC1, 102}, {0xED, 102},
    {0x81, 103}, {0xE8, 104}, {0x18, 105}, {0x19, 106}, {0x03, 107}, {0x04, 108},
    {0x05, 109}, {0x0D, 110}, {0x00, 0},   {0x06, 0},   {0x15, 0},   {0xFF, 0},
    {0x01, 0},   {0xE0, 0},   {0xE2, 0},   {0x6B, 0},   {0x80, 0},   {0x1A, 0},
};
constexpr int kShards = 4;

class FaultStatus : public ::testing::TestWithParam<std::tuple<Transport, int>> {
 protected:
  support::Session session{std::get<0>(GetParam())};
};

TEST_P(FaultStatus, RefusalsMapToTheirCodesAndWriteNothing) {
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  const int shard = std::get<1>(GetParam());
  for (std::size_t i = static_cast<std::size_t>(shard); i < std::size(kStatuses); i += kShards) {
    const StatusRow& row = kStatuses[i];
    const std::string what = "status " + std::to_string(row.status);
    session.terminal().RefuseNext(2, row.status);
    Output out;
    auto start = Clock::now();
    EXPECT_EQ(Brixa_GetVersion(out.buffer.data(), &out.length), row.rc) << what;
    char refused[64];
    std::snprintf(refused, sizeof refused, "the command 78 46 01 refused with status 0x%02X",
                  row.status);
    EXPECT_STREQ(Brixa_GetLastErrorText(), refused);
    ExpectTime(ElapsedMs(start), Expected(session, kAnswered), what);
    EXPECT_TRUE(out.Untouched()) << what;
    start = Clock::now();
    EXPECT_EQ(Brixa_ControlAudio(1), row.rc) << what << ", setter";
    ExpectTime(ElapsedMs(start), Expected(session, kAnswered), what + ", setter");
  }
  ExpectOwnSerialNumber("after the refusals");
}

INSTANTIATE_TEST_SUITE_P(, FaultStatus,
                         ::testing::Combine(kTransports, ::testing::Range(0, kShards)),
                         [](const ::testing::TestParamInfo<std::tuple<Transport, int>>& info) {
                           return "Shard" + std::to_string(std::get<1>(info.param)) + "_" +
                                  support::TransportLabel(std::get<0>(info.param));
                         });

// Replies larger than where they go: the reply area of a text getter (512 bytes, so at
// most 505 data bytes) or the caller's buffer of a sign-format or picture read. A reply
// that fits comes back whole; one that does not fails with 0 on both transports, writes
// nothing beyond the caller's buffer (there: clears it), leaves the length alone, costs no
// time-out wait, and its rest is not taken for the next command's reply.
enum class Read { kVersion, kModel, kHeadFirmware, kSignFormat, kPicture };

struct OversizeRow {
  const char* name;
  Read read;
  std::size_t size;         // the text, block or picture data the terminal answers with
  unsigned int bufferSize;  // the caller's buffer (sign-format and picture reads)
  bool fits;
};
void PrintTo(const OversizeRow& row, std::ostream* os) {
  *os << row.name;
}

// A 10 x 10 rectangle: 300 bytes of picture data, a 307-byte reply.
constexpr int kPictureSide = 10;

const OversizeRow kOversizeRows[] = {
    {"VersionFillingTheReplyArea", Read::kVersion, 505, 0, true},
    {"VersionOneByteTooLong", Read::kVersion, 506, 0, false},
    {"VersionOf600Bytes", Read::kVersion, 600, 0, false},
    {"VersionOverSeveralReadChunks", Read::kVersion, 1500, 0, false},
    {"ModelNumberOf600Bytes", Read::kModel, 600, 0, false},
    {"HeadFirmwareFillingTheReplyArea", Read::kHeadFirmware, 505, 0, true},
    {"HeadFirmwareOf600Bytes", Read::kHeadFirmware, 600, 0, false},
    {"SignFormatFillingTheBuffer", Read::kSignFormat, 93, 100, true},
    {"SignFormatOneByteTooLong", Read::kSignFormat, 94, 100, false},
    {"SignFormatThreeTimesTheBuffer", Read::kSignFormat, 300, 100, false},
    {"SignFormatOverSeveralReadChunks", Read::kSignFormat, 3000, 600, false},
    {"PictureFillingTheBuffer", Read::kPicture, 300, 307, true},
    {"PictureOneByteTooLong", Read::kPicture, 300, 306, false},
};

// What the terminal is made to answer with: printable text for the text getters, a byte
// pattern for blocks.
Bytes Content(const OversizeRow& row) {
  Bytes content(row.size);
  for (std::size_t i = 0; i < content.size(); ++i) {
    const bool block = row.read == Read::kSignFormat || row.read == Read::kPicture;
    content[i] =
        block ? static_cast<std::uint8_t>(i * 7 + 1) : static_cast<std::uint8_t>('A' + i % 26);
  }
  return content;
}

class FaultOversize : public ::testing::TestWithParam<std::tuple<Transport, OversizeRow>> {
 protected:
  support::Session session{std::get<0>(GetParam())};
};

TEST_P(FaultOversize, AReplyThatDoesNotFitFailsWholeOnBothTransports) {
  const OversizeRow& row = std::get<1>(GetParam());
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  Bytes content = Content(row);
  const std::string text(content.begin(), content.end());
  auto& pad = session.terminal().Get<vterm::SignpadModule>();
  switch (row.read) {
    case Read::kVersion:
      session.terminal().Device().SetVersion(text);
      break;
    case Read::kModel:
      session.terminal().Device().SetModel(text);
      break;
    case Read::kHeadFirmware:
      session.terminal().Get<vterm::CardReaderModule>().SetFirmware(text);
      break;
    case Read::kSignFormat:
      pad.SetSignFormatBlock(2, content);
      break;
    case Read::kPicture:
      ASSERT_EQ(Zelto_ShowPicture(0, 0, kPictureSide - 1, kPictureSide - 1, content.data(),
                                  static_cast<unsigned int>(content.size())),
                VANTOREL_SUCCESS);
      session.Clear();
      break;
  }

  constexpr std::uint8_t kFill = 0xA5;
  constexpr unsigned int kNoLength = 0xDEAD;
  std::vector<std::uint8_t> buffer(row.bufferSize + 256, kFill);
  unsigned int length = kNoLength;
  Output out;
  unsigned char rc = 0xFF;
  const auto start = Clock::now();
  switch (row.read) {
    case Read::kVersion:
      rc = Brixa_GetVersion(out.buffer.data(), &out.length);
      break;
    case Read::kModel:
      rc = Brixa_GetModelNumber(out.buffer.data(), &out.length);
      break;
    case Read::kHeadFirmware:
      rc = MSR_GetSecureHeadFirmware(reinterpret_cast<unsigned char*>(out.buffer.data()),
                                     &out.length);
      break;
    case Read::kSignFormat:
      rc = Zelto_GetSignFormat(2, buffer.data(), row.bufferSize, &length);
      break;
    case Read::kPicture:
      rc = Zelto_GetPicture(0, 0, kPictureSide - 1, kPictureSide - 1, buffer.data(),
                            static_cast<int>(row.bufferSize), &length);
      break;
  }
  const long elapsed = ElapsedMs(start);

  EXPECT_EQ(rc, row.fits ? VANTOREL_SUCCESS : VANTOREL_FAILURE) << "the same on both transports";
  const bool intoCallersBuffer = row.read == Read::kSignFormat || row.read == Read::kPicture;
  if (intoCallersBuffer) {
    for (std::size_t i = row.bufferSize; i < buffer.size(); ++i) {
      ASSERT_EQ(buffer[i], kFill) << "written beyond the caller's buffer at " << i;
    }
    if (row.fits) {
      ASSERT_EQ(length, row.size);
      EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length)),
                content)
          << "the whole block";
    } else {
      EXPECT_EQ(length, kNoLength) << "no length for a reply that was not taken";
      EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + row.bufferSize), Bytes(row.bufferSize, 0))
          << "no part of the reply is left in the caller's buffer";
    }
  } else if (row.fits) {
    EXPECT_EQ(out.Text(), text) << "a text that fits comes back whole";
    EXPECT_TRUE(out.NothingBeyond());
  } else {
    EXPECT_TRUE(out.Untouched()) << "no cut text, no length";
  }
  // A serial reply ends with a silent read call only when it fits: one that does not ends
  // once all of it has come. Over HID its last report ends it either way.
  ExpectTime(
      elapsed,
      Expected(session, row.fits ? kAnswered : Span{kCommandWait + kSerialWait, kCommandWait}),
      row.name);
  EXPECT_EQ(session.terminal().Commands().size(), 1u) << "one command, nothing retried";

  // Right after: nothing of the reply is left to become this command's answer, and nothing
  // is owed that it would wait for.
  const auto next = Clock::now();
  ExpectOwnSerialNumber(row.name);
  ExpectTime(ElapsedMs(next), Expected(session, kAnswered), std::string(row.name) + ", next");
}

INSTANTIATE_TEST_SUITE_P(
    , FaultOversize, ::testing::Combine(kTransports, ::testing::ValuesIn(kOversizeRows)),
    [](const ::testing::TestParamInfo<std::tuple<Transport, OversizeRow>>& info) {
      return std::string(std::get<1>(info.param).name) + "_" +
             support::TransportLabel(std::get<0>(info.param));
    });

// The restart command, answered with an ACK or silently: Brixa_ReSet returns 1 in its
// time, and once the terminal is back neither an ordinary command nor a long-running start
// takes that ACK for its own reply.
struct RestartRow {
  const char* name;
  bool acknowledged;
  bool silentStart;  // the next call: a capture start on a silent terminal, else a command
};
void PrintTo(const RestartRow& row, std::ostream* os) {
  *os << row.name;
}

const RestartRow kRestartRows[] = {
    {"SilentThenACommand", false, false},
    {"AcknowledgedThenACommand", true, false},
    {"AcknowledgedThenASilentCaptureStart", true, true},
};

class FaultRestart : public ::testing::TestWithParam<std::tuple<Transport, RestartRow>> {
 protected:
  support::Session session{std::get<0>(GetParam())};
};

TEST_P(FaultRestart, TheRestartsAnswerBelongsToNobody) {
  const RestartRow& row = std::get<1>(GetParam());
  ASSERT_EQ(session.Open(), VANTOREL_SUCCESS);
  session.terminal().Device().SetRestartReply(row.acknowledged);
  const int restarts = session.terminal().RestartCount();
  auto start = Clock::now();
  EXPECT_EQ(Brixa_ReSet(), VANTOREL_SUCCESS);
  // Over serial the frame is only written; over HID the ACK ends the exchange, and so does
  // the device leaving the bus when the terminal restarts without one.
  ExpectTime(ElapsedMs(start), kCommandWait, "restart");
  ASSERT_TRUE(WaitUntil([&] {
    return session.terminal().RestartCount() > restarts && !session.terminal().Restarting();
  }));
  std::this_thread::sleep_for(50ms);

  if (row.silentStart) {
    signpad_test::Recorder recorder;
    recorder.Register();
    session.terminal().SilenceNext(1);
    start = Clock::now();
    EXPECT_EQ(Bounded([] { return Zelto_StartCapture(1, 1, 2, 3, 4, 5, 6, 7); }, 2500),
              std::optional<unsigned char>(VANTOREL_FAILURE))
        << "the restart's ACK does not acknowledge the start";
    EXPECT_LE(ElapsedMs(start), Expected(session, kSilentStart) + kOwedReplyWindow + kLate);
    EXPECT_TRUE(recorder.Calls().empty());
    if (vantorel::link::State().linkOpen.load() == 0) {
      ADD_FAILURE() << "the start had to be ended with Brixa_Close";
      ASSERT_EQ(OpenAgain(session), VANTOREL_SUCCESS);
    }
  }
  // The restart's reply is never read by the restart itself: the next command may wait
  // out the rest of the owed-reply window first.
  start = Clock::now();
  ExpectOwnSerialNumber(row.name);
  EXPECT_LE(ElapsedMs(start), Expected(session, kAnswered) + kOwedReplyWindow + kLate);
}

INSTANTIATE_TEST_SUITE_P(
    , FaultRestart, ::testing::Combine(kTransports, ::testing::ValuesIn(kRestartRows)),
    [](const ::testing::TestParamInfo<std::tuple<Transport, RestartRow>>& info) {
      return std::string(std::get<1>(info.param).name) + "_" +
             support::TransportLabel(std::get<0>(info.param));
    });

}  // namespace

#endif  // VANTOREL_TEST_UHID
