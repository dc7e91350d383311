// The vantorel-vterm program itself, as a developer runs it: started as a child process on a
// pseudo-terminal (--link), driven through the library's real exports, steered through its
// console and by scripts (--script).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/vterm_process.h"
#include "vantorel.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<unsigned char>;

constexpr int kPort = 7;

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("vterm-program-" + std::to_string(::getpid()) + "-" + name))
      .string();
}

std::string WriteFile(const std::string& name, const std::string& text) {
  const std::string path = TempPath(name);
  std::ofstream(path) << text;
  return path;
}

// The program on a pseudo-terminal, the library's COM port mapped to its link.
class Program : public ::testing::Test {
 protected:
  void Start(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"--link", link_};
    args.insert(args.end(), extra.begin(), extra.end());
    program_.emplace(VANTOREL_VTERM_PROGRAM, args);
    const auto path = program_->ReadLine(10s);
    ASSERT_TRUE(path.has_value()) << program_->Errors();
    ASSERT_EQ(path->rfind("/dev/pts/", 0), 0u) << *path;
    ASSERT_EQ(std::filesystem::read_symlink(link_).string(), *path);
    ASSERT_EQ(Brixa_MapPort(kPort, link_.c_str()), 1);
    ASSERT_EQ(Brixa_OpenPort(kPort, 9600, 'N', 1, 8), 1);
    vterm().Execute("clear");
  }
  void TearDown() override {
    Brixa_Close();
    Brixa_MapPort(kPort, nullptr);
    if (program_) {
      EXPECT_EQ(program_->Terminate(5s), 0) << program_->Errors();
      EXPECT_FALSE(std::filesystem::is_symlink(link_)) << "the link outlived the program";
    }
    for (const auto& f : files_) std::filesystem::remove(f);
  }
  support::VtermProcess& vterm() { return *program_; }
  // The hex of every frame the terminal received, as its console lists them.
  std::vector<std::string> Frames() {
    std::vector<std::string> frames;
    std::istringstream lines(vterm().Execute("frames"));
    for (std::string line; std::getline(lines, line);) {
      // "<seq> ok <hex>"
      const auto ok = line.find(" ok ");
      frames.push_back(ok == std::string::npos ? line : line.substr(ok + 4));
    }
    return frames;
  }
  std::string Script(const std::string& text) {
    files_.push_back(WriteFile("script", text));
    return files_.back();
  }

  std::string link_ = TempPath("tty");
  std::optional<support::VtermProcess> program_;
  std::vector<std::string> files_;
};

// One command of every family gets its answer from the program, and the frame on the wire
// is the command's.
TEST_F(Program, AnswersEveryFamily) {
  ASSERT_NO_FATAL_FAILURE(Start());
  struct Case {
    const char* family;
    std::function<unsigned char()> call;
    const char* frame;
  };
  char text[64] = {};
  int length = 0;
  unsigned char setting = 0;
  const Case cases[] = {
      {"device", [&] { return Brixa_GetVersion(text, &length); }, "02 03 00 78 46 01 3F BF 03"},
      {"signature pad", [] { return Zelto_DrawLine(1, 2, 300, 200); },
       "02 0B 00 8A 46 11 01 00 02 00 2C 01 C8 00 3B D9 03"},
      {"card reader", [&] { return MSR_GetDecodingSetting(&setting); },
       "02 03 00 73 52 1D 3C E2 03"},
      {"PIN pad",
       [&] {
         vterm().Execute("pinkey enter");
         return PIN_GetKey(text, &length);
       },
       "02 03 00 75 46 81 B2 3C 03"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.family);
    vterm().Execute("clear");
    EXPECT_EQ(c.call(), 1);
    EXPECT_EQ(Frames(), std::vector<std::string>{c.frame});
  }
  EXPECT_EQ(std::string(text), "ENTER");
  EXPECT_EQ(length, 5);
}

// The console's misbehaviour reaches the application as a return code.
TEST_F(Program, ConsoleRefusalBecomesTheReturnCode) {
  ASSERT_NO_FATAL_FAILURE(Start());
  EXPECT_EQ(vterm().Execute("refuse 1 EC"), "");
  EXPECT_EQ(Zelto_DrawLine(1, 2, 3, 4), 100);
  EXPECT_EQ(Zelto_DrawLine(1, 2, 3, 4), 1);
  EXPECT_EQ(vterm().Execute("bogus 1"), "error: unknown command bogus (try help)\n");
}

