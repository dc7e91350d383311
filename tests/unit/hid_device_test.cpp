// Report splitting and joining, against a scripted backend.
#include "link/hid_device.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <vector>

namespace vantorel::link {
namespace {

using Bytes = std::vector<std::uint8_t>;

class ScriptedBackend : public HidBackend {
 public:
  bool present = true;
  int opens = 0;
  std::vector<Bytes> written;
  std::deque<Bytes> input;  // each an input report without the id byte
  std::deque<Bytes> reply;  // queued as input once a report is written
  int timeouts = 0;

  bool Open(int vendorId, int productId) override {
    ++opens;
    input.clear();  // a new handle starts with an empty queue
    return present && vendorId == 0x1234 && productId == 0x5678;
  }
  void Close() override {}
  std::size_t InputReportLength() const override { return 65; }
  std::size_t OutputReportLength() const override { return 65; }
  bool WriteReport(const std::uint8_t* report, std::size_t length) override {
    written.emplace_back(report, report + length);
    input.insert(input.end(), reply.begin(), reply.end());
    reply.clear();
    return true;
  }
  int ReadReport(std::uint8_t* report, std::size_t capacity, int) override {
    if (input.empty()) {
      ++timeouts;
      return 0;
    }
    Bytes next = input.front();
    input.pop_front();
    next.resize(64);
    report[0] = 0;
    std::copy(next.begin(), next.end(), report + 1);
    return static_cast<int>(std::min<std::size_t>(capacity, 65));
  }
};

class HidDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device.UseBackend(&backend);
    ASSERT_EQ(device.Open(0x1234, 0x5678), 1);
  }
  Bytes Frame(std::size_t n) {
    Bytes frame(n);
    for (std::size_t i = 0; i < n; ++i) frame[i] = static_cast<std::uint8_t>(i + 1);
    return frame;
  }
  ScriptedBackend backend;
  HidDevice device;
};

TEST_F(HidDeviceTest, NineByteFrameIsOneZeroPaddedReport) {
  const Bytes frame{0x02, 0x03, 0x00, 0x78, 0x46, 0x01, 0x3F, 0xBF, 0x03};
  ASSERT_EQ(device.WriteFrame(frame.data(), frame.size()), 1);
  ASSERT_EQ(backend.written.size(), 1u);
  Bytes expected(65, 0);
  expected[1] = 0x09;
  std::copy(frame.begin(), frame.end(), expected.begin() + 2);
  EXPECT_EQ(backend.written[0], expected);
}

TEST_F(HidDeviceTest, SplitsFramesIntoCountedReports) {
  struct Case {
    std::size_t length;
    std::vector<std::uint8_t> countBytes;
  };
  const Case cases[] = {
      {63, {0x3F}}, {64, {0xBF, 0x01}}, {126, {0xBF, 0x3F}}, {127, {0xBF, 0xBF, 0x01}}};
  for (const auto& c : cases) {
    backend.written.clear();
    const Bytes frame = Frame(c.length);
    ASSERT_EQ(device.WriteFrame(frame.data(), frame.size()), 1);
    ASSERT_EQ(backend.written.size(), c.countBytes.size()) << c.length;
    Bytes joined;
    for (std::size_t i = 0; i < c.countBytes.size(); ++i) {
      const Bytes& report = backend.written[i];
      EXPECT_EQ(report[0], 0);
      EXPECT_EQ(report[1], c.countBytes[i]) << c.length << " report " << i;
      const std::size_t n = report[1] & 0x7F;
      joined.insert(joined.end(), report.begin() + 2, report.begin() + 2 + n);
      EXPECT_TRUE(std::all_of(report.begin() + 2 + n, report.end(), [](auto b) { return b == 0; }));
    }
    EXPECT_EQ(joined, frame);
  }
}

