// The virtual terminal's HID front end: report splitting and joining, the bus (ids, plug,
// restart) and the blocking read, also through the library's own HidDevice.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "link/hid_device.h"
#include "vterm/device.h"
#include "vterm/frame_codec.h"
#include "vterm/hid_front_end.h"
#include "vterm/terminal.h"

namespace {

using namespace std::chrono_literals;
using vterm::Bytes;
using vterm::HidFrontEnd;
using vterm::Report;
using vterm::Terminal;

const Bytes kVersionQuery = {0x02, 0x03, 0x00, 0x78, 0x46, 0x01, 0x3F, 0xBF, 0x03};

Report OutputReport(std::uint8_t count, const Bytes& data) {
  Report r{};
  r[1] = count;
  std::copy(data.begin(), data.end(), r.begin() + 2);
  return r;
}

// Reads input reports until one without the continuation bit; their data joined.
Bytes ReadMessage(HidFrontEnd& hid, int timeoutMs = 500) {
  Bytes out;
  for (;;) {
    Report r{};
    if (hid.ReadReport(r.data(), r.size(), timeoutMs) != 65) return out;
    out.insert(out.end(), r.begin() + 2, r.begin() + 2 + (r[1] & 0x7F));
    if ((r[1] & 0x80) == 0) return out;
  }
}

TEST(VtermHid, SplitsMessagesIntoReports) {
  struct Case {
    std::size_t size;
    std::vector<std::uint8_t> counts;
  };
  for (const Case& c : {Case{0, {}}, Case{1, {0x01}}, Case{63, {0x3F}}, Case{64, {0xBF, 0x01}},
                        Case{126, {0xBF, 0x3F}}, Case{127, {0xBF, 0xBF, 0x01}}}) {
    Bytes message(c.size);
    for (std::size_t i = 0; i < c.size; ++i) message[i] = static_cast<std::uint8_t>(i + 1);
    const auto reports = vterm::SplitIntoReports(message);
    ASSERT_EQ(reports.size(), c.counts.size()) << c.size;
    Bytes joined;
    for (std::size_t i = 0; i < reports.size(); ++i) {
      EXPECT_EQ(reports[i][0], 0) << c.size;
      EXPECT_EQ(reports[i][1], c.counts[i]) << c.size;
      const std::size_t n = reports[i][1] & 0x7F;
      joined.insert(joined.end(), reports[i].begin() + 2, reports[i].begin() + 2 + n);
      EXPECT_TRUE(std::all_of(reports[i].begin() + 2 + n, reports[i].end(),
                              [](std::uint8_t b) { return b == 0; }))
          << "padding, size " << c.size;
    }
    EXPECT_EQ(joined, message);
  }
}

TEST(VtermHid, JoinsOutputReportsAndAnswersInInputReports) {
  Terminal t;
  HidFrontEnd hid(t);
  ASSERT_TRUE(hid.Open(vterm::kVendorId, vterm::kProductId));
  // A 17-byte frame split unevenly over three reports, the way no host would, but legal.
  const Bytes frame =
      vterm::ShortFrame(Bytes{0x78, 0x46, 0x03, 'H', 'I', 'D', 'S', 'E', 'R', '0', '1'});
  const Report parts[] = {OutputReport(0x85, Bytes(frame.begin(), frame.begin() + 5)),
                          OutputReport(0x8A, Bytes(frame.begin() + 5, frame.begin() + 15)),
                          OutputReport(0x02, Bytes(frame.begin() + 15, frame.end()))};
  for (const Report& r : parts) ASSERT_TRUE(hid.WriteReport(r.data(), r.size()));
  EXPECT_EQ(ReadMessage(hid), vterm::AckFrame());
  EXPECT_EQ(t.Device().SerialNumber(), "HIDSER01");
  const auto recorded = hid.OutputReports();
  ASSERT_EQ(recorded.size(), 3u);
  EXPECT_EQ(recorded[1], parts[1]);

  const Report query = OutputReport(0x09, kVersionQuery);
  ASSERT_TRUE(hid.WriteReport(query.data(), query.size()));
  Report reply{};
  ASSERT_EQ(hid.ReadReport(reply.data(), reply.size(), 500), 65);
  const Bytes expected = vterm::AckFrame(Bytes{'V', 'T', ' ', '2', '.', '0', '4'});
  EXPECT_EQ(reply[0], 0);
  EXPECT_EQ(reply[1], expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reply.begin() + 2));
}