// --delay makes a slow terminal, `delay` changes it: the prompt timing waits for its answer
// as long as the standard one would, and no longer than the answer takes.
TEST_F(Program, ProcessingDelayFromCommandLineAndConsole) {
  ASSERT_NO_FATAL_FAILURE(Start({"--delay", "250"}));
  ASSERT_EQ(Brixa_SetTiming(VANTOREL_TIMING_PROMPT, 0), 1);
  struct Case {
    const char* console;  // run first (null: none)
    long ms;              // the terminal's delay: what the call takes
  };
  const Case cases[] = {{nullptr, 250}, {"delay 0", 0}, {"delay 400", 400}};
  for (const Case& c : cases) {
    if (c.console != nullptr) {
      EXPECT_EQ(vterm().Execute(c.console), "") << c.console;
    }
    char text[64] = {};
    int length = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Brixa_GetVersion(text, &length), 1) << c.ms;
    const long elapsed = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start)
                                               .count());
    EXPECT_GE(elapsed, c.ms - 20) << "answered before the terminal's delay";
    EXPECT_LE(elapsed, c.ms + 200) << "waited beyond the answer";
  }
  Brixa_SetTiming(VANTOREL_TIMING_STANDARD, 0);
}

std::mutex gMutex;
std::condition_variable gCv;
std::vector<int> gPoints;
std::vector<Bytes> gDeliveries;

void VANTOREL_CALL OnPoints(const int* values, int count, void*) {
  std::lock_guard lock(gMutex);
  gPoints.insert(gPoints.end(), values, values + count);
  gCv.notify_all();
}

void VANTOREL_CALL OnData(const unsigned char* data, int count, int) {
  std::lock_guard lock(gMutex);
  gDeliveries.emplace_back(data, data + count);
  gCv.notify_all();
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  std::unique_lock lock(gMutex);
  return gCv.wait_for(lock, timeout, done);
}

// A script waits for the capture to start, signs from a file and waits for the end; the
// application's handler gets exactly those points.
TEST_F(Program, ScriptSignsDuringTheCapture) {
  files_.push_back(
      WriteFile("strokes", "# two strokes\n100,200 110,210 120,230\n\n500 600 510 590\n"));
  const std::string script = Script("wait capture-start 20000\nsignfile " + files_.back() +
                                    "\nwait capture-exit 20000\necho signed\n");
  ASSERT_NO_FATAL_FAILURE(Start({"--script", script}));
  gPoints.clear();
  Zelto_AddPointHandle(&OnPoints, &gPoints);  // points need a context
  std::atomic<int> rc{-1};
  std::thread capture([&] { rc = Zelto_StartCapture(1, 1, 2, 3, 4, 5, 6, 7); });
  const std::vector<int> expected{100, 200, 110, 210, 120, 230, -1, -1, 500, 600, 510, 590, -1, -1};
  const bool all = WaitFor([&] { return gPoints.size() >= expected.size(); }, 15s);
  EXPECT_EQ(Zelto_ExitCapture(), 1);
  capture.join();
  Zelto_AddPointHandle(nullptr, nullptr);
  EXPECT_EQ(gPoints, expected);
  ASSERT_TRUE(all) << vterm().Execute("state") << vterm().Execute("frames");
  EXPECT_EQ(rc, 1);
  // The script went on past the capture's end, and the terminal serves on afterwards.
  EXPECT_TRUE(vterm().WaitForLine("signed", 5s));
  char text[64];
  int length = 0;
  EXPECT_EQ(Brixa_GetVersion(text, &length), 1);
}

// A script that ends in `wait` and `quit` answers what it waited for before the program
// ends: the application gets its reply, the program exits 0 and takes its link with it.
TEST_F(Program, ScriptQuittingAfterAWaitAnswersFirst) {
  ASSERT_NO_FATAL_FAILURE(Start({"--script", Script("wait serial 20000\nquit\n")}));
  char text[64];
  int length = 0;
  EXPECT_EQ(Brixa_GetSerialNumber(text, &length), 1) << Brixa_GetLastErrorText();
  EXPECT_EQ(program_->WaitForExit(10s), std::optional<int>(0)) << program_->Errors();
  EXPECT_FALSE(std::filesystem::is_symlink(link_));
  program_.reset();
}

// A --link path that already exists is another terminal's link or a file of the user's:
// the second program refuses it in one line and leaves it as it was. A dangling link (what
// a killed terminal leaves) is replaced.
TEST_F(Program, ExistingLinkPathIsRefusedAndKept) {
  ASSERT_NO_FATAL_FAILURE(Start());
  const std::string file = WriteFile("not-a-link", "keep me\n");
  files_.push_back(file);
  const std::string dangling = TempPath("dangling");
  std::filesystem::create_symlink("/dev/pts/no-such-terminal", dangling);
  files_.push_back(dangling);
  struct Case {
    std::string path;
    int status;
  };
  for (const Case& c : {Case{link_, 1}, Case{file, 1}, Case{dangling, 0}}) {
    SCOPED_TRACE(c.path);
    const auto before = std::filesystem::symlink_status(c.path).type();
    const auto target = std::filesystem::is_symlink(c.path)
                            ? std::filesystem::read_symlink(c.path).string()
                            : std::string();
    support::VtermProcess second(VANTOREL_VTERM_PROGRAM, {"--link", c.path, "--no-stdin"});
    if (c.status == 0) {
      const auto path = second.ReadLine(10s);
      ASSERT_TRUE(path.has_value()) << second.Errors();
      EXPECT_EQ(std::filesystem::read_symlink(c.path).string(), *path);
      std::this_thread::sleep_for(300ms);  // its signal handling is set up after the line
      EXPECT_EQ(second.Terminate(5s), std::optional<int>(0));
      EXPECT_FALSE(std::filesystem::is_symlink(c.path)) << "its own link goes with it";
      continue;
    }
    EXPECT_EQ(second.WaitForExit(10s), std::optional<int>(1));
    const std::string errors = second.Errors();
    EXPECT_NE(errors.find(c.path + " already exists"), std::string::npos) << errors;
    EXPECT_EQ(std::filesystem::symlink_status(c.path).type(), before);
    if (!target.empty()) {
      EXPECT_EQ(std::filesystem::read_symlink(c.path).string(), target);
    }
  }
  std::ifstream kept(file);
  std::string line;
  std::getline(kept, line);
  EXPECT_EQ(line, "keep me");
  char text[64];
  int length = 0;
  EXPECT_EQ(Brixa_GetVersion(text, &length), 1) << "the first terminal serves on";
}

