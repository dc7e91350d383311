// Signature capture end to end: the virtual pen writes, the handler receives.
#include <gtest/gtest.h>

#include "signpad_test_support.h"

namespace {

using namespace signpad_test;
using support::Bytes;

class SignpadCapture : public PadTest {
 protected:
  void TearDown() override { Zelto_AddPointHandle(nullptr, nullptr); }
  // Ends the capture from this thread and returns what the start returned.
  std::optional<int> Exit(Capture& capture) {
    EXPECT_EQ(Zelto_ExitCapture(), 1);
    return capture.Finish();
  }
  Recorder recorder;
};
VANTOREL_ON_BOTH_TRANSPORTS(SignpadCapture);

// Every point of a known stroke set arrives in order with its pen-up markers; a stroke that
// begins farther out than one relative move brings no point the pen did not draw.
TEST_P(SignpadCapture, DeliversEveryPointInOrderInFormats124) {
  auto strokes = KnownStrokes();
  strokes.push_back({{1000, 500}, {990, 510}});
  for (unsigned char format : {1, 2, 4}) {
    SCOPED_TRACE(static_cast<int>(format));
    Recorder local;
    local.Register();
    Capture capture(format);
    ASSERT_TRUE(Capture::WaitRunning());
    EXPECT_EQ(pad().Format(), format);
    EXPECT_EQ(pad().CaptureBytes(), (Bytes{1, 2, 3, 4, 5, 6, 7}));
    pad().Write(strokes);
    const auto expected = Expected(strokes);
    ASSERT_TRUE(local.WaitForPoints(expected.size()));
    EXPECT_EQ(local.Points(), expected);
    EXPECT_EQ(Exit(capture), 1);
    for (auto id : local.Threads()) EXPECT_EQ(id, local.Threads().front());
  }
}

TEST_P(SignpadCapture, StartCommandAndPointCount) {
  recorder.Register();
  Capture capture(1);
  ASSERT_TRUE(Capture::WaitRunning());
  EXPECT_EQ(session.OnlyCommand(), (Bytes{0x7A, 0x46, 0x10, 1, 1, 2, 3, 4, 5, 6, 7}));
  pad().Write({{{10, 10}, {20, 20}, {30, 30}}});
  ASSERT_TRUE(recorder.WaitForPoints(8));
  unsigned int count = 0;
  ASSERT_EQ(Zelto_GetPointCount(&count), 1);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(Exit(capture), 1);
}

TEST_P(SignpadCapture, Format3DeliversNoPoints) {
  recorder.Register();
  Capture capture(3);
  ASSERT_TRUE(Capture::WaitRunning());
  pad().Write(KnownStrokes());
  for (int i = 0; i < 200 && pad().PendingPackets() > 0; ++i) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(pad().PendingPackets(), 0u);
  std::this_thread::sleep_for(300ms);  // what was sent has been read
  if (!session.serial()) {
    ASSERT_TRUE(pad().PressKey('E'));
    ASSERT_TRUE(recorder.WaitForCalls(1));
  }
  EXPECT_EQ(Exit(capture), 1);
  EXPECT_TRUE(recorder.Points().empty());
  if (!session.serial()) {
    EXPECT_EQ(recorder.Events(), (std::vector<std::vector<int>>{{123, 3}}));
  }
}

TEST_P(SignpadCapture, Formats0And5DeliverNoPoints) {
  recorder.Register();
  for (unsigned char format : {0, 5}) {
    Capture capture(format);
    ASSERT_TRUE(Capture::WaitRunning());
    pad().Write({{{10, 10}, {20, 20}}});
    for (int i = 0; i < 200 && pad().PendingPackets() > 0; ++i) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Exit(capture), 1);
  }
  EXPECT_TRUE(recorder.Calls().empty());
}