TEST(VtermHid, SplitReplyKeepsItsReportsJoined) {
  Terminal t;
  HidFrontEnd hid(t);
  ASSERT_TRUE(hid.Open(vterm::kVendorId, vterm::kProductId));
  t.SplitNext(1, 4, 100);
  const Report query = OutputReport(0x09, kVersionQuery);
  ASSERT_TRUE(hid.WriteReport(query.data(), query.size()));
  Report first{};
  ASSERT_EQ(hid.ReadReport(first.data(), first.size(), 500), 65);
  EXPECT_EQ(first[1], 0x84) << "four bytes, and more to come";
  Report second{};
  EXPECT_EQ(hid.ReadReport(second.data(), second.size(), 30), 0) << "the gap";
  ASSERT_EQ(hid.ReadReport(second.data(), second.size(), 500), 65);
  const Bytes whole = vterm::AckFrame(Bytes{'V', 'T', ' ', '2', '.', '0', '4'});
  EXPECT_EQ(second[1], whole.size() - 4);
  Bytes joined(first.begin() + 2, first.begin() + 6);
  joined.insert(joined.end(), second.begin() + 2, second.begin() + 2 + (second[1] & 0x7F));
  EXPECT_EQ(joined, whole);
}

TEST(VtermHid, RefusesBadWritesAndDropsOverlongCounts) {
  Terminal t;
  HidFrontEnd hid(t);
  const Report query = OutputReport(0x09, kVersionQuery);
  EXPECT_FALSE(hid.WriteReport(query.data(), query.size()));  // not open
  ASSERT_TRUE(hid.Open(vterm::kVendorId, vterm::kProductId));
  EXPECT_FALSE(hid.WriteReport(query.data(), 64));
  EXPECT_FALSE(hid.WriteReport(nullptr, 65));
  const Report overlong = OutputReport(0x49, kVersionQuery);  // claims 73 bytes
  EXPECT_TRUE(hid.WriteReport(overlong.data(), overlong.size()));
  EXPECT_TRUE(t.Frames().empty());
  EXPECT_EQ(hid.OutputReports().size(), 1u);
}

TEST(VtermHid, OpensOnlyWithItsIdsWhilePlugged) {
  Terminal t;
  HidFrontEnd hid(t, 0x1234, 0x5678);
  EXPECT_FALSE(hid.Open(vterm::kVendorId, vterm::kProductId));
  EXPECT_FALSE(hid.Open(0x1234, 0x5679));
  EXPECT_FALSE(hid.Open(0x11234, 0x5678));
  EXPECT_TRUE(hid.Open(0x1234, 0x5678));
  hid.Unplug();
  EXPECT_FALSE(hid.IsOpen());
  EXPECT_FALSE(hid.Open(0x1234, 0x5678));
  hid.Plug();
  EXPECT_TRUE(hid.Open(0x1234, 0x5678));
  EXPECT_EQ(hid.OpenCount(), 2);
}

TEST(VtermHid, ReadWaitsTimesOutAndFailsWhenTheDeviceGoes) {
  Terminal t;
  HidFrontEnd hid(t);
  Report r{};
  EXPECT_EQ(hid.ReadReport(r.data(), r.size(), 10), -1);  // not open
  ASSERT_TRUE(hid.Open(vterm::kVendorId, vterm::kProductId));
  EXPECT_EQ(hid.ReadReport(r.data(), 64, 10), -1);

  auto start = vterm::Clock::now();
  EXPECT_EQ(hid.ReadReport(r.data(), r.size(), 100), 0);
  EXPECT_GE(vterm::Clock::now() - start, 95ms);

  // A push from another thread wakes the read at once.
  std::thread pusher([&] {
    std::this_thread::sleep_for(50ms);
    t.Push(Bytes{0x7A, 0x01, 0x02, 0x03});
  });
  start = vterm::Clock::now();
  EXPECT_EQ(hid.ReadReport(r.data(), r.size(), 5000), 65);
  EXPECT_LT(vterm::Clock::now() - start, 2s);
  pusher.join();
  EXPECT_EQ(r[1], 4);

  std::thread unplugger([&] {
    std::this_thread::sleep_for(50ms);
    hid.Unplug();
  });
  start = vterm::Clock::now();
  EXPECT_EQ(hid.ReadReport(r.data(), r.size(), 5000), -1);
  EXPECT_LT(vterm::Clock::now() - start, 2s);
  unplugger.join();
}

