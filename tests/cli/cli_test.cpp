// The vantorel tool as a user runs it: the built program against the virtual terminal on a
// real pseudo-terminal. Asserts exit status, what it prints (one-line errors, masked card
// numbers), the files it writes and the exact commands that reached the terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/vterm_process.h"
#include "vterm/card_reader.h"
#include "vterm/device.h"
#include "vterm/frame_codec.h"
#include "vterm/modules.h"
#include "vterm/pty_front_end.h"
#include "vterm/signpad.h"
#include "vterm/terminal.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

int Lines(const std::string& text) {
  int n = 0;
  for (const char c : text) n += c == '\n';
  return n;
}

class Cli : public ::testing::Test {
 protected:
  Cli() : dir_(fs::temp_directory_path() / ("vantorel-cli-" + std::to_string(::getpid()))) {
    vterm::InstallAllModules(terminal_);
    pty_ = std::make_unique<vterm::PtyFrontEnd>(terminal_);
    fs::create_directories(dir_);
  }
  ~Cli() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Runs the tool with these arguments; `uid` other than 0 runs it as that user.
  Result Run(std::vector<std::string> args, uid_t uid = 0, std::vector<std::string> env = {}) {
    const fs::path out = dir_ / "stdout";
    const fs::path err = dir_ / "stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(o, 1);
      ::dup2(e, 2);
      if (uid != 0 && (::setgid(uid) != 0 || ::setuid(uid) != 0)) ::_exit(120);
      // A build tree below a private directory is out of an unprivileged user's reach.
      if (uid != 0 && ::access(VANTOREL_CLI_PATH, X_OK) != 0) ::_exit(122);
      ::unsetenv("VANTOREL_TRACE");
      for (const auto& kv : env) ::putenv(const_cast<char*>(kv.c_str()));
      std::vector<char*> argv{const_cast<char*>(VANTOREL_CLI_PATH)};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(VANTOREL_CLI_PATH, argv.data());
      ::_exit(121);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    Result r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = ReadAll(out);
    r.err = ReadAll(err);
    return r;
  }

  std::vector<std::string> Port(std::vector<std::string> args) {
    args.push_back("--port");
    args.push_back(pty_->Path());
    return args;
  }

  // True when some command the terminal received starts with these bytes.
  bool Received(const vterm::Bytes& prefix) const {
    for (const auto& c : terminal_.Commands()) {
      if (c.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), c.begin())) {
        return true;
      }
    }
    return false;
  }

  vterm::Terminal terminal_;
  std::unique_ptr<vterm::PtyFrontEnd> pty_;
  fs::path dir_;
};