TEST_F(HidDeviceTest, JoinsReportsWhileContinuationBitIsSet) {
  backend.input = {{0x85, 1, 2, 3, 4, 5}, {0x03, 6, 7, 8}};
  std::uint8_t reply[512] = {};
  EXPECT_EQ(device.ReadReply(reply, sizeof reply, Millis{10}), 8);
  EXPECT_EQ(Bytes(reply, reply + 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(backend.timeouts, 0) << "a reply that ends normally costs no wait";
}

TEST_F(HidDeviceTest, EmptyFirstReportYieldsNothing) {
  backend.input = {{0x00, 9, 9}};
  std::uint8_t reply[512] = {};
  EXPECT_EQ(device.ReadReply(reply, sizeof reply, Millis{10}), 0);
}

TEST_F(HidDeviceTest, DropsReportsThatDoNotFit) {
  std::uint8_t reply[8] = {};
  backend.input = {{0x83, 1, 2, 3}, {0x02, 4, 5}};
  EXPECT_EQ(device.ReadReply(reply, 2, Millis{10}), 2);
  EXPECT_EQ(Bytes(reply, reply + 2), (Bytes{4, 5}));

  backend.input = {{0x83, 1, 2, 3}, {0x02, 4, 5}};
  EXPECT_EQ(device.ReadReply(reply, 3, Millis{10}), 3);
  EXPECT_EQ(Bytes(reply, reply + 3), (Bytes{1, 2, 3}));
  EXPECT_EQ(backend.timeouts, 1) << "the dropped last report ends with one time-out";
}

// A command's reply taken whole or not at all: the reply's last report ends the read at
// once, and nothing after the first report that did not fit is stored.
TEST_F(HidDeviceTest, WholeReplyReadStopsAtTheLastReportOfAReplyThatDoesNotFit) {
  struct Row {
    const char* what;
    std::deque<Bytes> input;
    std::size_t maxLength;
    int stored;
    bool overflowed;
  };
  Bytes full(64, 0x11);
  full[0] = 0xBF;
  Bytes tail(31, 0x22);
  tail[0] = 0x1E;
  const Row rows[] = {
      {"fits", {{0x83, 1, 2, 3}, {0x02, 4, 5}}, 5, 5, false},
      {"first report too large", {{0x83, 1, 2, 3}, {0x02, 4, 5}}, 2, 0, true},
      {"last report too large", {{0x83, 1, 2, 3}, {0x02, 4, 5}}, 3, 3, true},
      // 63 stored, 63 do not fit; the last 30 would, but the reply is already cut.
      {"nothing after the cut", {full, full, tail}, 100, 63, true},
  };
  for (const Row& row : rows) {
    backend.input = row.input;
    backend.timeouts = 0;
    std::uint8_t reply[256] = {};
    bool overflowed = !row.overflowed;
    EXPECT_EQ(device.ReadReply(reply, row.maxLength, Millis{10}, false, &overflowed), row.stored)
        << row.what;
    EXPECT_EQ(overflowed, row.overflowed) << row.what;
    EXPECT_EQ(backend.timeouts, 0) << row.what << ": no time-out wait";
    EXPECT_TRUE(backend.input.empty()) << row.what << ": the whole reply was read";
  }
}

TEST_F(HidDeviceTest, CountAboveWhatAReportCarriesIsDropped) {
  // 0x40 claims 64 data bytes, 0xFF claims 127 and more to come: neither exists in a
  // 64-byte report, so both are dropped; the good report after them is kept.
  backend.input = {{0x40, 1}, {0xFF, 2}, {0x02, 7, 8}};
  std::uint8_t reply[512] = {};
  EXPECT_EQ(device.ReadReply(reply, sizeof reply, Millis{10}), 2);
  EXPECT_EQ(Bytes(reply, reply + 2), (Bytes{7, 8}));
}

TEST_F(HidDeviceTest, TransactSearchesEveryTimeAndNeedsTheDevice) {
  const Bytes frame{1, 2, 3};
  std::uint8_t reply[512] = {};
  backend.reply = {{0x01, 0x06}};
  const int opensBefore = backend.opens;
  EXPECT_EQ(
      device.Transact(0x1234, 0x5678, frame.data(), frame.size(), reply, sizeof reply, Millis{10}),
      1);
  EXPECT_EQ(backend.opens, opensBefore + 1);
  EXPECT_EQ(
      device.Transact(0x1234, 0x9999, frame.data(), frame.size(), reply, sizeof reply, Millis{10}),
      0);
  backend.present = false;
  EXPECT_EQ(
      device.Transact(0x1234, 0x5678, frame.data(), frame.size(), reply, sizeof reply, Millis{10}),
      0);
  backend.present = true;
  backend.written.clear();
  EXPECT_EQ(device.Transact(0x1234, 0x5678, frame.data(), frame.size(), nullptr, 0, Millis{10}), 0);
  EXPECT_EQ(backend.written.size(), 1u) << "no reply buffer: written, nothing read";
}

TEST_F(HidDeviceTest, ReportsWaitingAtAReopenGoToTheNextPollingReadNotTheReply) {
  // An unsolicited two-report message arrives while a command waits for the link.
  backend.input = {{0x81, 0xAA}, {0x01, 0xBB}};
  backend.reply = {{0x02, 0x06, 0x07}};
  const Bytes frame{1, 2, 3};
  std::uint8_t reply[512] = {};
  ASSERT_EQ(
      device.Transact(0x1234, 0x5678, frame.data(), frame.size(), reply, sizeof reply, Millis{10}),
      2);
  EXPECT_EQ(Bytes(reply, reply + 2), (Bytes{0x06, 0x07})) << "the command reads its own reply";
  std::uint8_t message[512] = {};
  EXPECT_EQ(device.ReadReply(message, sizeof message, Millis{10}, true), 2);
  EXPECT_EQ(Bytes(message, message + 2), (Bytes{0xAA, 0xBB})) << "the message survived the reopen";
  EXPECT_EQ(device.ReadReply(message, sizeof message, Millis{10}, true), 0);

  backend.input = {{0x01, 0xCC}};
  ASSERT_EQ(device.Open(0x1234, 0x5678), 1);
  device.Close();
  ASSERT_EQ(device.Open(0x1234, 0x5678), 1);
  EXPECT_EQ(device.ReadReply(message, sizeof message, Millis{10}, true), 0)
      << "a close forgets them";
}

// Kept reports are sorted message by message: a message spans reports while the
// continuation bit is set, and what stays keeps its order and its report boundaries.
TEST_F(HidDeviceTest, FilterKeptDecidesPerMessageAndKeepsTheOrder) {
  backend.input = {{0x81, 0xA1}, {0x01, 0xA2}, {0x01, 0xB1}, {0x82, 0xC1, 0xC2}, {0x01, 0xC3}};
  ASSERT_EQ(device.Open(0x1234, 0x5678), 1);  // all five move to the kept queue
  std::vector<Bytes> seen;
  device.FilterKept(
      [](void* context, const std::uint8_t* message, std::size_t length) {
        static_cast<std::vector<Bytes>*>(context)->emplace_back(message, message + length);
        return message[0] != 0xB1;  // drop the middle message
      },
      &seen);
  EXPECT_EQ(seen, (std::vector<Bytes>{{0xA1, 0xA2}, {0xB1}, {0xC1, 0xC2, 0xC3}}));
  const Bytes appended(70, 0xD0);  // two reports when kept again
  device.AppendKept(appended.data(), appended.size());
  std::uint8_t message[512] = {};
  ASSERT_EQ(device.ReadReply(message, sizeof message, Millis{10}, true), 2);
  EXPECT_EQ(Bytes(message, message + 2), (Bytes{0xA1, 0xA2}));
  ASSERT_EQ(device.ReadReply(message, sizeof message, Millis{10}, true), 3);
  EXPECT_EQ(Bytes(message, message + 3), (Bytes{0xC1, 0xC2, 0xC3}));
  ASSERT_EQ(device.ReadReply(message, sizeof message, Millis{10}, true), 70);
  EXPECT_EQ(Bytes(message, message + 70), appended);
  device.AppendKept(appended.data(), appended.size());
  device.ForgetKept();
  EXPECT_EQ(device.ReadReply(message, sizeof message, Millis{10}, true), 0);
}

}  // namespace
}  // namespace vantorel::link
