// The virtual terminal's device commands, misbehaviour on request, unsolicited messages
// and restart, seen through its sink and its accessors.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "vterm/console.h"
#include "vterm/device.h"
#include "vterm/frame_codec.h"
#include "vterm/terminal.h"

namespace {

using namespace std::chrono_literals;
using vterm::Bytes;
using vterm::Terminal;

struct Timed {
  Bytes bytes;
  vterm::Clock::time_point at;
};

class Collector {
 public:
  explicit Collector(Terminal& t) : t_(t) {
    t.SetSink([this](const Bytes& m) {
      std::lock_guard lock(mutex_);
      messages_.push_back({m, vterm::Clock::now()});
    });
  }
  ~Collector() { t_.SetSink(nullptr); }
  std::vector<Timed> timed() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  std::vector<Bytes> messages() const {
    std::vector<Bytes> out;
    for (const auto& m : timed()) out.push_back(m.bytes);
    return out;
  }

 private:
  Terminal& t_;
  mutable std::mutex mutex_;
  std::vector<Timed> messages_;
};

Bytes Ack(std::string_view text) {
  return vterm::AckFrame(Bytes(text.begin(), text.end()));
}
void Send(Terminal& t, const Bytes& content) {
  t.Receive(vterm::ShortFrame(content));
}

const Bytes kVersion = {0x78, 0x46, 0x01};
const Bytes kSerial = {0x78, 0x46, 0x02};

TEST(VtermDevice, CommandsAnswerAndKeepState) {
  const Bytes bare = vterm::AckFrame();
  const Bytes badParam = vterm::NakFrame(vterm::kStatusBadParameter);
  struct Case {
    Bytes command;
    Bytes reply;
  };
  const Case cases[] = {
      {kVersion, Ack("VT 2.04")},
      {kSerial, Ack("VT000001")},
      {{0x78, 0x46, 0x20}, Ack("VT-3910")},
      {{0x78, 0x46, 0x03, 'S', 'N', '1', '2', '3', '4', '5', '6'}, bare},
      {kSerial, Ack("SN123456")},
      {{0x78, 0x46, 0x03, 'S', 'H', 'O', 'R', 'T'}, badParam},
      {kSerial, Ack("SN123456")},
      {{0x76, 0x46, 0x01, 0x45}, bare},
      {{0x76, 0x46, 0x01}, badParam},
      {{0x7B, 0x46, 0x02, 0xE8, 0x03, 0xF4, 0x01}, bare},
      {{0x7B, 0x46, 0x02, 0xE8, 0x03}, badParam},
      {{0x7B, 0x46, 0x01, 0x02}, bare},
      {{0x73, 0x46, 0xE1, 0x01, '1'}, vterm::AckFrame(Bytes{'1'})},
      {{0x73, 0x46, 0xE1, 0x01, '2'}, badParam},
      {{0x78, 0x46, 0x0A, 'I', 'R', 'F', 'X'}, badParam},
  };
  Terminal t;
  Collector out(t);
  std::vector<Bytes> expected;
  for (const Case& c : cases) {
    Send(t, c.command);
    expected.push_back(c.reply);
  }
  EXPECT_EQ(out.messages(), expected);
  const vterm::DeviceModule& d = t.Device();
  EXPECT_EQ(d.SerialNumber(), "SN123456");
  EXPECT_EQ(d.Led(), 0x45);
  EXPECT_EQ(d.LastTone(), (vterm::Tone{1000, 500}));
  EXPECT_EQ(d.ToneCount(), 1);
  EXPECT_EQ(d.Audio(), 0x02);
  EXPECT_TRUE(d.SecureHeadOn());
  EXPECT_EQ(t.RestartCount(), 0);
}

TEST(VtermDevice, OpenHandshakeRepliesAreLongerThanSixBytes) {
  Terminal t;
  Collector out(t);
  Send(t, kVersion);
  Send(t, {0x73, 0x46, 0xE1, 0x01, 0x30});
  const auto m = out.messages();
  ASSERT_EQ(m.size(), 2u);
  for (const Bytes& r : m) {
    EXPECT_GT(r.size(), 6u);
    EXPECT_EQ(r[3], vterm::kAck);
  }
  EXPECT_FALSE(t.Device().SecureHeadOn());
}

TEST(VtermDevice, RestartIsSilentKeepsTheSerialAndIgnoresInputWhileBooting) {
  Terminal t;
  Collector out(t);
  int notified = -1;
  t.AddRestartListener([&](int ms) { notified = ms; });
  Send(t, {0x78, 0x46, 0x03, 'K', 'E', 'E', 'P', '0', '0', '0', '1'});
  Send(t, {0x76, 0x46, 0x01, 0x77});
  Send(t, {0x73, 0x46, 0xE1, 0x01, '1'});
  t.PushAfter(100, Bytes{0x99});  // lost with the restart
  // The restart command and a version query right behind it in the same chunk.
  Bytes chunk = vterm::ShortFrame(Bytes{0x78, 0x46, 0x0A, 'I', 'R', 'F', 'W'});
  const Bytes query = vterm::ShortFrame(kVersion);
  chunk.insert(chunk.end(), query.begin(), query.end());
  t.Receive(chunk);
  EXPECT_EQ(t.RestartCount(), 1);
  EXPECT_EQ(notified, vterm::kDefaultRestartMs);
  EXPECT_TRUE(t.Restarting());
  Send(t, kVersion);                     // still booting
  EXPECT_EQ(out.messages().size(), 3u);  // only the three ACKs from before
  std::this_thread::sleep_for(std::chrono::milliseconds(vterm::kDefaultRestartMs + 50));
  EXPECT_FALSE(t.Restarting());
  Send(t, kSerial);
  const auto m = out.messages();
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(m.back(), Ack("KEEP0001"));
  EXPECT_EQ(t.Device().Led(), 0);
  EXPECT_FALSE(t.Device().SecureHeadOn());
}

TEST(VtermMisbehaviour, EachFaultForTheNextCommandsOnly) {
  const Bytes version = Ack("VT 2.04");
  struct Case {
    const char* name;
    std::function<void(Terminal&)> arm;
    std::vector<Bytes> replies;  // for three version queries
  };
  const Case cases[] = {
      {"refuse",
       [](Terminal& t) { t.RefuseNext(2, 0x18); },
       {vterm::NakFrame(0x18), vterm::NakFrame(0x18), version}},
      {"silent", [](Terminal& t) { t.SilenceNext(1); }, {version, version}},
      {"short",
       [](Terminal& t) { t.TruncateNext(2, 5); },
       {Bytes(version.begin(), version.begin() + 5), Bytes(version.begin(), version.begin() + 5),
        version}},
      {"short-zero", [](Terminal& t) { t.TruncateNext(1, 0); }, {version, version}},
      {"skip-then-refuse",
       [](Terminal& t) {
         vterm::Misbehaviour m;
         m.fault = vterm::Fault::kRefuse;
         m.skip = 2;
         m.status = 0xE1;
         t.Misbehave(m);
       },
       {version, version, vterm::NakFrame(0xE1)}},
  };
  for (const Case& c : cases) {
    Terminal t;
    Collector out(t);
    c.arm(t);
    for (int i = 0; i < 3; ++i) Send(t, kVersion);
    EXPECT_EQ(out.messages(), c.replies) << c.name;
    EXPECT_EQ(t.MisbehaviourLeft(), 0) << c.name;
    EXPECT_EQ(t.Frames().size(), 3u) << c.name;
  }
}

TEST(VtermMisbehaviour, RefusedAndLostCommandsAreNotCarriedOut) {
  for (bool silent : {false, true}) {
    Terminal t;
    Collector out(t);
    if (silent) {
      t.SilenceNext(1);
    } else {
      t.RefuseNext(1, 0xE8);
    }
    Send(t, {0x76, 0x46, 0x01, 0x55});
    EXPECT_EQ(t.Device().Led(), 0) << silent;
    Send(t, {0x76, 0x46, 0x01, 0x55});
    EXPECT_EQ(t.Device().Led(), 0x55) << silent;
  }
}

TEST(VtermMisbehaviour, OnlyTheChosenCommandAndNotBadFrames) {
  Terminal t;
  Collector out(t);
  vterm::Misbehaviour m;
  m.fault = vterm::Fault::kRefuse;
  m.only = vterm::CommandKey{0x73, 0x46, 0xE1};
  m.status = 0x81;
  t.Misbehave(m);
  Bytes bad = vterm::ShortFrame(Bytes{0x73, 0x46, 0xE1, 0x01, 0x30});
  bad[8] ^= 1;
  t.Receive(bad);
  Send(t, kVersion);
  Send(t, {0x73, 0x46, 0xE1, 0x01, 0x30});
  Send(t, {0x73, 0x46, 0xE1, 0x01, 0x30});
  EXPECT_EQ(out.messages(),
            (std::vector<Bytes>{vterm::NakFrame(vterm::kStatusBadFrame), Ack("VT 2.04"),
                                vterm::NakFrame(0x81), vterm::AckFrame(Bytes{'0'})}));
}

TEST(VtermMisbehaviour, GarbageNeverReadsAsAReplyOrAStatus) {
  Terminal t;
  Collector out(t);
  t.GarbleNext(300, 8);
  for (int i = 0; i < 300; ++i) Send(t, kVersion);
  const auto m = out.messages();
  ASSERT_EQ(m.size(), 300u);
  const Bytes known = {0xE1, 0xEC, 0x6A, 0xEE, 0xC1, 0xED, 0x81,
                       0xE8, 0x18, 0x19, 0x03, 0x04, 0x05, 0x0D};
  for (const Bytes& g : m) {
    ASSERT_EQ(g.size(), 8u);
    EXPECT_NE(g[0], vterm::kStx);
    EXPECT_NE(g[3], vterm::kAck);
    EXPECT_EQ(std::find(known.begin(), known.end(), g[4]), known.end()) << vterm::Hex(g);
  }
  EXPECT_NE(m[0], m[1]);
}

TEST(VtermMisbehaviour, LateReplyHoldsBackLaterOutput) {
  Terminal t;
  Collector out(t);
  t.DelayNext(1, 300);
  const auto start = vterm::Clock::now();
  Send(t, kVersion);
  t.Push(Bytes{0x7A, 0x01, 0x02, 0x03});
  Send(t, kSerial);
  EXPECT_TRUE(out.messages().empty());
  ASSERT_TRUE(t.WaitForSent(3, 3s));
  const auto m = out.timed();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].bytes, Ack("VT 2.04"));
  EXPECT_EQ(m[1].bytes, (Bytes{0x7A, 0x01, 0x02, 0x03}));
  EXPECT_EQ(m[2].bytes, Ack("VT000001"));
  EXPECT_GE(m[0].at - start, 290ms);
  EXPECT_EQ(t.Sent()[1].origin, vterm::Origin::kPush);
}

