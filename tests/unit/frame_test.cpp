#include "link/frame.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "link/return_codes.h"
#include "vantorel.h"

namespace vantorel::link {
namespace {

std::vector<std::uint8_t> Framed(std::vector<std::uint8_t> command) {
  const std::size_t n = command.size();
  command.resize(n + kLongFrameOverhead);
  command.resize(BuildFrameFor(command.data(), n));
  return command;
}

TEST(BuildFrame, VersionQuery) {
  EXPECT_EQ(Framed({0x78, 0x46, 0x01}),
            (std::vector<std::uint8_t>{0x02, 0x03, 0x00, 0x78, 0x46, 0x01, 0x3F, 0xBF, 0x03}));
}

TEST(BuildFrame, EmptyCommandHasZeroChecks) {
  EXPECT_EQ(Framed({}), (std::vector<std::uint8_t>{0x02, 0x00, 0x00, 0x00, 0x00, 0x03}));
}

TEST(BuildFrame, KnownFrames) {
  struct Case {
    std::vector<std::uint8_t> command, frame;
  };
  const Case cases[] = {
      {{0x73, 0x53, 0x1D, 0x01, 0x32},
       {0x02, 0x05, 0x00, 0x73, 0x53, 0x1D, 0x01, 0x32, 0x0E, 0x16, 0x03}},
      {{0x73, 0x46, 0xE1, 0x01, 0x31},
       {0x02, 0x05, 0x00, 0x73, 0x46, 0xE1, 0x01, 0x31, 0xE4, 0xCC, 0x03}},
      {{0x75, 0x46, 0x09}, {0x02, 0x03, 0x00, 0x75, 0x46, 0x09, 0x3A, 0xC4, 0x03}},
      {{0x75, 0x46, 0x84}, {0x02, 0x03, 0x00, 0x75, 0x46, 0x84, 0xB7, 0x3F, 0x03}},
  };
  for (const auto& c : cases) EXPECT_EQ(Framed(c.command), c.frame);
}

TEST(BuildFrame, LengthBytesAndFrameChoice) {
  struct Case {
    std::size_t n;
    std::size_t total;
    std::vector<std::uint8_t> lengthBytes;
  };
  const Case cases[] = {
      {256, 262, {0x00, 0x01}},
      {0xFFFE, 0xFFFE + 6, {0xFE, 0xFF}},
      {0xFFFF, 0xFFFF + 7, {0xFF, 0xFF, 0x00}},
      {0x12345, 0x12345 + 7, {0x45, 0x23, 0x01}},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> buffer(c.n + kLongFrameOverhead, 0x01);
    const std::size_t total = BuildFrameFor(buffer.data(), c.n);
    ASSERT_EQ(total, c.total) << c.n;
    EXPECT_EQ(buffer[0], kStx);
    EXPECT_EQ(
        std::vector<std::uint8_t>(buffer.begin() + 1, buffer.begin() + 1 + c.lengthBytes.size()),
        c.lengthBytes);
    EXPECT_EQ(buffer[total - 3], (c.n % 2) ? 0x01 : 0x00) << "xor of n ones";
    EXPECT_EQ(buffer[total - 2], static_cast<std::uint8_t>(c.n & 0xFF)) << "sum of n ones";
    EXPECT_EQ(buffer[total - 1], kEtx);
  }
}

TEST(MapReplyStatus, Table) {
  const std::pair<std::uint8_t, std::uint8_t> cases[] = {
      {0xE1, 99},  {0xEC, 100}, {0x6A, 101}, {0xEE, 101}, {0xC1, 102}, {0xED, 102},
      {0x81, 103}, {0xE8, 104}, {0x18, 105}, {0x19, 106}, {0x03, 107}, {0x04, 108},
      {0x05, 109}, {0x0D, 110}, {0x00, 0},   {0x06, 0},   {0x15, 0},   {0xFF, 0},
  };
  for (const auto& [status, code] : cases) {
    const std::uint8_t reply[8] = {0x02, 0x02, 0x00, 0x15, status, 0, 0, 0x03};
    EXPECT_EQ(MapReplyStatus(reply), code) << int(status);
  }
}

// The text an application gets for a code: the table's, never null, the same static string
// each time; the text of a status code names the status bytes that map to it.
TEST(ReturnCodeText, EveryCodeHasItsTextAndOthersAreUnknown) {
  const std::pair<unsigned char, const char*> cases[] = {
      {0, "failure: no reply, a short reply or an unknown status"},
      {1, "success"},
      {99, "invalid argument, or terminal status E1"},
      {101, "terminal status 6A or EE"},
      {110, "terminal status 0D"},
      {200, "a connection is already open"},
      {201, "no connection is open"},
      {207, "an encrypted data entry is running"},
      {2, "unknown code"},
      {98, "unknown code"},
      {111, "unknown code"},
      {203, "unknown code"},
      {255, "unknown code"},
  };
  for (const auto& [code, text] : cases) {
    ASSERT_NE(Brixa_ReturnCodeText(code), nullptr) << int(code);
    EXPECT_STREQ(Brixa_ReturnCodeText(code), text) << int(code);
    EXPECT_EQ(Brixa_ReturnCodeText(code), Brixa_ReturnCodeText(code)) << "a static string";
  }
  for (const ReturnCode& row : ReturnCodes()) {
    EXPECT_STRNE(Brixa_ReturnCodeText(row.code), "unknown code") << row.name;
    for (std::uint8_t i = 0; i < row.statusCount; ++i) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02X", row.statuses[i]);
      EXPECT_NE(std::string(row.text).find(hex), std::string::npos) << row.name;
      EXPECT_EQ(CodeForStatus(row.statuses[i]), row.code) << row.name;
    }
  }
}

// The reply view's count rules: what counts as acknowledged, where the data lies, and that
// no field is read beyond what arrived.
TEST(Reply, CountRulesAndData) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    bool ackedAck, ackedData;
    std::vector<std::uint8_t> data;
    std::uint8_t status;
  };
  const std::vector<std::uint8_t> ackOnly = Framed({0x06});
  const std::vector<std::uint8_t> withData = Framed({0x06, 0x11, 0x22});
  const std::vector<std::uint8_t> refused = Framed({0x15, 0xE8});
  const Case cases[] = {
      {"nothing", {}, false, false, {}, 0},
      {"STX alone", {0x02}, false, false, {}, 0},
      {"STX and length", {0x02, 0x02, 0x00}, false, false, {}, 0},
      {"ACK byte alone", {0x02, 0x01, 0x00, 0x06}, true, false, {}, 0},
      {"NAK without its status", {0x02, 0x02, 0x00, 0x15}, false, false, {}, 0},
      {"six bytes", {ackOnly.begin(), ackOnly.begin() + 6}, true, false, {}, 0},
      {"bare ACK frame", ackOnly, true, true, {}, 0},
      {"ACK and data", withData, true, true, {0x11, 0x22}, 0},
      {"NAK", refused, false, false, {0xE8}, 104},
  };
  for (const Case& c : cases) {
    // Beyond what arrived the area holds an ACK and a known status: a view that read past
    // the count would see them.
    std::vector<std::uint8_t> area(16, 0xE1);
    area[3] = kAck;
    std::copy(c.bytes.begin(), c.bytes.end(), area.begin());
    const Reply reply(area.data(), static_cast<int>(c.bytes.size()));
    EXPECT_EQ(reply.Acked(Accept::Ack), c.ackedAck) << c.what;
    EXPECT_EQ(reply.Acked(Accept::Data), c.ackedData) << c.what;
    const auto data = reply.Data();
    EXPECT_EQ(std::vector<std::uint8_t>(data.begin(), data.end()), c.data) << c.what;
    EXPECT_EQ(reply.Holds(c.data.size()), true) << c.what;
    EXPECT_EQ(reply.Holds(c.data.size() + 1), false) << c.what;
    EXPECT_EQ(reply.Status(), c.status) << c.what;
  }
  const std::vector<std::uint8_t> number = Framed({0x06, 0x78, 0x56, 0x34, 0x12});
  EXPECT_EQ(Reply(number.data(), static_cast<int>(number.size())).U32At(0), 0x12345678u);
}

