// Commands from other threads (and from the handler) during a capture: each gets its own
// reply, the loop stops reading while they run and picks the pen up again afterwards.
#include <gtest/gtest.h>

#include "../integration/signpad_test_support.h"

namespace {

using namespace signpad_test;

class SignpadCaptureConcurrency : public PadTest {
 protected:
  void TearDown() override { Zelto_AddPointHandle(nullptr, nullptr); }
};
VANTOREL_ON_BOTH_TRANSPORTS(SignpadCaptureConcurrency);

TEST_P(SignpadCaptureConcurrency, CommandsDuringCaptureGetTheirOwnReplies) {
  Recorder recorder;
  recorder.Register();
  Capture capture(1);
  ASSERT_TRUE(Capture::WaitRunning());
  const int rounds = session.serial() ? 5 : 25;
  std::vector<int> expected;
  for (int i = 0; i < rounds; ++i) {
    SCOPED_TRACE(i);
    // Another thread draws and asks while the loop runs ...
    std::thread other([i] {
      const auto level = static_cast<unsigned char>(i * 7 % 200);
      EXPECT_EQ(Zelto_SetBackLight(level), 1);
      unsigned char back = 0xFF;
      EXPECT_EQ(Zelto_ReviewBackLight(&back), 1);
      EXPECT_EQ(back, level);
      EXPECT_EQ(Zelto_DrawLine(0, i, 319, i), 1);
      unsigned int count = 0;
      EXPECT_EQ(Zelto_GetPointCount(&count), 1);
      EXPECT_EQ(count, static_cast<unsigned>(i));
    });
    other.join();
    // ... and the loop reads the pen again afterwards.
    const vterm::Stroke stroke{{10 + i, 20 + i}};
    pad().Write({stroke});
    expected.insert(expected.end(), {10 + i, 20 + i, -1, -1});
    ASSERT_TRUE(recorder.WaitForPoints(expected.size()));
  }
  EXPECT_EQ(recorder.Points(), expected);
  const auto loopThread = capture.Id();
  EXPECT_EQ(Zelto_ExitCapture(), 1);
  EXPECT_EQ(capture.Finish(), 1);
  for (auto id : recorder.Threads()) EXPECT_EQ(id, loopThread);
}

// The handler runs with no library lock held: it may call exports, even the exit.
TEST_P(SignpadCaptureConcurrency, HandlerMayCallExports) {
  struct Context {
    std::atomic<int> countRc{-1};
    std::atomic<unsigned> count{0};
    std::atomic<int> exitRc{-1};
  };
  static Context context;
  Zelto_AddPointHandle(
      [](const int* values, int n, void*) {
        if (n >= 2 && values[n - 2] == -1) {
          unsigned int c = 0;
          context.countRc = Zelto_GetPointCount(&c);
          context.count = c;
          context.exitRc = Zelto_ExitCapture();
        }
      },
      &context);
  Capture capture(4);
  ASSERT_TRUE(Capture::WaitRunning());
  pad().Write({{{1, 1}, {2, 2}, {3, 3}}});
  EXPECT_EQ(capture.Finish(10s), 1);
  EXPECT_EQ(context.countRc.load(), 1);
  EXPECT_EQ(context.count.load(), 3u);
  EXPECT_EQ(context.exitRc.load(), 1);
}

// While a command holds the link the loop yields instead of spinning.
TEST_P(SignpadCaptureConcurrency, LoopDoesNotSpinWhileTheLinkIsBusy) {
  Capture capture(1);
  ASSERT_TRUE(Capture::WaitRunning());
  session.terminal().DelayNext(1, 350);  // still in time for the command
  const std::clock_t before = std::clock();
  const auto start = std::chrono::steady_clock::now();
  unsigned char level = 0;
  EXPECT_EQ(Zelto_ReviewBackLight(&level), 1);
  const double cpuMs = 1000.0 * static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC;
  const long wallMs = support::ElapsedMs(start);
  // Both threads together: far below one core's worth of the wait.
  EXPECT_LT(cpuMs, wallMs * 0.5) << cpuMs << " ms CPU over " << wallMs << " ms";
  EXPECT_EQ(Zelto_ExitCapture(), 1);
  EXPECT_EQ(capture.Finish(), 1);
}

}  // namespace
