// Secure reading through the DLL over COM3: MSR_EnableSecureHead blocks polling the
// terminal, a swiped card and PIN-pad keys reach the stdcall data handler on that thread,
// and MSR_DisableSecureHead from another thread ends it.
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

constexpr int kContext = 0x5EC0;

struct Deliveries {
  std::mutex mutex;
  std::vector<Bytes> data;
  std::vector<int> contexts;
};
Deliveries deliveries;

void VANTOREL_CALL OnData(const unsigned char* data, int count, int context) {
  std::lock_guard<std::mutex> lock(deliveries.mutex);
  deliveries.data.emplace_back(data, data + count);
  deliveries.contexts.push_back(context);
}

std::vector<Bytes> WaitForDeliveries(std::size_t count, int timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(deliveries.mutex);
      if (deliveries.data.size() >= count || std::chrono::steady_clock::now() > deadline) {
        return deliveries.data;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

class SecureReading : public SerialSession {
 protected:
  void SetUp() override {
    SerialSession::SetUp();
    std::lock_guard<std::mutex> lock(deliveries.mutex);
    deliveries.data.clear();
    deliveries.contexts.clear();
    ASSERT_EQ(MSR_AddDataHandle(OnData, kContext), VANTOREL_SUCCESS);
  }
};

TEST_F(SecureReading, SwipeAndKeysReachTheHandlerUntilDisabled) {
  auto reading = std::async(std::launch::async, [] { return MSR_EnableSecureHead(); });
  const Bytes keyPoll{0x75, 0x46, 0x81};
  ASSERT_TRUE(console.WaitForCommands(keyPoll, 1)) << "the reading loop does not poll";
  EXPECT_EQ(console.State("secure-head"), "on");

  // Track text with its line ends rewritten to CR; keys as (7B, key) events, whether the
  // key answers a poll or comes unasked.
  console.Execute("swipe %B4761739001010119^TEST/CARD^2512101? ;4761739001010119=2512101?");
  ASSERT_EQ(WaitForDeliveries(1).size(), 1u);
  console.Execute("pinkey cancel");
  ASSERT_EQ(WaitForDeliveries(2).size(), 2u);
  console.Execute("pinkey enter push");
  const std::vector<Bytes> got = WaitForDeliveries(3);

  console.Clear();
  EXPECT_EQ(MSR_DisableSecureHead(), VANTOREL_SUCCESS);
  ASSERT_EQ(reading.wait_for(std::chrono::seconds(5)), std::future_status::ready)
      << "reading did not end";
  EXPECT_EQ(reading.get(), VANTOREL_SUCCESS);

  const std::vector<Bytes> expected{
      Text("%B4761739001010119^TEST/CARD^2512101?\r;4761739001010119=2512101?\r"),
      {0x7B, 0x01},
      {0x7B, 0x03}};
  EXPECT_EQ(got, expected);
  {
    std::lock_guard<std::mutex> lock(deliveries.mutex);
    EXPECT_EQ(deliveries.contexts, std::vector<int>(deliveries.data.size(), kContext));
  }
  // The switch-off, and no poll after it.
  const auto commands = console.Commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.back(), (Bytes{0x73, 0x46, 0xE1, 0x01, 0x30}));
  EXPECT_EQ(console.State("secure-head"), "off");
}

TEST_F(SecureReading, SwitchOnSequenceAndRefusalsWhileReading) {
  auto reading = std::async(std::launch::async, [] { return MSR_EnableSecureHead(); });
  ASSERT_TRUE(console.WaitForCommands({0x75, 0x46, 0x81}, 1));
  const auto commands = console.Commands();
  ASSERT_GE(commands.size(), 4u);
  EXPECT_EQ(commands[0], (Bytes{0x73, 0x46, 0xE1, 0x01, 0x31}));
  EXPECT_EQ(commands[1], (Bytes{0x73, 0x53, 0x1A, 0x01, 0x31}));
  EXPECT_EQ(commands[2], (Bytes{0x75, 0x46, 0x82}));

  // A second reading, a capture and a PIN entry are refused while this one runs.
  EXPECT_EQ(MSR_EnableSecureHead(), VANTOREL_SECURE_HEAD_ACTIVE);
  EXPECT_EQ(Zelto_StartCapture(1, 0, 0, 0, 0, 0, 0, 0), VANTOREL_SECURE_HEAD_ACTIVE);
  unsigned char result[512];
  int length = 0;
  PinEntryRequest request{};
  request.result = result;
  request.resultLength = &length;
  request.mode = '0';
  request.upperBound = 12;
  request.lowerBound = 4;
  request.accountNumber = "";
  EXPECT_EQ(PIN_GetPINBlock(request), VANTOREL_SECURE_HEAD_ACTIVE);

  EXPECT_EQ(Brixa_Close(), VANTOREL_SUCCESS);
  ASSERT_EQ(reading.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(reading.get(), VANTOREL_SUCCESS);
}

}  // namespace
}  // namespace wintest