TEST(VtermMisbehaviour, SplitReplyLeavesInTwoPiecesWithTheGapBetween) {
  Terminal t;
  Collector out(t);
  t.SplitNext(1, 4, 150, 100);
  const auto start = vterm::Clock::now();
  Send(t, kVersion);
  t.Push(Bytes{0x7A, 0x01, 0x02, 0x03});  // waits for the whole reply
  ASSERT_TRUE(t.WaitForSent(3, 3s));
  const auto m = out.timed();
  ASSERT_EQ(m.size(), 3u);
  const Bytes whole = Ack("VT 2.04");
  EXPECT_EQ(m[0].bytes, Bytes(whole.begin(), whole.begin() + 4));
  EXPECT_EQ(m[1].bytes, Bytes(whole.begin() + 4, whole.end()));
  EXPECT_EQ(m[2].bytes, (Bytes{0x7A, 0x01, 0x02, 0x03}));
  EXPECT_GE(m[0].at - start, 95ms);
  // The pieces are scheduled from the command's arrival: the rest after delay + gap.
  EXPECT_GE(m[1].at - start, 245ms);
  EXPECT_GE(m[1].at - m[0].at, 50ms);
  EXPECT_LE(m[1].at - m[0].at, 600ms);
  EXPECT_EQ(t.MisbehaviourLeft(), 0);
}

