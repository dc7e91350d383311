// The console language of vantorel-vterm against an in-process terminal with every family:
// what each family's command makes the terminal send, how waits follow the commands the
// terminal received, how scripts stop, and that docs/vterm.md describes every command.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "vterm/card_reader.h"
#include "vterm/console.h"
#include "vterm/console_words.h"
#include "vterm/frame_codec.h"
#include "vterm/modules.h"
#include "vterm/pin_pad.h"
#include "vterm/signpad.h"
#include "vterm/terminal.h"

namespace {

using namespace std::chrono_literals;
using vterm::Bytes;
using vterm::Clock;

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() {
    vterm::InstallAllModules(terminal);
    terminal.SetSink([this](const Bytes& m) {
      std::lock_guard lock(mutex_);
      sent_.push_back(m);
    });
    pad().SetPenTiming({1, 12, 0});
    terminal.Get<vterm::CardReaderModule>().SetUnsolicitedDelay(0);
  }
  ~ConsoleTest() override { terminal.SetSink(nullptr); }

  vterm::SignpadModule& pad() { return terminal.Get<vterm::SignpadModule>(); }
  void Send(const Bytes& content) { terminal.Receive(vterm::ShortFrame(content)); }
  std::vector<Bytes> Sent() {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  void ForgetSent() {
    std::lock_guard lock(mutex_);
    sent_.clear();
  }
  // Everything sent after the first `skip` messages, joined, once it is `size` bytes long.
  Bytes SentBytes(std::size_t skip, std::size_t size) {
    Bytes joined;
    for (int i = 0; i < 200; ++i) {
      joined.clear();
      const auto sent = Sent();
      for (std::size_t k = skip; k < sent.size(); ++k) {
        joined.insert(joined.end(), sent[k].begin(), sent[k].end());
      }
      if (joined.size() >= size) break;
      std::this_thread::sleep_for(10ms);
    }
    return joined;
  }
  std::string Run(const std::string& line) {
    std::string out = console.Execute(line);
    EXPECT_FALSE(console.Failed()) << line << ": " << out;
    return out;
  }

  vterm::Terminal terminal;
  vterm::Console console{terminal};

 private:
  std::mutex mutex_;
  std::vector<Bytes> sent_;
};

const Bytes kCaptureStart{0x7A, 0x46, 0x10, 1, 1, 2, 3, 4, 5, 6, 7};
const Bytes kSecureOn{0x73, 0x46, 0xE1, 0x01, '1'};
const Bytes kSecureOff{0x73, 0x46, 0xE1, 0x01, '0'};
const Bytes kKeyPoll{0x75, 0x46, 0x81};
const Bytes kVersion{0x78, 0x46, 0x01};

TEST(VtermConsoleWords, SplitKeepsQuotedWordsWhole) {
  struct Case {
    const char* line;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"", {}},
      {"  a\tb  ", {"a", "b"}},
      {"swipe \"%B1^A B^2?\" ;1=2?", {"swipe", "%B1^A B^2?", ";1=2?"}},
      {"echo \"\" x", {"echo", "", "x"}},
      {"echo \"open to the end", {"echo", "open to the end"}},
  };
  for (const auto& c : cases) EXPECT_EQ(vterm::words::Split(c.line), c.words) << c.line;
}

// A bad line changes nothing and sends nothing.
TEST_F(ConsoleTest, BadLinesFailAndDoNothing) {
  const char* lines[] = {
      "sign",
      "sign 1,2 3",
      "sign 1024,0",
      "signfile /nonexistent/strokes",
      "touch 255",
      "touch 3",       // no capture, no region
      "padkey enter",  // no capture over HID
      "swipe",
      "pinkey maybe",
      "entry digits 12a",
      "entry bogus",
      "manual bogus",
      "refuse 1 1FF",
      "wait nosuch",
      "wait 7A/46/10/0",
      "pubkey /nonexistent.pem",
  };
  for (const char* line : lines) {
    const std::string out = console.Execute(line);
    EXPECT_TRUE(console.Failed()) << line;
    EXPECT_EQ(out.rfind("error: ", 0), 0u) << line << ": " << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
  }
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(pad().PendingPackets(), 0u);
  EXPECT_EQ(terminal.Get<vterm::CardReaderModule>().Pending(), 0u);
  // Nothing was scripted either: the next entry answer is the default one.
  EXPECT_FALSE(terminal.Get<vterm::PinPadModule>().EntryPending());
}

// The pen sends exactly the strokes given, from the line or from a file.
TEST_F(ConsoleTest, SignWritesTheStrokesDuringACapture) {
  const std::string file =
      (std::filesystem::temp_directory_path() / "vterm-console-strokes.txt").string();
  std::ofstream(file) << "# a comment\n\n10,20 30 40\n  50,60\n";
  const std::vector<vterm::Stroke> strokes{{{10, 20}, {30, 40}}, {{50, 60}}};
  const Bytes expected = vterm::SignpadModule::EncodeStrokes(1, strokes);
  const std::vector<std::string> lines{"sign 10,20 30,40 / 50,60", "sign 10 20 30 40 / 50 60",
                                       "signfile " + file};
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    ForgetSent();
    Send(kCaptureStart);
    Run(line);
    // After the start's ACK, the pen's packets.
    EXPECT_EQ(SentBytes(1, expected.size()), expected);
    Send({0x7A, 0x46, 0x1F});
  }
  std::filesystem::remove(file);
}

