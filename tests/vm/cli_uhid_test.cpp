// The vantorel tool over the kernel's HID device, as a technician runs it: inside the test
// VM the vantorel-vterm program presents the terminal through uhid, the kernel gives it a
// hidraw node, and the static vantorel program finds it by its ids. Asserts exit status,
// the lines it prints, and the frames that reached the terminal (read from its console).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/vterm_process.h"

#ifndef VANTOREL_VM_VTERM
#define VANTOREL_VM_VTERM "/bin/vantorel-vterm"
#endif
#ifndef VANTOREL_VM_CLI
#define VANTOREL_VM_CLI "/bin/vantorel"
#endif

namespace {

using namespace std::chrono_literals;

constexpr uid_t kNobody = 65534;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class UhidCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access("/dev/uhid", W_OK) != 0) GTEST_SKIP() << "no /dev/uhid";
    for (const char* program : {VANTOREL_VM_VTERM, VANTOREL_VM_CLI}) {
      if (::access(program, X_OK) != 0) GTEST_SKIP() << "no " << program;
    }
    program_.emplace(VANTOREL_VM_VTERM, std::vector<std::string>{"--uhid"});
    const auto node = program_->ReadLine(20s);
    ASSERT_TRUE(node.has_value()) << program_->Errors();
    ASSERT_EQ(node->rfind("/dev/hidraw", 0), 0u) << *node;
    node_ = *node;
  }
  void TearDown() override {
    if (program_) {
      EXPECT_EQ(program_->Terminate(10s), 0) << program_->Errors();
    }
  }

  // Starts the tool with these arguments; `uid` other than 0 runs it as that user.
  pid_t Start(std::vector<std::string> args, uid_t uid = 0) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int o = ::open("/tmp/cli.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = ::open("/tmp/cli.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(o, 1);
      ::dup2(e, 2);
      if (uid != 0 && (::setgid(uid) != 0 || ::setuid(uid) != 0)) ::_exit(120);
      std::vector<char*> argv{const_cast<char*>(VANTOREL_VM_CLI)};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(VANTOREL_VM_CLI, argv.data());
      ::_exit(121);
    }
    return pid;
  }
  static Result Finish(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    Result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadAll("/tmp/cli.out");
    r.err = ReadAll("/tmp/cli.err");
    return r;
  }
  Result Run(std::vector<std::string> args, uid_t uid = 0) {
    return Finish(Start(std::move(args), uid));
  }

  // The frames the terminal received since the last "clear", one "N ok|bad HEX" a line.
  std::vector<std::string> Frames() { return SplitLines(program_->Execute("frames")); }
  bool Received(const std::string& hex) {
    for (const auto& f : Frames()) {
      if (f.find(" ok ") != std::string::npos && f.find(hex) != std::string::npos) return true;
    }
    return false;
  }

  std::optional<support::VtermProcess> program_;
  std::string node_;
};

// `list` names the terminal's node with its ids, and says whether this user may open it:
// root may; another user may not (the node is root's alone without the udev rule), and is
// told where to look.
TEST_F(UhidCli, ListShowsTheNodeWithItsIdsAndWhetherItOpens) {
  struct Case {
    uid_t uid;
    std::string expected;
    int status = 1;
  };
  const std::vector<Case> cases = {
      {0, "  0ACD:3910  terminal ok"},
      {kNobody, "  0ACD:3910  terminal open " + node_ +
                    ": Permission denied — see docs/linux-hid.md (udev rule for the terminal)"},
  };
  for (const auto& c : cases) {
    const Result r = Run({"list"}, c.uid);
    ASSERT_NE(r.status, 120) << "cannot run as an unprivileged user";
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    bool found = false;
    for (const auto& line : SplitLines(r.out)) {
      if (line.rfind("  " + node_ + " ", 0) == 0) {
        found = true;
        EXPECT_NE(line.find(c.expected), std::string::npos) << "uid " << c.uid << ": " << line;
      }
    }
    EXPECT_TRUE(found) << r.out;
  }
  EXPECT_TRUE(Frames().empty());  // listing only looks
}

