// The C++ interface (vantorel.hpp) against the virtual terminal: one scenario per family,
// each checking what the C++ caller sees (values, exceptions and their codes, handlers)
// and, where the wrapper composes something itself, the bytes on the wire.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/session.h"
#include "vantorel.hpp"
#include "vterm/console.h"
#include "vterm/device.h"
#include "vterm/pin_pad_keys.h"

namespace {

using namespace std::chrono_literals;
using support::TransportTest;

class CppApi : public TransportTest {
 protected:
  vantorel::terminal Open() {
    if (session.serial()) return vantorel::terminal(vantorel::serial_port::number(support::kPort));
    return vantorel::terminal(vantorel::hid_device{vterm::kVendorId, vterm::kProductId});
  }
  void Console(const std::string& line) {
    const auto outcome = console.Run(line);
    ASSERT_FALSE(outcome.failed) << line << ": " << outcome.text;
  }
  vterm::Console console{session.terminal()};
};
VANTOREL_ON_BOTH_TRANSPORTS(CppApi);

// Waits until `done` holds or eight seconds pass.
template <typename Done>
bool Eventually(Done done) {
  for (int i = 0; i < 800 && !done(); ++i) std::this_thread::sleep_for(10ms);
  return done();
}

TEST_P(CppApi, TheObjectOwnsTheConnectionAndFailuresCarryCodeAndReason) {
  {
    vantorel::terminal t = Open();
    EXPECT_EQ(t.version(), session.terminal().Device().Version());
    try {
      vantorel::terminal second = Open();
      ADD_FAILURE() << "a second open succeeded";
    } catch (const vantorel::error& e) {
      EXPECT_EQ(e.code(), vantorel::errc::already_open);
      EXPECT_EQ(e.return_code(), VANTOREL_ALREADY_OPEN);
      EXPECT_STRNE(e.what(), "");
    }
    vantorel::terminal moved = std::move(t);
    EXPECT_FALSE(t.is_open());
    Console("refuse 1 EC");
    try {
      moved.control_led(1, 2);
      ADD_FAILURE() << "the refusal was not thrown";
    } catch (const vantorel::error& e) {
      EXPECT_EQ(e.code(), vantorel::errc::status_ec);
      EXPECT_EQ(e.code().message(), Brixa_ReturnCodeText(VANTOREL_STATUS_EC));
    }
    // An argument the library refuses before sending.
    EXPECT_THROW(moved.draw_line(320, 0, 0, 0), vantorel::error);
  }
  // The moved-from object closed nothing twice; the last owner closed the connection.
  EXPECT_EQ(Brixa_Close(), VANTOREL_FAILURE);
  EXPECT_NO_THROW(Open());
}

TEST_P(CppApi, CaptureDeliversPointsAndStopsFromAnotherThread) {
  vantorel::terminal t = Open();
  std::mutex mutex;
  std::vector<vantorel::point> points;
  vantorel::capture capture({.format = 1, .bytes = {}}, [&](std::span<const vantorel::point> p) {
    std::lock_guard lock(mutex);
    points.insert(points.end(), p.begin(), p.end());
  });
  Console("wait capture-start 5000");
  Console("sign 100,200 120,210 / 300,300");
  ASSERT_TRUE(Eventually([&] {
    std::lock_guard lock(mutex);
    return points.size() >= 4;
  }));
  std::thread stopper([&] { capture.stop(); });
  stopper.join();
  EXPECT_TRUE(capture.ended());
  std::lock_guard lock(mutex);
  std::vector<vantorel::point> drawn;
  for (const auto& p : points)
    if (!p.pen_up()) drawn.push_back(p);
  ASSERT_EQ(drawn.size(), 3u);
  EXPECT_EQ(drawn[0], (vantorel::point{100, 200}));
  EXPECT_EQ(drawn[2], (vantorel::point{300, 300}));
  // A start the pad refuses is thrown by stop().
  Console("refuse 1 E8");
  vantorel::capture refused({}, nullptr);
  try {
    refused.stop();
    ADD_FAILURE() << "the refused start was not thrown";
  } catch (const vantorel::error& e) {
    EXPECT_EQ(e.code(), vantorel::errc::status_e8);
  }
}

TEST_P(CppApi, SecureReadingSplitsCardDataFromKeysAndEndsOnStop) {
  vantorel::terminal t = Open();
  std::atomic<std::size_t> cardBytes{0};
  std::atomic<int> cards{0};
  std::atomic<vantorel::key> lastKey{vantorel::key::none};
  auto reading = t.start_secure_reading(
      [&](std::span<const std::uint8_t> data) {
        cardBytes = data.size();
        ++cards;
      },
      [&](vantorel::key k) { lastKey = k; });
  Console("wait key-poll 5000");
  Console("swipe \"%B4000123412341234^TEST/CARD^2512101?\" ;4000123412341234=2512101?");
  Console("pinkey enter");
  ASSERT_TRUE(Eventually([&] { return cards == 1 && lastKey == vantorel::key::enter; }));
  EXPECT_EQ(cardBytes, 65u);  // both tracks, each ended by CR
  reading.stop();
  EXPECT_FALSE(session.terminal().Device().SecureHeadOn());
  // The handler's slot is free again: a second reading works, and stops at once.
  auto again = t.start_secure_reading([](std::span<const std::uint8_t>) {});
  again.stop();
  EXPECT_FALSE(session.terminal().Device().SecureHeadOn());
}

TEST_P(CppApi, EntriesReturnTheirDataOrThrowOnTheirTimeOut) {
  vantorel::terminal t = Open();
  vantorel::entry_request request;
  request.lines.emplace_back("PIN please", 10, 40);
  Console("entry default 100");
  const auto block = t.pin_block(request, 5s);
  EXPECT_EQ(block.size(), 16u);

  Console("entry hold");
  const auto start = std::chrono::steady_clock::now();
  try {
    (void)t.pin_block(request, 300ms);
    ADD_FAILURE() << "the held entry returned";
  } catch (const vantorel::timeout_error& e) {
    EXPECT_EQ(e.code(), vantorel::errc::status_18);
  }
  EXPECT_GE(support::ElapsedMs(start), 300);
  EXPECT_EQ(session.terminal().Frames().back().command.Key(),
            (vterm::CommandKey{0x75, 0x46, 0x09}));

  // Numeric entry signed with the application's key; the pad recovers the prompt.
  const auto pair = vterm::GenerateRsaKeyPair(1024);
  vterm::UsePublicKey(session.terminal(), pair);
  Console("entry digits 1250 100");
  request.upper_bound = 8;
  const auto numeric =
      t.numeric_or_amount(vantorel::numeric_kind::amount, request, pair.privateKey, 5s);
  EXPECT_EQ(numeric.first_byte, 4);
  // Compared without printing: entered digits never reach a test's output.
  const std::string digits(numeric.digits.bytes().begin(), numeric.digits.bytes().end());
  EXPECT_TRUE(digits == "1250") << "the digits differ from those entered";

  // Manual entry: keyed card data come back whole.
  Console("manual card 4000123412341234=2512");
  vantorel::entry_request manual;
  manual.mode = 1;
  manual.entry_kind = 3;
  manual.upper_bound = 20;
  manual.lower_bound = 12;
  EXPECT_GT(t.manual_entry(manual, 5s).size(), 20u);
}

TEST_P(CppApi, SettingsAndBlocksComeBackAsValues) {
  vantorel::terminal t = Open();
  t.set_decoding_setting('3');
  EXPECT_EQ(t.decoding_setting(), '3');
  EXPECT_EQ(session.terminal().Frames().at(session.terminal().Frames().size() - 2).command.bytes,
            (vterm::Bytes{0x73, 0x53, 0x1D, 0x01, '3'}));
  EXPECT_FALSE(t.all_settings().empty());
  EXPECT_FALSE(t.ksn_and_counter().empty());
  EXPECT_THROW(t.set_decoding_setting('9'), vantorel::error);
  EXPECT_EQ(vantorel::sdk_version(), VANTOREL_VERSION_STRING);
}

}  // namespace