TEST_F(Cli, InfoShowsVersionsModelSerialsFirmwareAndKsn) {
  const Result r = Run(Port({"info"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const auto& device = terminal_.Device();
  EXPECT_NE(r.out.find("firmware version       " + device.Version() + "\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("model                  " + device.Model() + "\n"), std::string::npos);
  EXPECT_NE(r.out.find("serial number          " + device.SerialNumber() + "\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("secure-head firmware"), std::string::npos);
  // The key serial number is text: shown as such, not as the hex of its characters.
  EXPECT_NE(
      r.out.find("KSN and counter        " + terminal_.Get<vterm::CardReaderModule>().Ksn() + "\n"),
      std::string::npos)
      << r.out;
  EXPECT_TRUE(Received({0x73, 0x52, 0x51}));  // KSN read
  EXPECT_TRUE(Received({0x73, 0x52, 0x22}));  // secure-head firmware read
}

// A failed open says what the terminal did at the handshake: refused, garbled or nothing.
TEST_F(Cli, FailedOpenSaysWhatTheHandshakeGot) {
  struct Case {
    const char* what;
    std::function<void()> misbehave;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"refused", [&] { terminal_.RefuseNext(100, 0xEC); },
       "vantorel: the terminal answered the open handshake with status EC\n"},
      {"garbled", [&] { terminal_.GarbleNext(100, 12); },
       "vantorel: a garbled reply from " + pty_->Path() +
           " to the open handshake (12 bytes that are no reply frame)\n"},
      {"silent", [&] { terminal_.SilenceNext(100); },
       "vantorel: no answer from " + pty_->Path() +
           " to the open handshake (is it connected, switched on and set to 19200 baud 8N1?)\n"},
  };
  for (const Case& c : cases) {
    c.misbehave();
    const Result r = Run(Port({"info", "--baud", "19200"}));
    terminal_.BehaveNormally();
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.err, c.line) << c.what;
  }
}

// Every failure: exactly one line on standard error that names the cause; exit status 1, or 2
// for a command line the tool cannot act on.
TEST_F(Cli, FailuresAreOneLineNamingTheCause) {
  const std::string missing = (dir_ / "ttyUSB9").string();
  const std::string plainFile = (dir_ / "file").string();
  std::ofstream(plainFile) << "x";
  struct Case {
    std::vector<std::string> args;
    std::string expected;
    int status;
  };
  const std::string port = pty_->Path();
  const std::vector<Case> cases = {
      {{"info", "--port", missing}, "open " + missing + ": No such file or directory", 1},
      {{"info", "--port", plainFile}, plainFile + " is not a serial port", 1},
      {{"info", "--hid", "--vid", "0x1234", "--pid", "0x5678"},
       "no USB terminal with ids 1234:5678 is plugged in",
       1},
      {{"info", "--port", port, "--baud", "1234"}, "--baud 1234: not a rate", 2},
      {{"info", "--port", port, "--line", "9X1"}, "--line 9X1", 2},
      {{"info"}, "name the terminal's port with --port", 2},
      {{"info", "--hid", "--port", port}, "--hid and --port name two different connections", 2},
      {{"settings", "get", "nosuch", "--port", port}, "unknown setting nosuch", 2},
      {{"settings", "get", "device-key", "--port", port}, "cannot be read", 2},
      {{"settings", "set", "decoding", "22", "--port", port}, "value 22 for decoding", 2},
      {{"settings", "set", "decoding", "9", "--port", port},
       "value 9 for decoding: expected one of 0, 1, 2, 3, 4",
       2},
      {{"sign", "--format", "3", "--out", "x.svg", "--port", port}, "--format 3", 2},
      {{"sign", "--out", "x.gif", "--port", port}, "name an .svg or .png file", 2},
      {{"bogus"}, "unknown command bogus; the commands are list, info, screen, sign, card", 2},
      {{"--port", port, "bogus"}, "unknown command bogus", 2},
      {{}, "no command given; the commands are list", 2},
  };
  for (const auto& c : cases) {
    const Result r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.expected << ": " << r.err;
    EXPECT_EQ(Lines(r.err), 1) << r.err;
    EXPECT_EQ(r.err.rfind("vantorel: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.expected), std::string::npos)
        << "expected '" << c.expected << "' in: " << r.err;
  }
  EXPECT_TRUE(terminal_.Frames().empty());  // nothing reached the terminal
}

TEST_F(Cli, UsageErrorsExitWithTwo) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"sign"}, {"settings"}}) {
    const Result r = Run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(Lines(r.err), 1) << r.err;
  }
}

TEST_F(Cli, PortHeldByAnotherProgramIsNamed) {
  const int fd = ::open(pty_->Path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const Result r = Run(Port({"info"}));
  ::close(fd);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vantorel: " + pty_->Path() + " is in use by another program\n");
}

TEST_F(Cli, PortWithoutPermissionIsNamed) {
  ASSERT_EQ(::chmod(pty_->Path().c_str(), 0600), 0);
  const Result r = Run(Port({"info"}), 65534);
  ASSERT_NE(r.status, 120) << "cannot run as an unprivileged user";
  if (r.status == 122) GTEST_SKIP() << "the program is out of an unprivileged user's reach";
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err), 1);
  EXPECT_NE(r.err.find("open " + pty_->Path() + ": Permission denied"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("dialout"), std::string::npos);
}

TEST_F(Cli, SettingsByNameReachTheirExports) {
  struct Case {
    std::vector<std::string> args;
    vterm::Bytes command;  // what the terminal must receive
    std::string output;
  };
  const std::vector<Case> cases = {
      {{"settings", "set", "decoding", "2"}, {0x73, 0x53, 0x1D, 0x01, 0x32}, "decoding set to '2'"},
      {{"settings", "get", "decoding"}, {0x73, 0x52, 0x1D}, "decoding = '2' (0x32)"},
      {{"settings", "set", "mask-pan", "0x04"}, {0x73, 0x53, 0x4B, 0x01, 0x04}, "mask-pan set"},
      {{"settings", "set", "hash-option", "111"}, {0x73, 0x53, 0x5C, 0x01, 0x37}, "set to 111"},
      {{"settings", "set", "encrypt-option", "1001"}, {0x73, 0x53, 0x84, 0x01, 0x09}, "set"},
      {{"settings", "set", "encrypted-data", "0102030405060708"},
       {0x73, 0x53, 0x74, 0x08, 1, 2, 3, 4, 5, 6, 7, 8},
       "encrypted-data set (8 bytes)"},
      {{"settings", "get", "serial-number"}, {0x73, 0x52, 0x4E}, "serial-number = "},
  };
  for (const auto& c : cases) {
    terminal_.ClearFrames();
    const Result r = Run(Port(c.args));
    EXPECT_EQ(r.status, 0) << c.args[2] << ": " << r.err;
    EXPECT_NE(r.out.find(c.output), std::string::npos) << r.out;
    EXPECT_TRUE(Received(c.command)) << c.args[2];
  }
}

TEST_F(Cli, DeviceKeyIsSentButNeverEchoed) {
  const std::string key = "00112233445566778899AABBCCDDEEFF";
  Result r = Run(Port({"settings", "set", "device-key", key}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Received({0x73, 0x53, 0x76, 0x10, 0x00, 0x11, 0x22, 0x33}));
  EXPECT_EQ(r.out.find("0011"), std::string::npos);
  // A malformed key is a usage error that does not repeat it.
  r = Run(Port({"settings", "set", "device-key", key.substr(2)}));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.find(key.substr(2, 8)), std::string::npos) << r.err;
}

TEST_F(Cli, SettingsListCoversAllThirtyExports) {
  const Result r = Run({"settings", "list"});
  EXPECT_EQ(r.status, 0);
  for (const char* name : {"MSR_GetOutputSetting",
                           "MSR_GetDecodingSetting",
                           "MSR_SetDecodingSetting",
                           "MSR_GetAllSettings",
                           "MSR_SetEncryption",
                           "MSR_SerialNumber",
                           "MSR_GetKeyModel",
                           "MSR_SetKeyModel",
                           "MSR_GetEncryptedData",
                           "MSR_SetEncryptedData",
                           "MSR_LoadDeviceKey",
                           "MSR_GetSecurityLevel",
                           "MSR_GetMSROutputStatus",
                           "MSR_GetSecureHeadFirmware",
                           "MSR_ReviewSecureHeadPrePANID",
                           "MSR_ReviewSecureHeadPostPANID",
                           "MSR_ReviewSecureHeadMaskPAN",
                           "MSR_ReviewKSNAndCountID",
                           "MSR_SetSecureHeadPrePANID",
                           "MSR_SetSecureHeadPostPANID",
                           "MSR_SetSecureHeadMaskPAN",
                           "MSR_SetExpirationData",
                           "MSR_GetDataOutputFormat",
                           "MSR_SetDataOutputFormat",
                           "MSR_SetOutputEncryptedFormat",
                           "MSR_SetEncryptOption",
                           "MSR_SetHashOption",
                           "MSR_SetMaskOption",
                           "MSR_SetDataPINorDataKey",
                           "MSR_getDataPINorDataKey"}) {
    EXPECT_NE(r.out.find(std::string(name) + " "), std::string::npos) << name;
  }
}

TEST_F(Cli, CardPrintsTheSwipeWithTheAccountNumberMasked) {
  auto& reader = terminal_.Get<vterm::CardReaderModule>();
  std::thread swipe([&] {
    for (int i = 0; i < 400 && reader.KeyPolls() == 0; ++i) std::this_thread::sleep_for(25ms);
    reader.Swipe(vterm::CardReaderModule::TrackText(
        {"%B4761739001010119^DOE/JANE^2512101123?", ";4761739001010119=25121015432?"}));
  });
  const Result r = Run(Port({"card", "--timeout", "20"}));
  swipe.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("account number: 476173******0119\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("name: DOE/JANE\n"), std::string::npos);
  EXPECT_NE(r.out.find("tracks 1 2\n"), std::string::npos);
  for (const char* secret : {"4761739001010119", "2512101123", "5432"}) {
    EXPECT_EQ(r.out.find(secret), std::string::npos) << secret;
    EXPECT_EQ(r.err.find(secret), std::string::npos) << secret;
  }
  EXPECT_TRUE(Received({0x73, 0x46, 0xE1, 0x01, 0x30}));  // secure head switched off again
}

TEST_F(Cli, CardEndsWithCancelOrTimeOut) {
  auto& reader = terminal_.Get<vterm::CardReaderModule>();
  std::thread press([&] {
    for (int i = 0; i < 400 && reader.KeyPolls() == 0; ++i) std::this_thread::sleep_for(25ms);
    reader.PressKey(vterm::PadKey::kCancel, vterm::Via::kKeyPoll);
  });
  Result r = Run(Port({"card", "--timeout", "20"}));
  press.join();
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Cancel was pressed on the PIN pad"), std::string::npos) << r.err;

  const auto start = std::chrono::steady_clock::now();
  r = Run(Port({"card", "--timeout", "1"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vantorel: no card was swiped within 1 s\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST_F(Cli, SignWritesTheStrokesTheSignerDrew) {
  auto& pad = terminal_.Get<vterm::SignpadModule>();
  pad.Write({{{100, 100}, {200, 150}, {300, 120}}, {{500, 500}, {600, 650}}});
  const std::string svg = (dir_ / "sig.svg").string();
  Result r = Run(Port({"sign", "--out", svg, "--timeout", "4"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("5 points in 2 strokes, ended by time-out"), std::string::npos) << r.out;
  const std::string text = ReadAll(svg);
  EXPECT_NE(text.find("points=\"100,100 200,150 300,120\""), std::string::npos) << text;
  EXPECT_NE(text.find("points=\"500,500 600,650\""), std::string::npos);
  EXPECT_TRUE(Received({0x7A, 0x46, 0x10, 0x01}));  // capture in format 1
  EXPECT_TRUE(Received({0x7A, 0x46, 0x1F}));        // and ended

#ifdef VANTOREL_CLI_HAVE_PNG
  pad.Write({{{100, 100}, {900, 900}}});
  const std::string png = (dir_ / "sig.png").string();
  r = Run(Port({"sign", "--out", png, "--timeout", "3", "--format", "4"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadAll(png).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
#endif
}

TEST_F(Cli, SignWithoutPenIsAFailure) {
  const std::string svg = (dir_ / "none.svg").string();
  const Result r = Run(Port({"sign", "--out", svg, "--timeout", "1"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "vantorel: no signature within 1 s\n");
  EXPECT_FALSE(fs::exists(svg));
}

TEST_F(Cli, KeysReadsTheLastFunctionKey) {
  auto& reader = terminal_.Get<vterm::CardReaderModule>();
  std::thread press([&] {
    for (int i = 0; i < 400 && reader.KeyClears() == 0; ++i) std::this_thread::sleep_for(25ms);
    reader.PressKey(vterm::PadKey::kEnter, vterm::Via::kKeyPoll);
  });
  Result r = Run(Port({"keys", "--clear", "--wait", "10"}));
  press.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("key buffer cleared\n"), std::string::npos);
  EXPECT_NE(r.out.find("key: ENTER\n"), std::string::npos) << r.out;
  EXPECT_TRUE(Received({0x75, 0x46, 0x82}));

  r = Run(Port({"keys", "--wait", "1"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no function key was pressed within 1"), std::string::npos) << r.err;
}

TEST_F(Cli, ScreenDrawsColourBars) {
  const Result r = Run(Port({"screen"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "") << "progress only on a terminal, never into a pipe";
  auto& pad = terminal_.Get<vterm::SignpadModule>();
  const vterm::Rgb yellow = pad.Pixel(60, 50);
  const vterm::Rgb blue = pad.Pixel(260, 50);
  EXPECT_EQ(yellow.r, 255);
  EXPECT_EQ(yellow.g, 255);
  EXPECT_EQ(yellow.b, 0);
  EXPECT_EQ(blue.r, 0);
  EXPECT_EQ(blue.b, 255);
}

TEST_F(Cli, TraceFlagTracesFramesAndResultsToStandardError) {
  const Result r = Run(Port({"--trace", "settings", "get", "decoding"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find(" Brixa_OpenPort sent 9 bytes [device 78, perform 46, sub 01]: "
                       "02 03 00 78 46 01 3F BF 03\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(" MSR_GetDecodingSetting sent 9 bytes [reader 73, read 52, sub 1D]"),
            std::string::npos);
  EXPECT_NE(r.err.find(" MSR_GetDecodingSetting returned 1 (success)\n"), std::string::npos);
  EXPECT_NE(r.err.find(" Brixa_Close returned 1 (success)\n"), std::string::npos);
  EXPECT_EQ(r.out.find(" sent "), std::string::npos) << "the trace stays off standard output";

  // The trace keeps a key loaded from the command line to itself as well.
  const Result key =
      Run(Port({"settings", "set", "device-key", "00112233445566778899AABBCCDDEEFF", "--trace"}));
  EXPECT_EQ(key.status, 0) << key.err;
  EXPECT_NE(key.err.find(" MSR_LoadDeviceKey sent 26 bytes [reader 73, write 53, sub 76]: data "
                         "withheld"),
            std::string::npos)
      << key.err;
  EXPECT_EQ(key.err.find("44 55 66"), std::string::npos);
}

// The same queries under both profiles: the table when the answers agree, one line naming
// the query when they do not.
TEST_F(Cli, BenchComparesBothProfiles) {
  struct Case {
    int refuseFrom;  // the query the terminal refuses once (-1: none)
    int status;
    const char* shown;
  };
  const Case cases[] = {
      {-1, 0, "every answer the same in both profiles"},
      // The first query under the prompt profile (one round: three standard ones first).
      {3, 1, "vantorel: Brixa_GetVersion answered differently under the prompt timing"},
  };
  for (const Case& c : cases) {
    vterm::Misbehaviour m;
    if (c.refuseFrom >= 0) {
      m.fault = vterm::Fault::kRefuse;
      m.skip = c.refuseFrom + 2;  // the open's two handshakes come first
    }
    terminal_.Misbehave(m);
    const Result r = Run(Port({"bench", "--rounds", "1"}));
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE((r.out + r.err).find(c.shown), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.out.find("standard"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("speed-up"), std::string::npos) << r.out;
    EXPECT_EQ(terminal_.Commands().size(), 2u + 6u) << "open, three queries in each profile";
    terminal_.ClearFrames();
  }
}

// VANTOREL_TIMING is read when the library loads; the trace says what it chose.
TEST_F(Cli, TimingFromTheEnvironmentIsTraced) {
  struct Case {
    const char* env;
    const char* traced;
  };
  const Case cases[] = {
      {"VANTOREL_TIMING=prompt:5", "VANTOREL_TIMING: prompt, minimum gap 5 ms\n"},
      {"VANTOREL_TIMING=turbo", "VANTOREL_TIMING: \"turbo\" is no timing: standard kept\n"},
  };
  for (const Case& c : cases) {
    const Result r = Run(Port({"--trace", "settings", "get", "decoding"}), 0, {c.env});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(c.traced), std::string::npos) << r.err;
  }
}

// The two programs as a technician runs them: vantorel-vterm serving a pseudo-terminal,
// driven through its console, and vantorel talking to it.
TEST_F(Cli, AgainstTheVirtualTerminalProgram) {
  const std::string link = (dir_ / "vterm-tty").string();
  support::VtermProcess program(VANTOREL_VTERM_PROGRAM, {"--link", link});
  ASSERT_TRUE(program.ReadLine(10s).has_value()) << program.Errors();

  Result r = Run({"info", "--port", link});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("firmware version"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("secure-head firmware"), std::string::npos);

  // A swipe typed at the terminal's console reaches `card`, masked.
  std::thread swipe([&] {
    std::this_thread::sleep_for(3s);  // the tool opens and switches secure reading on first
    program.Execute("swipe \"%B4000123412341234^TEST/CARD^2512101?\" ;4000123412341234=2512101?");
  });
  r = Run({"card", "--port", link, "--timeout", "20"});
  swipe.join();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("account number: 400012******1234\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("4000123412341234"), std::string::npos);
  EXPECT_TRUE(program.Terminate(5s).has_value());
}

TEST_F(Cli, ListShowsPortsAndHidNodesWithAccess) {
  const fs::path dev = dir_ / "dev";
  const fs::path sys = dir_ / "sys";
  fs::create_directories(dev);
  fs::create_symlink(pty_->Path(), dev / "ttyUSB0");
  std::ofstream(dev / "ttyACM3") << "";
  fs::create_directories(dev / "hidraw1");  // not openable: a directory
  std::ofstream(dev / "hidraw0") << "";
  for (const auto& [node, ids] : {std::pair{"hidraw0", "0003:00000ACD:00003910"},
                                  std::pair{"hidraw1", "0003:0000046D:0000C52B"}}) {
    fs::create_directories(sys / "class/hidraw" / node / "device");
    std::ofstream(sys / "class/hidraw" / node / "device/uevent")
        << "DRIVER=hid-generic\nHID_ID=" << ids << "\nHID_NAME=x\n";
  }
  const Result r = Run({"list", "--dev-root", dev.string(), "--sys-root", sys.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string d = dev.string();
  EXPECT_NE(r.out.find(d + "/ttyUSB0"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(d + "/ttyACM3 is not a serial port"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0ACD:3910  terminal ok"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("046D:C52B  other    open " + d + "/hidraw1: Is a directory"),
            std::string::npos)
      << r.out;
}

TEST_F(Cli, ListNamesAPortThisUserMayNotOpen) {
  const fs::path dev = dir_ / "dev";
  fs::create_directories(dev);
  fs::permissions(dir_, fs::perms::all);
  fs::permissions(dev, fs::perms::all);
  fs::create_symlink(pty_->Path(), dev / "ttyUSB0");
  ASSERT_EQ(::chmod(pty_->Path().c_str(), 0600), 0);
  const Result r = Run({"list", "--dev-root", dev.string(), "--sys-root", dev.string()}, 65534);
  if (r.status == 122) GTEST_SKIP() << "the program is out of an unprivileged user's reach";
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("/ttyUSB0: Permission denied (the user needs read and write access"),
            std::string::npos)
      << r.out;
}

}  // namespace