TEST_F(UhidCli, InfoOverHidShowsTheTerminalsOwnValues) {
  std::string version, model, serial;
  for (const auto& line : SplitLines(program_->Execute("state"))) {
    if (line.rfind("version ", 0) == 0) version = line.substr(8);
    if (line.rfind("model ", 0) == 0) model = line.substr(6);
    if (line.rfind("serial ", 0) == 0) serial = line.substr(7);
  }
  ASSERT_FALSE(version.empty());
  const Result r = Run({"info", "--hid"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const auto lines = SplitLines(r.out);
  for (const std::string& expected :
       {"firmware version       " + version, "model                  " + model,
        "serial number          " + serial}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected << " in:\n"
                                                                            << r.out;
  }
  EXPECT_NE(r.out.find("\nsecure-head firmware"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nKSN and counter"), std::string::npos) << r.out;
  EXPECT_TRUE(Received("73 52 51"));  // KSN read
  EXPECT_TRUE(Received("73 52 22"));  // secure-head firmware read
}

// Failures over HID: exit status 1 (2 for a usage error), one line naming the cause, nothing
// sent.
TEST_F(UhidCli, HidFailuresAreOneLineNamingTheCause) {
  struct Case {
    std::vector<std::string> args;
    uid_t uid;
    std::string expected;
    int status = 1;
  };
  const std::vector<Case> cases = {
      {{"info", "--hid"},
       kNobody,
       "vantorel: open " + node_ + ": Permission denied — see docs/linux-hid.md"},
      {{"info", "--hid", "--vid", "0x0ACD", "--pid", "0x3911"},
       0,
       "vantorel: no USB terminal with ids 0ACD:3911 is plugged in"},
      {{"settings", "get", "colour", "--hid"}, 0, "vantorel: unknown setting colour", 2},
  };
  for (const auto& c : cases) {
    const Result r = Run(c.args, c.uid);
    EXPECT_EQ(r.status, c.status) << c.args[0] << ": " << r.err;
    EXPECT_EQ(SplitLines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind(c.expected, 0), 0u) << "expected '" << c.expected << "' in: " << r.err;
  }
  EXPECT_TRUE(Frames().empty());
}

// Every drawing call of the test screen reached the display once, and was accepted.
TEST_F(UhidCli, ScreenOverHidDrawsEveryCall) {
  const Result r = Run({"screen", "--hid"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "test screen drawn\n");
  int drawing = 0;
  const auto frames = Frames();
  for (const auto& f : frames) {
    EXPECT_NE(f.find(" ok "), std::string::npos) << f;
    drawing += f.find(" ok 02 ") != std::string::npos && f.find(" 00 8A ") != std::string::npos;
  }
  // The back-light, a white fill, eight bars of a colour and a fill each, the frame, the
  // line, the arc, two fonts, the text colour and two texts.
  EXPECT_EQ(drawing, 28) << program_->Execute("frames");
}

TEST_F(UhidCli, SettingsOverHidReachTheirExports) {
  struct Case {
    std::vector<std::string> args;
    std::string command;  // the frame's content, as the console prints it
    std::string output;
  };
  const std::vector<Case> cases = {
      {{"settings", "set", "decoding", "2"}, "73 53 1D 01 32", "decoding set to '2'"},
      {{"settings", "get", "decoding"}, "73 52 1D", "decoding = '2' (0x32)"},
      {{"settings", "set", "mask-pan", "0x04"}, "73 53 4B 01 04", "mask-pan set"},
      {{"settings", "get", "serial-number"}, "73 52 4E", "serial-number = "},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(program_->Execute("clear"), "");
    std::vector<std::string> args = c.args;
    args.push_back("--hid");
    const Result r = Run(args);
    EXPECT_EQ(r.status, 0) << c.args[2] << ": " << r.err;
    EXPECT_NE(r.out.find(c.output), std::string::npos) << r.out;
    EXPECT_TRUE(Received(c.command)) << c.args[2] << ":\n" << program_->Execute("frames");
  }
}

// A swipe typed at the terminal's console while `card` waits reaches it, masked.
TEST_F(UhidCli, CardOverHidPrintsTheSwipeMasked) {
  const pid_t pid = Start({"card", "--hid", "--timeout", "30"});
  // The reading loop polls the PIN pad: by then secure reading is on.
  const std::string waited = program_->Execute("wait key-poll 20000");
  program_->Execute("swipe \"%B4000123412341234^TEST/CARD^2512101?\" ;4000123412341234=2512101?");
  const Result r = Finish(pid);
  EXPECT_EQ(waited, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\naccount number: 400012******1234\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nname: TEST/CARD\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\ncard data: "), std::string::npos) << r.out;
  for (const char* secret : {"4000123412341234", "2512101"}) {
    EXPECT_EQ(r.out.find(secret), std::string::npos) << "card data printed";
    EXPECT_EQ(r.err.find(secret), std::string::npos) << "card data printed";
  }
  EXPECT_TRUE(Received("73 46 E1 01 30"));  // secure reading switched off again
}

// Over HID the pad sends its keys: the signer's strokes, then Enter, end the capture.
TEST_F(UhidCli, SignOverHidEndsOnThePadsOk) {
  const std::string svg = "/tmp/sig.svg";
  ::unlink(svg.c_str());
  const pid_t pid = Start({"sign", "--hid", "--format", "1", "--out", svg, "--timeout", "30"});
  std::vector<std::string> replies;
  replies.push_back(program_->Execute("wait capture-start 20000"));
  replies.push_back(program_->Execute("sign 100,100 200,150 300,120 / 500,500 600,650"));
  // The signer presses OK once the pen is lifted: after the pad sent every point.
  bool sent = false;
  for (int i = 0; i < 100 && !sent; ++i) {
    sent = program_->Execute("state").find("\npen-queue 0\n") != std::string::npos;
    if (!sent) std::this_thread::sleep_for(100ms);
  }
  EXPECT_TRUE(sent) << program_->Execute("state");
  replies.push_back(program_->Execute("padkey enter"));
  const Result r = Finish(pid);
  for (const auto& reply : replies) EXPECT_EQ(reply, "");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("signature: 5 points in 2 strokes, ended by OK, written to " + svg + "\n"),
            std::string::npos)
      << r.out;
  const std::string text = ReadAll(svg);
  EXPECT_NE(text.find("points=\"100,100 200,150 300,120\""), std::string::npos) << text;
  EXPECT_NE(text.find("points=\"500,500 600,650\""), std::string::npos) << text;
  EXPECT_TRUE(Received("7A 46 1F"));  // the capture ended
}

}  // namespace
