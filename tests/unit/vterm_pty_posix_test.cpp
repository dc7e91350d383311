// The virtual terminal on a pseudo-terminal, driven through the slave device as a host
// would: exchange, chunked writes, hang-up, shutdown with a client still attached.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "vterm/frame_codec.h"
#include "vterm/pty_front_end.h"
#include "vterm/terminal.h"

namespace {

using namespace std::chrono_literals;
using vterm::Bytes;

const Bytes kVersionQuery = {0x02, 0x03, 0x00, 0x78, 0x46, 0x01, 0x3F, 0xBF, 0x03};

int OpenRaw(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return fd;
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

// Reads until `want` bytes arrived or 2 s passed.
Bytes ReadBytes(int fd, std::size_t want) {
  Bytes out;
  const auto deadline = vterm::Clock::now() + 2s;
  while (out.size() < want && vterm::Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    std::uint8_t buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

TEST(VtermPty, ExchangesFramesWithAClient) {
  vterm::Terminal t;
  vterm::PtyFrontEnd pty(t);
  EXPECT_EQ(pty.Path().rfind("/dev/pts/", 0), 0u);
  const int fd = OpenRaw(pty.Path());
  ASSERT_GE(fd, 0);
  // Byte by byte, as a slow line delivers it.
  for (std::uint8_t b : kVersionQuery) ASSERT_EQ(::write(fd, &b, 1), 1);
  const Bytes expected = vterm::AckFrame(Bytes{'V', 'T', ' ', '2', '.', '0', '4'});
  EXPECT_EQ(ReadBytes(fd, expected.size()), expected);
  t.Push(Bytes{0x7A, 0x01});
  EXPECT_EQ(ReadBytes(fd, 2), (Bytes{0x7A, 0x01}));
  ASSERT_TRUE(t.WaitForFrames(1, 1s));
  EXPECT_EQ(t.Frames()[0].raw, kVersionQuery);
  ::close(fd);

  // A second client after the first left finds the port working.
  const int fd2 = OpenRaw(pty.Path());
  ASSERT_GE(fd2, 0);
  ASSERT_EQ(::write(fd2, kVersionQuery.data(), kVersionQuery.size()), 9);
  EXPECT_EQ(ReadBytes(fd2, expected.size()), expected);
  ::close(fd2);
}

TEST(VtermPty, LargeReplyArrivesWhole) {
  vterm::Terminal t;
  t.Register(0x8A, 0x52, 0x01, [](vterm::Terminal&, const vterm::Command&) {
    return vterm::Response::Ack(Bytes(70000, 0x5A));
  });
  vterm::PtyFrontEnd pty(t);
  const int fd = OpenRaw(pty.Path());
  ASSERT_GE(fd, 0);
  const Bytes frame = vterm::ShortFrame(Bytes{0x8A, 0x52, 0x01});
  ASSERT_EQ(::write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
  const Bytes reply = ReadBytes(fd, 70008);
  ASSERT_EQ(reply.size(), 70008u);  // long layout: 70001 content bytes + 7
  EXPECT_EQ(reply[4], vterm::kAck);
  EXPECT_EQ(reply.back(), vterm::kEtx);
  ::close(fd);
}

TEST(VtermPty, HangupMakesTheClientFail) {
  vterm::Terminal t;
  vterm::PtyFrontEnd pty(t);
  const int fd = OpenRaw(pty.Path());
  ASSERT_GE(fd, 0);
  pty.Hangup();
  EXPECT_TRUE(pty.HungUp());
  std::uint8_t b = 0;
  EXPECT_LE(::read(fd, &b, 1), 0);
  EXPECT_EQ(::write(fd, kVersionQuery.data(), kVersionQuery.size()), -1);
  t.Push(Bytes{0x01});  // dropped, no crash
  ::close(fd);
  // Whether the path still opens is not asked: the kernel may hand its number at once to
  // a pseudo-terminal another process opens meanwhile (tests run side by side).
}

TEST(VtermPty, ShutsDownWithAClientAttachedAndOutputPending) {
  vterm::Terminal t;
  int fd = -1;
  {
    vterm::PtyFrontEnd pty(t);
    fd = OpenRaw(pty.Path());
    ASSERT_GE(fd, 0);
    // More than the line holds while nobody reads.
    for (int i = 0; i < 50; ++i) t.Push(Bytes(4000, 0x11));
    std::this_thread::sleep_for(20ms);
  }
  t.Push(Bytes{0x01});  // the front end is gone: dropped
  ::close(fd);
}

}  // namespace