// Pen data cut anywhere: the carry joins packets across reads; a bad packet loses only its
// own run.
TEST_P(SignpadCapture, CarryJoinsPacketsSplitAcrossMessages) {
  recorder.Register();
  Capture capture(1);
  ASSERT_TRUE(Capture::WaitRunning());
  const std::vector<vterm::Stroke> strokes{{{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}},
                                           {{11, 12}, {13, 14}}};
  const Bytes stream = vterm::SignpadModule::EncodeStrokes(1, strokes);  // 45 bytes
  std::size_t at = 0;
  for (std::size_t size : {7, 12, 8, 6, 12}) {
    session.terminal().PushAfter(static_cast<int>(at) * 8,
                                 Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                       stream.begin() + static_cast<std::ptrdiff_t>(at + size)));
    at += size;
  }
  ASSERT_EQ(at, stream.size());
  // Over HID the last stroke waits in the batch until the capture ends.
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(Exit(capture), 1);
  EXPECT_EQ(recorder.Points(), Expected(strokes));
}

// Device commands from another thread while the pen streams (the pad does not pause its pen
// for them): their replies are told from the pen packets around them, no point is lost or
// doubled, and over hidraw no report is lost between two handles.
TEST_P(SignpadCapture, CommandsWhileThePenStreamsLoseNoPoint) {
  recorder.Register();
  pad().SetHidLink(!session.serial());
  pad().SetPenTiming({.intervalMs = 10, .packetsPerMessage = 2, .startDelayMs = 0});
  Capture capture(1);
  ASSERT_TRUE(Capture::WaitRunning());
  std::vector<vterm::Stroke> strokes;
  for (int s = 0; s < 4; ++s) {
    vterm::Stroke stroke;
    for (int i = 0; i < 50; ++i) stroke.push_back({10 * s + i, 500 - i});
    strokes.push_back(stroke);
  }
  pad().Write(strokes);
  char version[512];
  int length = 0;
  int commands = 0;
  while (pad().PendingPackets() > 0 && commands < 20) {
    EXPECT_EQ(Brixa_GetVersion(version, &length), 1) << "command " << commands;
    ++commands;
  }
  EXPECT_GE(commands, 2) << "the commands ran while the pen streamed";
  const auto expected = Expected(strokes);
  EXPECT_TRUE(recorder.WaitForPoints(expected.size(), 5s));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(Exit(capture), 1);
  EXPECT_EQ(recorder.Points(), expected);
}

TEST_P(SignpadCapture, MalformedRunIsDroppedWhole) {
  recorder.Register();
  Capture capture(1);
  ASSERT_TRUE(Capture::WaitRunning());
  Bytes bad = vterm::SignpadModule::EncodeStrokes(1, {{{1, 1}}});  // point + pen-up
  bad[5] = 0x77;                                                   // the pen-up is not one
  session.terminal().Push(bad);
  session.terminal().PushAfter(300, vterm::SignpadModule::EncodeStrokes(1, {{{2, 2}}}));
  std::this_thread::sleep_for(700ms);
  EXPECT_EQ(Exit(capture), 1);
  EXPECT_EQ(recorder.Points(), (std::vector<int>{2, 2, -1, -1}));
}

TEST_P(SignpadCapture, NoHandlerRegistered) {
  Zelto_AddPointHandle(nullptr, nullptr);
  Capture capture(1);
  ASSERT_TRUE(Capture::WaitRunning());
  pad().Write(KnownStrokes());
  std::this_thread::sleep_for(200ms);
  // A handler registered during the capture gets what comes after.
  recorder.Register();
  pad().Write({{{400, 400}}});
  ASSERT_TRUE(recorder.WaitForPoints(4));
  for (int i = 0; i < 200 && pad().PendingPackets() > 0; ++i) std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(200ms);
  const auto points = recorder.Points();
  ASSERT_GE(points.size(), 4u);
  EXPECT_EQ((std::vector<int>(points.end() - 4, points.end())),
            (std::vector<int>{400, 400, -1, -1}));
  EXPECT_EQ(Exit(capture), 1);
}

TEST_P(SignpadCapture, NullContextSwitchesOffPointsNotEvents) {
  static Recorder* target = nullptr;
  target = &recorder;
  Zelto_AddPointHandle(
      [](const int* values, int count, void*) { Recorder::Handle(values, count, target); },
      nullptr);
  Capture capture(1);
  ASSERT_TRUE(Capture::WaitRunning());
  pad().Write({{{10, 10}, {20, 20}}});
  for (int i = 0; i < 200 && pad().PendingPackets() > 0; ++i) std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(300ms);
  if (!session.serial()) {
    ASSERT_TRUE(pad().PressKey('C'));
    ASSERT_TRUE(recorder.WaitForCalls(1));
  }
  EXPECT_EQ(Exit(capture), 1);
  EXPECT_TRUE(recorder.Points().empty());
}