// Reads that may come in either layout: the length tells them apart, and the one length
// that fits neither is not acknowledged.
TEST(Reply, EitherLayoutByLength) {
  for (const std::size_t content : {std::size_t{1}, std::size_t{5}, std::size_t{0xFFFE},
                                    std::size_t{0x10000}, std::size_t{0x10001}}) {
    std::vector<std::uint8_t> command(content, 0x41);
    command[0] = kAck;
    const std::vector<std::uint8_t> frame = Framed(command);
    const Reply reply = Reply::EitherLayout(frame.data(), frame.size());
    ASSERT_TRUE(reply.Acked(Accept::Ack)) << content;
    EXPECT_EQ(reply.Data().size(), content - 1) << content;
  }
  std::vector<std::uint8_t> neither(0xFFFF + 7, 0);
  neither[3] = kAck;
  EXPECT_FALSE(Reply::EitherLayout(neither.data(), neither.size()).Acked(Accept::Ack));
  EXPECT_TRUE(Reply::EitherLayout(neither.data(), neither.size()).Data().empty());
}

// Carving a reply: the first complete short frame with matching check bytes and ETX.
TEST(FindFrame, FindsTheFirstCompleteVerifiedFrame) {
  const std::vector<std::uint8_t> version = Framed({0x06, 'V', 'T'});  // 9 bytes
  const std::vector<std::uint8_t> ack = Framed({0x06});                // 7 bytes
  auto join = [](std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  std::vector<std::uint8_t> badXor = ack;
  badXor[4] ^= 0xFF;
  std::vector<std::uint8_t> noEtx = ack;
  noEtx[6] = 0x00;
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    bool found;
    std::size_t offset, length;
  };
  const Case cases[] = {
      {"alone", version, true, 0, 9},
      {"two glued: the first", join({version, ack}), true, 0, 9},
      {"behind pen bytes", join({{0x9C, 0x2B, 0x45}, ack}), true, 3, 7},
      {"STX in noise before it", join({{0x02, 0x40, 0x00}, ack}), true, 3, 7},
      {"bad check bytes", badXor, false, 0, 0},
      {"bad check bytes, then a good frame", join({badXor, version}), true, 7, 9},
      {"no ETX", noEtx, false, 0, 0},
      {"cut short", std::vector<std::uint8_t>(version.begin(), version.end() - 1), false, 0, 0},
      {"length past the end", {0x02, 0xFF, 0xFF, 0x00, 0x00, 0x03}, false, 0, 0},
      {"empty frame", {0x02, 0x00, 0x00, 0x00, 0x00, 0x03}, true, 0, 6},
      {"nothing", {}, false, 0, 0},
  };
  for (const auto& c : cases) {
    FrameSpan span;
    EXPECT_EQ(FindFrame(c.bytes.data(), c.bytes.size(), span), c.found) << c.what;
    if (c.found) {
      EXPECT_EQ(span.offset, c.offset) << c.what;
      EXPECT_EQ(span.length, c.length) << c.what;
    }
  }
}

// How much of a reply that did not fit is still to come, from its first bytes.
TEST(StatedReplyLength, ShortAndLongLayoutsAndBytesThatBeginNoFrame) {
  struct Row {
    const char* what;
    std::vector<std::uint8_t> head;
    std::size_t length;
  };
  const Row rows[] = {
      {"short ACK", {0x02, 0x5C, 0x02, 0x06, 0x41}, 0x025C + 6},
      {"short NAK", {0x02, 0x02, 0x00, 0x15, 0xE8}, 2 + 6},
      {"long: status at 4", {0x02, 0x05, 0x84, 0x03, 0x06}, 0x038405 + 7},
      {"three bytes: short", {0x02, 0x10, 0x00}, 0x10 + 6},
      {"largest short", {0x02, 0xFF, 0xFF, 0x06, 0x00}, 0xFFFF + 6},
      {"no STX", {0x55, 0x5C, 0x02, 0x06, 0x41}, 0},
      {"too few bytes", {0x02, 0x5C}, 0},
      {"nothing", {}, 0},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(StatedReplyLength(row.head.data(), row.head.size()), row.length) << row.what;
  }
  EXPECT_EQ(StatedReplyLength(nullptr, 5), 0u);
}

}  // namespace
}  // namespace vantorel::link
