// The virtual terminal's frame parser: chunking, verification, resynchronisation and the
// short/long layout choice, seen through what the terminal answers.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "vterm/device.h"
#include "vterm/frame_codec.h"
#include "vterm/terminal.h"

namespace {

using namespace std::chrono_literals;
using vterm::Bytes;
using vterm::FrameError;
using vterm::Terminal;

const Bytes kVersionQuery = {0x02, 0x03, 0x00, 0x78, 0x46, 0x01, 0x3F, 0xBF, 0x03};
const Bytes kVersionReply = vterm::AckFrame(Bytes{'V', 'T', ' ', '2', '.', '0', '4'});
const Bytes kBadFrameNak = {0x02, 0x02, 0x00, 0x15, 0xEE, 0xFB, 0x03, 0x03};

// Collects what the terminal sends, as its sink.
class Collector {
 public:
  explicit Collector(Terminal& t) : t_(t) {
    t.SetSink([this](const Bytes& m) {
      std::lock_guard lock(mutex_);
      messages_.push_back(m);
    });
  }
  ~Collector() { t_.SetSink(nullptr); }
  std::vector<Bytes> messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }

 private:
  Terminal& t_;
  mutable std::mutex mutex_;
  std::vector<Bytes> messages_;
};

// A handler that echoes the parameters, to see exactly what content reached dispatch.
void InstallEcho(Terminal& t) {
  t.Register(0x8A, 0x46, 0x77, [](Terminal&, const vterm::Command& c) {
    return vterm::Response::Ack(Bytes(c.Params().begin(), c.Params().end()));
  });
}

Bytes EchoCommand(std::size_t params) {
  Bytes content = {0x8A, 0x46, 0x77};
  for (std::size_t i = 0; i < params; ++i) content.push_back(static_cast<std::uint8_t>(i * 7));
  return content;
}

TEST(VtermFrameCodec, BuildsBothLayoutsAtTheirThresholds) {
  EXPECT_EQ(vterm::ShortFrame(Bytes{0x78, 0x46, 0x01}), kVersionQuery);
  EXPECT_EQ(vterm::AckFrame(), (Bytes{0x02, 0x01, 0x00, 0x06, 0x06, 0x06, 0x03}));
  EXPECT_EQ(vterm::NakFrame(0x18), (Bytes{0x02, 0x02, 0x00, 0x15, 0x18, 0x0D, 0x2D, 0x03}));

  struct Case {
    std::size_t content;
    bool hostLong;
    bool replyLong;
  };
  for (const Case c :
       {Case{0xFFFE, false, false}, Case{0xFFFF, true, false}, Case{0x10000, true, true}}) {
    const Bytes content(c.content, 0x11);
    const Bytes host = vterm::HostFrame(content);
    const Bytes reply = vterm::ReplyFrame(content);
    EXPECT_EQ(host.size(), c.content + (c.hostLong ? 7 : 6)) << c.content;
    EXPECT_EQ(reply.size(), c.content + (c.replyLong ? 7 : 6)) << c.content;
    if (c.hostLong) {
      EXPECT_EQ(host[1], c.content & 0xFF);
      EXPECT_EQ(host[2], (c.content >> 8) & 0xFF);
      EXPECT_EQ(host[3], c.content >> 16);
    }
  }
}

TEST(VtermFrameCodec, HexRoundTripAndRejects) {
  EXPECT_EQ(vterm::Hex(kVersionQuery), "02 03 00 78 46 01 3F BF 03");
  EXPECT_EQ(vterm::ParseHex("02 0300:78-46 01"), (Bytes{0x02, 0x03, 0x00, 0x78, 0x46, 0x01}));
  EXPECT_FALSE(vterm::ParseHex("0 2"));
  EXPECT_FALSE(vterm::ParseHex("123"));
  EXPECT_FALSE(vterm::ParseHex("zz"));
}

TEST(VtermParser, AnswersWhateverTheChunking) {
  for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{4}, std::size_t{9}}) {
    Terminal t;
    Collector out(t);
    Bytes twice = kVersionQuery;
    twice.insert(twice.end(), kVersionQuery.begin(), kVersionQuery.end());
    for (std::size_t i = 0; i < twice.size(); i += chunk) {
      t.Receive(twice.data() + i, std::min(chunk, twice.size() - i));
    }
    EXPECT_EQ(out.messages(), (std::vector<Bytes>{kVersionReply, kVersionReply})) << chunk;
    const auto frames = t.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].raw, kVersionQuery);
    EXPECT_TRUE(frames[0].valid());
    EXPECT_EQ(frames[0].command.bytes, (Bytes{0x78, 0x46, 0x01}));
  }
}