TEST_P(SignpadCapture, CloseEndsTheCapture) {
  Capture capture(1);
  ASSERT_TRUE(Capture::WaitRunning());
  EXPECT_EQ(Brixa_Close(), 1);
  EXPECT_EQ(capture.Finish(), 1);
}

TEST_P(SignpadCapture, NewStartEndsTheRunningCapture) {
  recorder.Register();
  Capture first(1);
  ASSERT_TRUE(Capture::WaitRunning());
  Capture second(4);
  EXPECT_EQ(first.Finish(), 1);
  ASSERT_TRUE(Capture::WaitRunning());
  pad().Write({{{5, 6}}});
  ASSERT_TRUE(recorder.WaitForPoints(4));
  EXPECT_EQ(recorder.Threads().back(), second.Id());
  EXPECT_FALSE(second.Done());
  EXPECT_EQ(Exit(second), 1);
}

TEST_P(SignpadCapture, RefusedStartRunsNoLoop) {
  session.terminal().RefuseNext(1, 0xE8);
  EXPECT_EQ(Zelto_StartCapture(1, 0, 0, 0, 0, 0, 0, 0), 104);
  EXPECT_EQ(vantorel::link::State().captureActive.load(), 0);
  session.terminal().SilenceNext(1);
  EXPECT_EQ(Zelto_StartCapture(1, 0, 0, 0, 0, 0, 0, 0), 0);
  EXPECT_EQ(vantorel::link::State().captureActive.load(), 0);
}

TEST_P(SignpadCapture, BusyModesRefuseTheStartInOrder) {
  auto& state = vantorel::link::State();
  state.pinEntryActive = 1;
  state.secureHeadActive = 1;
  state.encryptedEntryActive = 1;
  EXPECT_EQ(Zelto_StartCapture(6, 0, 0, 0, 0, 0, 0, 0), 99);  // the format comes first
  EXPECT_EQ(Zelto_StartCapture(1, 0, 0, 0, 0, 0, 0, 0), 202);
  state.pinEntryActive = 0;
  EXPECT_EQ(Zelto_StartCapture(1, 0, 0, 0, 0, 0, 0, 0), 204);
  state.secureHeadActive = 0;
  EXPECT_EQ(Zelto_StartCapture(1, 0, 0, 0, 0, 0, 0, 0), 207);
  state.encryptedEntryActive = 0;
  EXPECT_TRUE(session.Frames().empty());
}

TEST_P(SignpadCapture, RefusedExitLeavesTheCaptureRunning) {
  recorder.Register();
  Capture capture(1);
  ASSERT_TRUE(Capture::WaitRunning());
  session.terminal().RefuseNext(1, 0xE8);
  EXPECT_EQ(Zelto_ExitCapture(), 104);
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(capture.Done());
  pad().Write({{{7, 8}}});
  ASSERT_TRUE(recorder.WaitForPoints(4));
  EXPECT_EQ(Exit(capture), 1);
}

TEST_P(SignpadCapture, PauseStopsThePenAndContinueResumes) {
  recorder.Register();
  Capture capture(1);
  ASSERT_TRUE(Capture::WaitRunning());
  unsigned int value = 0;
  ASSERT_EQ(Zelto_PauseCapture(&value), 1);
  pad().Write({{{1, 1}, {2, 2}}});
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(recorder.Points().empty());
  ASSERT_EQ(Zelto_ContinueCapture(), 1);
  ASSERT_TRUE(recorder.WaitForPoints(6));
  EXPECT_EQ(recorder.Points(), (std::vector<int>{1, 1, 2, 2, -1, -1}));
  ASSERT_EQ(Zelto_GetPointCount(&value), 1);
  EXPECT_EQ(value, 2u);
  ASSERT_EQ(Zelto_ClearSignature(), 1);
  ASSERT_EQ(Zelto_GetPointCount(&value), 1);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(Exit(capture), 1);
}

// ---- HID only: events and batching ------------------------------------------------------