// A script waits for secure reading to switch on, swipes, and presses Enter once the
// reading loop polls: the handler gets the card data and the key event.
TEST_F(Program, ScriptSwipesAndPressesEnterDuringSecureReading) {
  const std::string script = Script(
      "wait secure-on 20000\n"
      "swipe %B4000123412341234^TEST/CARD^2512?  ;4000123412341234=2512?\n"
      "wait key-poll 20000\n"
      "pinkey enter\n");
  ASSERT_NO_FATAL_FAILURE(Start({"--script", script}));
  gDeliveries.clear();
  MSR_AddDataHandle(&OnData, 0);
  std::atomic<int> rc{-1};
  std::thread reading([&] { rc = MSR_EnableSecureHead(); });
  const bool both = WaitFor([&] { return gDeliveries.size() >= 2; }, 15s);
  EXPECT_EQ(MSR_DisableSecureHead(), 1);
  reading.join();
  EXPECT_EQ(rc, 1);
  ASSERT_TRUE(both) << gDeliveries.size() << " deliveries\n" << vterm().Execute("state");
  EXPECT_EQ(gDeliveries.size(), 2u);
  // Which comes first is the terminal's timing (the swipe leaves a moment after its key
  // poll), not the script's; each arrives once.
  const std::string tracks = "%B4000123412341234^TEST/CARD^2512?\r;4000123412341234=2512?\r";
  const Bytes card(tracks.begin(), tracks.end());
  const Bytes enter{0x7B, 0x03};
  // Compared without printing: card data stay out of the test's output.
  EXPECT_EQ(std::count(gDeliveries.begin(), gDeliveries.end(), card), 1) << "card data differ";
  EXPECT_EQ(std::count(gDeliveries.begin(), gDeliveries.end(), enter), 1);
}

// A script that fails ends the program with status 1 and names the line; the program stays
// up while the script waits, and a wait that runs out fails within its time.
TEST(ProgramScript, FailuresEndTheProgram) {
  struct Case {
    std::string script;
    std::string error;
    std::chrono::milliseconds atLeast;
  };
  const Case cases[] = {
      {"echo hello\nwait capture-start 300\n", ":2: wait: capture-start did not come within 300 ms",
       300ms},
      {"# set-up\n\nsign 1,2 3\n", ":3: a point lacks its y", 0ms},
      {"swipe\n", ":1: one to three tracks", 0ms},
      {"wait 7A/46\nbogus\n", "", 0ms},  // waits the default 30 s: ended below by SIGTERM
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    const std::string path = WriteFile("failing", c.script);
    const auto start = std::chrono::steady_clock::now();
    support::VtermProcess program(VANTOREL_VTERM_PROGRAM, {"--script", path, "--no-stdin"});
    ASSERT_TRUE(program.ReadLine(10s).has_value());
    if (c.error.empty()) {
      // SIGTERM during a wait ends the program normally.
      std::this_thread::sleep_for(300ms);
      EXPECT_EQ(program.Terminate(3s), 0);
      continue;
    }
    EXPECT_EQ(program.WaitForExit(10s), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, c.atLeast);
    const std::string errors = program.Errors();
    EXPECT_NE(errors.find(path + c.error), std::string::npos) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    std::filesystem::remove(path);
  }
}

// Without a usable /dev/uhid the program says why and how to fix it in one line.
TEST(ProgramUhid, UnavailableDeviceIsExplained) {
  if (::access("/dev/uhid", W_OK) == 0)
    GTEST_SKIP() << "/dev/uhid is usable here (the VM test covers it)";
  support::VtermProcess program(VANTOREL_VTERM_PROGRAM, {"--uhid"});
  EXPECT_EQ(program.WaitForExit(10s), 2);
  EXPECT_FALSE(program.ReadLine(100ms).has_value());
  const std::string errors = program.Errors();
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
  const bool missing = !std::filesystem::exists("/dev/uhid");
  EXPECT_NE(errors.find(missing ? "modprobe uhid" : "udev rule"), std::string::npos) << errors;
}

}  // namespace