TEST(VtermPush, ImmediateScheduledAndCancelled) {
  Terminal t;
  Collector out(t);
  const auto start = vterm::Clock::now();
  t.Push(Bytes{0x01});
  EXPECT_EQ(out.messages(), std::vector<Bytes>{Bytes{0x01}});
  t.PushAfter(150, Bytes{0x03});
  t.PushAfter(50, Bytes{0x02});
  const auto id = t.Schedule(100, [](Terminal& term) { term.Push(Bytes{0xFF}); });
  EXPECT_TRUE(t.Cancel(id));
  EXPECT_FALSE(t.Cancel(id));
  ASSERT_TRUE(t.WaitForSent(3, 3s));
  std::this_thread::sleep_for(100ms);
  const auto m = out.timed();
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[1].bytes, Bytes{0x02});
  EXPECT_EQ(m[2].bytes, Bytes{0x03});
  EXPECT_GE(m[1].at - start, 45ms);
  EXPECT_GE(m[2].at - start, 145ms);
}

TEST(VtermRecording, WaitForFramesSeesAnotherThreadsInput) {
  Terminal t;
  EXPECT_FALSE(t.WaitForFrames(1, 20ms));
  std::thread sender([&] {
    std::this_thread::sleep_for(30ms);
    Send(t, kVersion);
    Send(t, kSerial);
  });
  EXPECT_TRUE(t.WaitForFrames(2, 5s));
  sender.join();
  EXPECT_EQ(t.Commands(), (std::vector<Bytes>{kVersion, kSerial}));
  t.ClearFrames();
  t.ClearSent();
  EXPECT_TRUE(t.Frames().empty());
  EXPECT_TRUE(t.Sent().empty());
}

TEST(VtermConsole, DrivesTheTerminal) {
  Terminal t;
  Collector out(t);
  vterm::Console console(t);
  EXPECT_EQ(console.Execute("push 7A 01 02"), "");
  EXPECT_EQ(out.messages(), std::vector<Bytes>{Bytes({0x7A, 0x01, 0x02})});
  EXPECT_EQ(console.Execute("refuse 1 e8"), "");
  Send(t, kVersion);
  EXPECT_EQ(out.messages().back(), vterm::NakFrame(0xE8));
  EXPECT_EQ(console.Execute("frames"), "1 ok 02 03 00 78 46 01 3F BF 03\n");
  EXPECT_NE(console.Execute("push 7").find("error:"), std::string::npos);
  EXPECT_NE(console.Execute("late x 5").find("error:"), std::string::npos);
  EXPECT_NE(console.Execute("bogus").find("error:"), std::string::npos);
  EXPECT_FALSE(console.QuitRequested());
  console.Execute("quit");
  EXPECT_TRUE(console.QuitRequested());
}

}  // namespace