class SignpadHidCapture : public SignpadCapture {};
INSTANTIATE_TEST_SUITE_P(, SignpadHidCapture, ::testing::Values(support::Transport::kHid),
                         support::TransportName);

TEST_P(SignpadHidCapture, EventsReachTheHandler) {
  recorder.Register();
  ASSERT_EQ(
      Zelto_CreateRegion(5, 1, 0, 10, 10, 60, 40, 2, reinterpret_cast<const unsigned char*>("OK")),
      1);
  Capture capture(1);
  ASSERT_TRUE(Capture::WaitRunning());
  ASSERT_TRUE(pad().TouchRegion(5));
  ASSERT_TRUE(pad().PressKey('C'));
  ASSERT_TRUE(pad().PressKey('B'));
  session.terminal().Push(Bytes{0x7A, 0xFF, 0x00, 0x41});  // an unknown key: nothing
  session.terminal().Push(Bytes{0x55, 0x01, 0x02, 0x03});  // not an event: dropped
  ASSERT_TRUE(pad().PressKey('E'));
  ASSERT_TRUE(recorder.WaitForCalls(4));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(recorder.Calls(),
            (std::vector<std::vector<int>>{{122, 5}, {123, 1}, {123, 2}, {123, 3}}));
  EXPECT_EQ(Exit(capture), 1);
}

// Deliveries: once 15 points are collected, at once when a run starts with a pen-up, and
// what is left when the capture ends.
TEST_P(SignpadHidCapture, BatchesPoints) {
  recorder.Register();
  Capture capture(4);
  ASSERT_TRUE(Capture::WaitRunning());
  auto points = [](int n, int base) {
    vterm::Stroke s;
    for (int i = 0; i < n; ++i) s.push_back({base + i, base + i});
    return s;
  };
  // Packets only (no pen-up): strip the trailing pen-up of the encoding.
  auto run = [&](int n, int base) {
    Bytes b = vterm::SignpadModule::EncodeStrokes(4, {points(n, base)});
    b.resize(b.size() - 5);
    return b;
  };
  auto& t = session.terminal();
  for (int i = 0; i < 4; ++i) t.PushAfter(i * 20, run(3, 10 * i));  // 24 values
  t.PushAfter(100, run(6, 100));                                    // 36: delivered
  ASSERT_TRUE(recorder.WaitForCalls(1));
  EXPECT_EQ(recorder.Calls()[0].size(), 36u);
  t.Push(run(1, 200));  // 2 values held
  Bytes penUpFirst{0x80, 0, 0, 0, 0};
  const Bytes two = run(2, 300);
  penUpFirst.insert(penUpFirst.end(), two.begin(), two.end());
  t.PushAfter(30, penUpFirst);  // starts with a pen-up: 2 + 6 values delivered at once
  ASSERT_TRUE(recorder.WaitForCalls(2));
  EXPECT_EQ(recorder.Calls()[1], (std::vector<int>{200, 200, -1, -1, 300, 300, 301, 301}));
  t.Push(run(2, 400));  // held in the batch ...
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(recorder.Calls().size(), 2u);
  EXPECT_EQ(Exit(capture), 1);  // ... and delivered before the start returns
  ASSERT_EQ(recorder.Calls().size(), 3u);
  EXPECT_EQ(recorder.Calls()[2], (std::vector<int>{400, 400, 401, 401}));
}

TEST_P(SignpadHidCapture, OversizedAndShortMessagesAreDropped) {
  recorder.Register();
  Capture capture(1);
  ASSERT_TRUE(Capture::WaitRunning());
  std::vector<vterm::Stroke> thirteen{{}};
  for (int i = 0; i < 13; ++i) thirteen[0].push_back({i, i});
  Bytes big = vterm::SignpadModule::EncodeStrokes(1, thirteen);  // 70 bytes
  session.terminal().Push(big);
  session.terminal().Push(Bytes{0x9C, 0x00, 0x01});  // 3 bytes: dropped, carry untouched
  session.terminal().PushAfter(50, vterm::SignpadModule::EncodeStrokes(1, {{{9, 9}}}));
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(Exit(capture), 1);
  EXPECT_EQ(recorder.Points(), (std::vector<int>{9, 9, -1, -1}));
}

}  // namespace