TEST(VtermParser, FrameCompletedAfterAPauseShorterThanTheStallLimit) {
  Terminal t;
  Collector out(t);
  t.Receive(kVersionQuery.data(), 4);
  std::this_thread::sleep_for(50ms);
  t.Receive(kVersionQuery.data() + 4, kVersionQuery.size() - 4);
  EXPECT_EQ(out.messages(), std::vector<Bytes>{kVersionReply});
}

TEST(VtermParser, BadCheckBytesGetANakAndChangeNothing) {
  struct Case {
    const char* name;
    std::size_t index;  // byte to corrupt in the set-serial frame (17 bytes)
    FrameError error;
  };
  for (const Case c :
       {Case{"xor", 14, FrameError::kBadXor}, Case{"sum", 15, FrameError::kBadSum},
        Case{"data", 8, FrameError::kBadXor}, Case{"etx", 16, FrameError::kBadEtx}}) {
    Terminal t;
    Collector out(t);
    Bytes frame =
        vterm::ShortFrame(Bytes{0x78, 0x46, 0x03, 'A', 'B', 'C', 'D', '0', '0', '0', '1'});
    ASSERT_EQ(frame.size(), 17u);
    frame[c.index] ^= 0x40;
    t.Receive(frame);
    t.Receive(kVersionQuery);  // still in step afterwards
    EXPECT_EQ(out.messages(), (std::vector<Bytes>{kBadFrameNak, kVersionReply})) << c.name;
    const auto frames = t.Frames();
    ASSERT_EQ(frames.size(), 2u) << c.name;
    EXPECT_EQ(frames[0].error, c.error) << c.name;
    EXPECT_EQ(frames[0].raw, frame) << c.name;
    EXPECT_EQ(t.Device().SerialNumber(), vterm::kDefaultSerial) << c.name;
    EXPECT_TRUE(t.Commands() == std::vector<Bytes>{Bytes({0x78, 0x46, 0x01})}) << c.name;
  }
}

TEST(VtermParser, SkipsGarbageBeforeAFrame) {
  Terminal t;
  Collector out(t);
  Bytes input = {0xFF, 0x13, 0x00, 0x06, 0x03};
  input.insert(input.end(), kVersionQuery.begin(), kVersionQuery.end());
  t.Receive(input);
  EXPECT_EQ(out.messages(), std::vector<Bytes>{kVersionReply});
  EXPECT_EQ(t.GarbageBytes(), 5u);
  EXPECT_EQ(t.Frames().size(), 1u);
}

TEST(VtermParser, StalledPartialFrameIsDroppedAndTheFrameBehindItAnswered) {
  Terminal t;
  Collector out(t);
  // 02 01 claims a 0x0201-byte frame that never comes; the real frame sits behind it.
  Bytes input = {0x02, 0x01};
  input.insert(input.end(), kVersionQuery.begin(), kVersionQuery.end());
  const auto start = vterm::Clock::now();
  t.Receive(input);
  EXPECT_TRUE(out.messages().empty());
  ASSERT_TRUE(t.WaitForSent(1, 3s));
  EXPECT_GE(vterm::Clock::now() - start, std::chrono::milliseconds(vterm::kStallMs - 20));
  EXPECT_EQ(out.messages(), std::vector<Bytes>{kVersionReply});
  const auto frames = t.Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].error, FrameError::kIncomplete);
  EXPECT_EQ(frames[0].raw, (Bytes{0x02, 0x01}));
  EXPECT_TRUE(frames[1].valid());
}

TEST(VtermParser, BadShortFrameThatCouldStartALongOneIsNakedAfterTheStall) {
  Terminal t;
  Collector out(t);
  // Content starting with 0x01 makes the long reading 0x010003 bytes, which a host might
  // send, so the terminal waits for it before calling the frame bad.
  Bytes frame = vterm::ShortFrame(Bytes{0x01, 0x46, 0x01});
  frame[6] ^= 0x01;
  t.Receive(frame);
  EXPECT_TRUE(out.messages().empty());
  ASSERT_TRUE(t.WaitForSent(1, 3s));
  EXPECT_EQ(out.messages(), std::vector<Bytes>{kBadFrameNak});
  ASSERT_EQ(t.Frames().size(), 1u);
  EXPECT_EQ(t.Frames()[0].error, FrameError::kBadXor);
}