// Card and key commands become what the next key poll (or the reader by itself) sends.
TEST_F(ConsoleTest, CardSlotAndKeysAnswerTheKeyPoll) {
  struct Case {
    const char* line;
    Bytes message;
  };
  const std::string tracks = "%B1234^A B^25?\n;1234=25?\n";
  const Case cases[] = {
      {"pinkey enter", vterm::AckFrame(Bytes{'E'})},
      {"pinkey cancel push", vterm::AckFrame(Bytes{'C'})},
      {"swipe \"%B1234^A B^25?\" ;1234=25?", Bytes(tracks.begin(), tracks.end())},
      {"swiperecord 11 22", vterm::CardReaderModule::EncryptedRecord({0x11, 0x22})},
      {"badswipe", Bytes{'%', 'E', '?', '\n', ';', 'E', '?', '\n'}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ForgetSent();
    Run(c.line);
    Send(kKeyPoll);
    // Compared without printing (card data stay out of the output).
    const Bytes got = SentBytes(0, c.message.size());
    EXPECT_TRUE(got == c.message) << vterm::Hex(got).size() << " bytes, not as expected";
  }
}

TEST_F(ConsoleTest, WaitFollowsTheCommandsInOrder) {
  Send(kSecureOff);
  Send(kSecureOn);
  Run("wait secure-on 0");  // came before the wait: still found
  EXPECT_TRUE(console.Execute("wait secure-on 0").find("did not come") != std::string::npos);
  EXPECT_TRUE(console.Failed());
  // The secure-off before it was passed over, not kept for later.
  console.Execute("wait secure-off 0");
  EXPECT_TRUE(console.Failed());

  Send(kVersion);
  terminal.Receive(Bytes{0x02, 0x03, 0x00, 0x78, 0x46, 0x02, 0x00, 0x00, 0x03});  // bad checks
  Send({0x78, 0x46, 0x02});
  Run("wait 78/46/02 0");  // the bad frame does not count
  console.Execute("wait version 0");
  EXPECT_TRUE(console.Failed());

  Send({0x73, 0x46, 0xE1, 0x01, '0'});
  Run("wait 73/46/E1/0130 0");
  Send(kCaptureStart);
  Run("clear");
  console.Execute("wait any 0");
  EXPECT_TRUE(console.Failed()) << "a wait after clear found an older command";
}

TEST_F(ConsoleTest, WaitBlocksUntilTheCommandOrItsTime) {
  std::thread sender([&] {
    std::this_thread::sleep_for(100ms);
    Send(kVersion);
    Send(kCaptureStart);
  });
  auto start = Clock::now();
  Run("wait capture-start 5000");
  EXPECT_GE(Clock::now() - start, 90ms);
  EXPECT_LT(Clock::now() - start, 4s);
  sender.join();

  start = Clock::now();
  const std::string out = console.Execute("wait capture-exit 250");
  EXPECT_TRUE(console.Failed());
  EXPECT_EQ(out, "error: wait: capture-exit did not come within 250 ms\n");
  EXPECT_GE(Clock::now() - start, 240ms);

  // Interrupt (a signal) ends a long wait at once, and any later one.
  std::thread interrupter([&] {
    std::this_thread::sleep_for(100ms);
    console.Interrupt();
  });
  start = Clock::now();
  console.Execute("wait capture-exit 20000");
  EXPECT_TRUE(console.Failed());
  EXPECT_LT(Clock::now() - start, 3s);
  interrupter.join();
  console.Execute("sleep 20000");
  EXPECT_TRUE(console.Failed());
}

// docs/vterm.md has a section for every command (and no other), and lists every name a
// wait knows.
TEST_F(ConsoleTest, DocumentationCoversTheLanguage) {
  std::ifstream in(std::string(VANTOREL_SOURCE_DIR) + "/docs/vterm.md");
  ASSERT_TRUE(in) << "docs/vterm.md missing";
  std::stringstream text;
  text << in.rdbuf();
  const std::string doc = text.str();
  std::vector<std::string> documented;
  std::istringstream lines(doc);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("### `", 0) != 0) continue;
    documented.push_back(line.substr(5, line.find_first_of(" `", 5) - 5));
  }
  std::sort(documented.begin(), documented.end());
  EXPECT_EQ(documented, console.Names());
  for (const auto& name : vterm::Console::WaitNames()) {
    EXPECT_NE(doc.find("`" + name + "`"), std::string::npos) << name;
  }
  // help: one line per command, each with what it does after its usage.
  std::istringstream help(console.Execute("help"));
  std::size_t count = 0;
  for (std::string line; std::getline(help, line); ++count) {
    EXPECT_NE(line.find("  "), std::string::npos) << line;
    EXPECT_GT(line.size() - line.find_last_of(' '), 1u) << line;
  }
  EXPECT_EQ(count, console.Names().size());
}

}  // namespace