TEST(VtermHid, FreshHandleStartsEmptyUnlessAskedOtherwise) {
  for (bool discard : {true, false}) {
    Terminal t;
    HidFrontEnd hid(t);
    hid.SetDiscardOnOpen(discard);
    ASSERT_TRUE(hid.Open(vterm::kVendorId, vterm::kProductId));
    t.Push(Bytes{0x01, 0x02});
    EXPECT_EQ(hid.PendingInputReports(), 1u);
    ASSERT_TRUE(hid.Open(vterm::kVendorId, vterm::kProductId));
    EXPECT_EQ(hid.PendingInputReports(), discard ? 0u : 1u);
  }
}

TEST(VtermHid, RestartLeavesTheBusAndComesBackWithTheSameIds) {
  Terminal t;
  t.SetRestartDuration(200);
  HidFrontEnd hid(t);
  ASSERT_TRUE(hid.Open(vterm::kVendorId, vterm::kProductId));
  const Bytes frame = vterm::ShortFrame(Bytes{0x78, 0x46, 0x0A, 'I', 'R', 'F', 'W'});
  const Report r = OutputReport(static_cast<std::uint8_t>(frame.size()), frame);
  ASSERT_TRUE(hid.WriteReport(r.data(), r.size()));
  Report in{};
  EXPECT_EQ(hid.ReadReport(in.data(), in.size(), 100), -1);
  EXPECT_FALSE(hid.Plugged());
  EXPECT_FALSE(hid.Open(vterm::kVendorId, vterm::kProductId));
  std::this_thread::sleep_for(250ms);
  EXPECT_TRUE(hid.Open(vterm::kVendorId, vterm::kProductId));
  EXPECT_EQ(t.RestartCount(), 1);
  EXPECT_TRUE(hid.InputReports().empty());  // a restarting terminal answers nothing
}

// The library's report logic against the front end: what the library's engineers rely on.
TEST(VtermHid, LibraryHidDeviceTransacts) {
  Terminal t;
  HidFrontEnd hid(t);
  vantorel::link::HidDevice device;
  device.UseBackend(&hid);
  std::uint8_t reply[512] = {};
  Bytes frame = kVersionQuery;
  const int n = device.Transact(vterm::kVendorId, vterm::kProductId, frame.data(), frame.size(),
                                reply, sizeof reply, vantorel::link::Millis{512});
  const Bytes expected = vterm::AckFrame(Bytes{'V', 'T', ' ', '2', '.', '0', '4'});
  ASSERT_EQ(n, static_cast<int>(expected.size()));
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), reply));
  const auto out = hid.OutputReports();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], OutputReport(0x09, kVersionQuery));

  // A reply injected as 0x85 + 0x03 reports joins to 8 bytes.
  hid.ReplaceNextMessage({Bytes{0x00, 0x85, 1, 2, 3, 4, 5}, Bytes{0x00, 0x03, 6, 7, 8}});
  const int m = device.Transact(vterm::kVendorId, vterm::kProductId, frame.data(), frame.size(),
                                reply, sizeof reply, vantorel::link::Millis{512});
  EXPECT_EQ(m, 8);
  EXPECT_EQ(Bytes(reply, reply + 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  device.UseBackend(nullptr);
}

TEST(VtermHid, InjectedReportsReachTheOpenHandleVerbatim) {
  Terminal t;
  HidFrontEnd hid(t);
  ASSERT_TRUE(hid.Open(vterm::kVendorId, vterm::kProductId));
  hid.InjectInputReport(Bytes{0x00, 0xC5, 0xAA});  // count above 63, for the reader to judge
  Report r{};
  ASSERT_EQ(hid.ReadReport(r.data(), r.size(), 100), 65);
  EXPECT_EQ(r[1], 0xC5);
  EXPECT_EQ(r[2], 0xAA);
  EXPECT_EQ(r[3], 0x00);
}

}  // namespace