TEST(VtermParser, LongFramesAtAndAboveTheThreshold) {
  for (std::size_t params : {std::size_t{0xFFFF - 3}, std::size_t{70000}, std::size_t{239990}}) {
    Terminal t;
    InstallEcho(t);
    Collector out(t);
    const Bytes content = EchoCommand(params);
    const Bytes frame = vterm::HostFrame(content);
    ASSERT_EQ(frame.size(), content.size() + 7);
    // In report-sized pieces, as over HID.
    for (std::size_t i = 0; i < frame.size(); i += 63) {
      t.Receive(frame.data() + i, std::min<std::size_t>(63, frame.size() - i));
    }
    const auto frames = t.Frames();
    ASSERT_EQ(frames.size(), 1u) << params;
    EXPECT_TRUE(frames[0].valid()) << params;
    EXPECT_TRUE(frames[0].longLayout) << params;
    EXPECT_EQ(frames[0].command.bytes, content) << params;
    const auto messages = out.messages();
    ASSERT_EQ(messages.size(), 1u);
    // The echo reply is ACK + params: long layout only past 0xFFFF content bytes.
    const std::size_t replyContent = params + 1;
    EXPECT_EQ(messages[0].size(), replyContent + (replyContent > 0xFFFF ? 7u : 6u)) << params;
    EXPECT_EQ(messages[0][replyContent > 0xFFFF ? 4 : 3], vterm::kAck);
  }
}

TEST(VtermParser, LargestShortFrame) {
  Terminal t;
  InstallEcho(t);
  Collector out(t);
  const Bytes content = EchoCommand(0xFFFE - 3);
  t.Receive(vterm::HostFrame(content));
  ASSERT_EQ(t.Frames().size(), 1u);
  EXPECT_FALSE(t.Frames()[0].longLayout);
  EXPECT_EQ(t.Frames()[0].command.bytes, content);
  ASSERT_EQ(out.messages().size(), 1u);
  EXPECT_EQ(out.messages()[0].size(), 0xFFFEu - 3 + 1 + 6);
}

TEST(VtermDispatch, UnknownAndHeaderlessCommandsAreRefused) {
  const Bytes nak = vterm::NakFrame(vterm::kStatusUnknownCommand);
  for (const Bytes& content : {Bytes{0x78, 0x46, 0x99}, Bytes{0x78, 0x46}, Bytes{}}) {
    Terminal t;
    Collector out(t);
    t.Receive(vterm::ShortFrame(content));
    EXPECT_EQ(out.messages(), std::vector<Bytes>{nak}) << vterm::Hex(content);
  }
}

TEST(VtermDispatch, ExactHandlerWinsOverFunctionWildcard) {
  Terminal t;
  Collector out(t);
  t.RegisterFunction(0x8A, 0x46, [](Terminal&, const vterm::Command& c) {
    return vterm::Response::Ack(Bytes{'W', c.Sub()});
  });
  t.Register(0x8A, 0x46, 0x05,
             [](Terminal&, const vterm::Command&) { return vterm::Response::Ack(Bytes{'E'}); });
  t.Receive(vterm::ShortFrame(Bytes{0x8A, 0x46, 0x05}));
  t.Receive(vterm::ShortFrame(Bytes{0x8A, 0x46, 0x09, 0x01}));
  t.Receive(vterm::ShortFrame(Bytes{0x8A, 0x53, 0x09}));
  EXPECT_EQ(out.messages(),
            (std::vector<Bytes>{vterm::AckFrame(Bytes{'E'}), vterm::AckFrame(Bytes{'W', 0x09}),
                                vterm::NakFrame(vterm::kStatusUnknownCommand)}));
}

TEST(VtermDispatch, ResponseKinds) {
  Terminal t;
  Collector out(t);
  t.Register(0x8A, 0x46, 0x01,
             [](Terminal&, const vterm::Command&) { return vterm::Response::None(); });
  t.Register(0x8A, 0x46, 0x02, [](Terminal&, const vterm::Command&) {
    return vterm::Response::Raw(Bytes{0xAA, 0xBB});
  });
  t.Receive(vterm::ShortFrame(Bytes{0x8A, 0x46, 0x01}));
  t.Receive(vterm::ShortFrame(Bytes{0x8A, 0x46, 0x02}));
  EXPECT_EQ(out.messages(), std::vector<Bytes>{Bytes({0xAA, 0xBB})});
  const auto sent = t.Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].frameSeq, t.Frames()[1].seq);
  EXPECT_EQ(sent[0].origin, vterm::Origin::kReply);
}

}  // namespace
