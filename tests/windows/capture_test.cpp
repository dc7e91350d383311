// Signature capture through the DLL over COM3: the stdcall point handler runs on the
// thread blocked in Zelto_StartCapture while the virtual pen writes, and another thread
// ends the capture.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial_session.h"

namespace wintest {
namespace {

// What reached the point handler.
struct Points {
  std::mutex mutex;
  std::vector<int> values;
  int calls = 0;
  int foreignContexts = 0;
  int oddCounts = 0;
  std::thread::id thread;
};
Points points;

void VANTOREL_CALL OnPoints(const int* values, int count, void* context) {
  std::lock_guard<std::mutex> lock(points.mutex);
  ++points.calls;
  if (context != &points) ++points.foreignContexts;
  if (count % 2 != 0) ++points.oddCounts;
  points.thread = std::this_thread::get_id();
  points.values.insert(points.values.end(), values, values + count);
}

std::vector<int> WaitForValues(std::size_t count, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(points.mutex);
      if (points.values.size() >= count || std::chrono::steady_clock::now() > deadline) {
        return points.values;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

class Capture : public SerialSession {
 protected:
  void SetUp() override {
    SerialSession::SetUp();
    std::lock_guard<std::mutex> lock(points.mutex);
    points.values.clear();
    points.calls = 0;
    points.foreignContexts = 0;
    points.oddCounts = 0;
    points.thread = {};
    ASSERT_EQ(Zelto_AddPointHandle(OnPoints, &points), VANTOREL_SUCCESS);
  }
};

TEST_F(Capture, PenStrokesReachTheHandlerInAbsoluteFormats) {
  // The pen's strokes, each followed by a pen-up (-1, -1).
  const std::vector<int> expected{100, 200, 300, 400, 1023, 0, -1, -1, 0, 1023, 512, 256, -1, -1};
  struct Case {
    unsigned char format;
    Bytes captureBytes;
  };
  // Byte arguments in all positions and of all sizes: each travels in a 32-bit stack slot.
  const Case cases[] = {{1, {0x01, 0x80, 0xFF, 0x00, 0x7F, 0x10, 0xAB}},
                        {4, {0xFF, 0xFE, 0x00, 0x01, 0x02, 0x03, 0x04}}};
  for (const Case& c : cases) {
    SCOPED_TRACE("format " + std::to_string(c.format));
    console.Clear();
    {
      std::lock_guard<std::mutex> lock(points.mutex);
      points.values.clear();
    }
    const Bytes& b = c.captureBytes;
    auto capture = std::async(std::launch::async, [&] {
      return Zelto_StartCapture(c.format, b[0], b[1], b[2], b[3], b[4], b[5], b[6]);
    });
    ASSERT_TRUE(console.WaitForCommands({0x7A, 0x46, 0x10}, 1)) << "no start command";
    console.Execute("sign 100,200 300,400 1023,0 / 0,1023 512,256");
    const std::vector<int> got = WaitForValues(expected.size(), 10000);
    EXPECT_EQ(Zelto_ExitCapture(), VANTOREL_SUCCESS);
    ASSERT_EQ(capture.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "the capture did not end";
    EXPECT_EQ(capture.get(), VANTOREL_SUCCESS);
    EXPECT_EQ(got, expected);

    const auto commands = console.Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands.front(),
              (Bytes{0x7A, 0x46, 0x10, c.format, b[0], b[1], b[2], b[3], b[4], b[5], b[6]}));
    EXPECT_EQ(commands.back(), (Bytes{0x7A, 0x46, 0x1F}));
  }
  std::lock_guard<std::mutex> lock(points.mutex);
  EXPECT_EQ(points.foreignContexts, 0) << "the context came back changed";
  EXPECT_EQ(points.oddCounts, 0);
  EXPECT_NE(points.thread, std::this_thread::get_id())
      << "the handler runs on the capture's thread";
}

TEST_F(Capture, CloseFromAnotherThreadEndsTheCapture) {
  auto capture =
      std::async(std::launch::async, [] { return Zelto_StartCapture(1, 0, 0, 0, 0, 0, 0, 0); });
  ASSERT_TRUE(console.WaitForCommands({0x7A, 0x46, 0x10}, 1));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
  ASSERT_EQ(capture.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(capture.get(), VANTOREL_SUCCESS);
  // The pen wrote nothing: the handler was never called.
  std::lock_guard<std::mutex> lock(points.mutex);
  EXPECT_EQ(points.calls, 0);
}

TEST_F(Capture, RefusedStartReturnsTheStatusWithoutALoop) {
  console.Execute("refuse 1 E8");
  EXPECT_EQ(Zelto_StartCapture(1, 0, 0, 0, 0, 0, 0, 0), VANTOREL_STATUS_E8);
  EXPECT_EQ(Zelto_StartCapture(6, 0, 0, 0, 0, 0, 0, 0), VANTOREL_INVALID_ARGUMENT);
  EXPECT_EQ(console.Commands().size(), 1u) << "format 6 sends nothing";
}

}  // namespace
}  // namespace wintest
