// The browser view in a real browser: a headless Chromium acts on the page the virtual
// terminal serves while the application side runs the real exports over a pseudo-terminal
// or the HID test backend. What the page did must arrive at the application's handlers, and
// what the application drew must appear on the page.
//
// VANTOREL_BROWSER_OUT names a folder for the page's screenshots (default: the working
// folder). Without a browser every test is skipped.
#include <png.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "browser/chromium.h"
#include "integration/pinpad_test_support.h"
#include "integration/signpad_test_support.h"
#include "link/link_state.h"
#include "support/session.h"
#include "vantorel.h"
#include "vterm/card_reader.h"
#include "vterm/pin_pad.h"
#include "vterm/signpad.h"
#include "vterm/web/web_view.h"

namespace {

using namespace std::chrono_literals;
using browser::json;
using signpad_test::Capture;
using signpad_test::Recorder;
using Points = std::vector<std::pair<double, double>>;

std::filesystem::path OutDir() {
  const char* dir = std::getenv("VANTOREL_BROWSER_OUT");
  std::filesystem::path out = dir && *dir ? dir : ".";
  std::filesystem::create_directories(out);
  return out;
}

// What secure reading hands to the application (the context is a 32-bit value, so the
// recorder is found through a global).
class DataRecorder;
DataRecorder* theDataRecorder = nullptr;

class DataRecorder {
 public:
  DataRecorder() { theDataRecorder = this; }
  ~DataRecorder() { theDataRecorder = nullptr; }
  static void VANTOREL_CALL Handle(const unsigned char* data, int count, int context) {
    EXPECT_EQ(context, 77);
    auto* self = theDataRecorder;
    if (self == nullptr) return;
    std::lock_guard lock(self->mutex_);
    self->calls_.emplace_back(data, data + count);
    self->cv_.notify_all();
  }
  std::vector<vterm::Bytes> WaitForCalls(std::size_t n, std::chrono::milliseconds timeout = 10s) {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, timeout, [&] { return calls_.size() >= n; });
    return calls_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<vterm::Bytes> calls_;
};

class BrowserView : public support::TransportTest {
 protected:
  static void SetUpTestSuite() {
    const std::string executable = browser::FindChromium();
    if (executable.empty()) return;
    profile_ =
        std::filesystem::temp_directory_path() / ("vantorel-browser-" + std::to_string(::getpid()));
    std::filesystem::create_directories(profile_);
    chromium_ = std::make_unique<browser::Chromium>(executable, profile_.string(),
                                                    (OutDir() / "chromium.log").string());
  }
  static void TearDownTestSuite() {
    chromium_.reset();
    std::error_code ec;
    std::filesystem::remove_all(profile_, ec);
  }

  void SetUp() override {
    if (!chromium_) GTEST_SKIP() << "no chromium (scripts/browser-tests.sh installs it)";
    ASSERT_EQ(session.Open(), 1);
    pad().SetHidLink(!session.serial());
    pad().SetPenTiming({.intervalMs = 15, .packetsPerMessage = 2, .startDelayMs = 0});
    view_ = std::make_unique<vterm::WebView>(session.terminal(), vterm::WebAddress{},
                                             session.serial() ? "serial" : "HID");
    chromium_->Open(view_->Url(), 1400, 1000);
    ASSERT_TRUE(chromium_->WaitFor(
        "window.vtermPage && vtermPage.state && vtermPage.shownVersion > 0", 15s));
  }
  void TearDown() override {
    if (chromium_) {
      try {
        chromium_->Page("Page.close");
      } catch (const std::exception&) {
      }
    }
  }

  vterm::SignpadModule& pad() { return session.terminal().Get<vterm::SignpadModule>(); }
  vterm::PinPadModule& pinPad() { return session.terminal().Get<vterm::PinPadModule>(); }
  browser::Chromium& page() { return *chromium_; }

  // Display pixels to the scaled canvas's page coordinates.
  Points OnCanvas(const std::vector<std::pair<int, int>>& display) {
    const json r = page().Evaluate(
        "(() => { const c = document.getElementById('scaled'); const r = c.getBoundingClientRect();"
        " return [r.x + c.clientLeft, r.y + c.clientTop, c.clientWidth / 320, c.clientHeight / "
        "240]; })()");
    Points out;
    for (const auto& [x, y] : display) {
      out.emplace_back(r[0].get<double>() + (x + 0.5) * r[2].get<double>(),
                       r[1].get<double>() + (y + 0.5) * r[3].get<double>());
    }
    return out;
  }

  // The whole page, frame log included.
  void Screenshot(const std::string& name) {
    page().Page("Emulation.setDeviceMetricsOverride",
                {{"width", 1400}, {"height", 1320}, {"deviceScaleFactor", 1}, {"mobile", false}});
    const auto png = page().Screenshot();
    std::ofstream(OutDir() / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  }

  static inline std::unique_ptr<browser::Chromium> chromium_;
  static inline std::filesystem::path profile_;
  std::unique_ptr<vterm::WebView> view_;
};

// A stroke drawn with a mouse, a pen and a finger reaches the point handler as the points
// the page recorded, in order, each stroke closed by its pen-up.
TEST_P(BrowserView, StrokesReachThePointHandler) {
  Recorder recorder;
  recorder.Register();
  // A signature box: the page maps the pointer into it as the pen does.
  ASSERT_EQ(Zelto_CreateRegion(1, 2, 0, 40, 60, 279, 199, 0, nullptr), 1);
  Capture capture(1);
  ASSERT_TRUE(Capture::WaitRunning());
  ASSERT_TRUE(
      page().WaitFor("vtermPage.state.capture.active && vtermPage.state.regions.length", 5s));

  struct Case {
    const char* pointer;
    std::vector<std::pair<int, int>> path;
  };
  const std::vector<Case> cases = {
      {"mouse", {{50, 70}, {60, 75}, {75, 90}, {90, 120}, {110, 150}, {140, 160}, {170, 150}}},
      {"pen", {{200, 80}, {205, 100}, {212, 130}, {230, 170}, {270, 195}}},
      {"touch", {{120, 100}, {130, 101}, {150, 104}, {190, 110}}},
      // Outside the box: held at its edge, as the pad's range ends there.
      {"mouse", {{20, 30}, {30, 40}, {60, 80}}},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Points at = OnCanvas(cases[i].path);
    if (std::string(cases[i].pointer) == "touch") {
      page().Touch(at);
    } else {
      page().Drag(at, cases[i].pointer);
    }
    ASSERT_TRUE(page().WaitFor("vtermPage.strokes.length === " + std::to_string(i + 1) +
                                   " && vtermPage.strokes[" + std::to_string(i) + "].ok === true",
                               5s))
        << cases[i].pointer;
  }
  const json strokes = page().Evaluate("vtermPage.strokes");
  std::vector<int> expected;
  for (std::size_t i = 0; i < strokes.size(); ++i) {
    const json& s = strokes[i];
    EXPECT_EQ(s["pointerType"], cases[i].pointer);
    EXPECT_GE(s["points"].size(), 2u) << cases[i].pointer;
    for (const json& p : s["points"]) {
      const int x = p[0].get<int>();
      const int y = p[1].get<int>();
      EXPECT_TRUE(x >= 0 && x <= 1023 && y >= 0 && y <= 1023) << x << "," << y;
      expected.insert(expected.end(), {x, y});
    }
    expected.insert(expected.end(), {-1, -1});
  }
  // The last stroke started outside the box, at its top left corner.
  EXPECT_EQ(strokes.back()["points"][0], json::array({0, 0}));
  ASSERT_TRUE(recorder.WaitForPoints(expected.size()));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(recorder.Points(), expected);
  EXPECT_EQ(Zelto_ExitCapture(), 1);
  EXPECT_EQ(capture.Finish(), 1);
}

// Over HID a tap on a button is the region's event and the function keys are key events.
class BrowserViewHid : public BrowserView {};
INSTANTIATE_TEST_SUITE_P(, BrowserViewHid, ::testing::Values(support::Transport::kHid),
                         support::TransportName);

TEST_P(BrowserViewHid, TapsAndKeysAreEventsDuringCapture) {
  Recorder recorder;
  recorder.Register();
  ASSERT_EQ(Zelto_CreateRegion(7, 1, 0, 200, 180, 300, 230, 2,
                               reinterpret_cast<const unsigned char*>("OK")),
            1);
  Capture capture(1);
  ASSERT_TRUE(Capture::WaitRunning());
  ASSERT_TRUE(
      page().WaitFor("vtermPage.state.capture.active && vtermPage.state.regions.length", 5s));
  page().Drag(OnCanvas({{250, 205}}), "mouse");
  ASSERT_TRUE(recorder.WaitForCalls(1));
  page().Click("[data-key='C']");
  page().Click("[data-key='E']");
  ASSERT_TRUE(recorder.WaitForCalls(3));
  EXPECT_EQ(recorder.Calls(), (std::vector<std::vector<int>>{{122, 7}, {123, 1}, {123, 3}}));
  EXPECT_EQ(page().Evaluate("vtermPage.strokes.length"), 0);
  EXPECT_EQ(Zelto_ExitCapture(), 1);
  EXPECT_EQ(capture.Finish(), 1);
}

// Keys pressed on the page complete a PIN entry: the answer is the block of exactly the
// digits keyed (after Backspace and Clear), the page shows them as stars only, and neither
// the block nor the digits reach the page's frame log. Cancel ends an entry with 105.
TEST_P(BrowserView, KeysCompleteAPinEntry) {
  struct Case {
    std::string keys;  // pressed in order
    int code;
    std::size_t shown;  // stars before the last key
    std::string digits;
  };
  const std::vector<Case> cases = {
      {"1290BB34E", 1, 4, "1234"},
      {"55X806421E", 1, 6, "806421"},
      {"12C", 105, 2, ""},
  };
  const std::string account = "4761739001010119";
  for (const Case& c : cases) {
    pinpad_test::Request request(8, 4);
    request.record.accountNumber = account.c_str();
    request.Line("PIN please");
    auto entry = std::async(std::launch::async, [&] { return PIN_GetPINBlock(request.record); });
    ASSERT_TRUE(page().WaitFor("vtermPage.state.entry.keyed", 5s)) << c.keys;
    EXPECT_EQ(page().Evaluate("document.getElementById('entry-lines').textContent"), "PIN please");
    for (std::size_t i = 0; i + 1 < c.keys.size(); ++i) {
      page().Click("[data-key='" + c.keys.substr(i, 1) + "']");
    }
    ASSERT_TRUE(page().WaitFor("vtermPage.state.entry.digits === " + std::to_string(c.shown), 5s))
        << c.keys;
    EXPECT_EQ(page().Evaluate("document.getElementById('entry-digits').textContent"),
              std::string(c.shown, '*'));
    page().Click("[data-key='" + c.keys.substr(c.keys.size() - 1) + "']");
    if (entry.wait_for(10s) != std::future_status::ready) {
      ADD_FAILURE() << "written " << (session.pty() ? session.pty()->BytesWritten() : 0)
                    << " the entry did not end: "
                    << page().Evaluate("JSON.stringify(vtermPage.state)")
                    << page().Evaluate("document.querySelector('#log tbody').textContent");
      Brixa_Close();
      entry.wait();
      return;
    }
    EXPECT_EQ(entry.get(), c.code) << c.keys;
    if (c.code != 1) continue;
    ASSERT_EQ(request.resultLength, 16);
    const std::string block(request.result.begin(), request.result.begin() + 16);
    const auto keyed = vterm::PinPadModule::PinFromBlock(block, account);
    // Digits are compared, never printed.
    EXPECT_TRUE(keyed.has_value() && *keyed == c.digits) << "keys " << c.keys.size();
    const json log = page().Evaluate("document.querySelector('#log tbody').textContent");
    EXPECT_EQ(log.get<std::string>().find(vterm::Hex(vterm::Bytes(block.begin(), block.end()))),
              std::string::npos);
  }
}

// A swipe with the page's track data, a bad swipe and a function key reach the card-data
// handler during secure reading.
TEST_P(BrowserView, SwipesReachTheCardDataHandler) {
  DataRecorder data;
  MSR_AddDataHandle(&DataRecorder::Handle, 77);
  auto reading = std::async(std::launch::async, [] { return MSR_EnableSecureHead(); });
  ASSERT_TRUE(page().WaitFor("vtermPage.state.device.secureHead", 5s));
  const std::string track1 = "%B5413330089010608^PAGE/TEST^2812101000000?";
  const std::string track2 = ";5413330089010608=28121010000?";
  page().Evaluate("document.getElementById('track1').value = " + json(track1).dump() +
                  "; document.getElementById('track2').value = " + json(track2).dump() +
                  "; document.getElementById('track3').value = ''");
  page().Click("#swipe");
  ASSERT_EQ(data.WaitForCalls(1).size(), 1u);
  page().Click("#bad-swipe");
  ASSERT_EQ(data.WaitForCalls(2).size(), 2u);
  page().Click("[data-key='E']");
  const auto calls = data.WaitForCalls(3);
  ASSERT_EQ(calls.size(), 3u);
  // Track ends: LF after '?' becomes CR on the way to the application.
  const std::string card = track1 + "\r" + track2 + "\r";
  EXPECT_TRUE(calls[0] == vterm::Bytes(card.begin(), card.end())) << "card data differs";
  const std::string bad = "%E?\r;E?\r+E?\r";
  EXPECT_EQ(calls[1], vterm::Bytes(bad.begin(), bad.end()));
  EXPECT_EQ(calls[2], (vterm::Bytes{0x7B, 0x03}));
  EXPECT_EQ(MSR_DisableSecureHead(), 1);
  ASSERT_EQ(reading.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(reading.get(), 1);
}

// The manual-entry answer: the page's keyed card data end a data-returning entry.
TEST_P(BrowserView, ManualEntryAnswer) {
  ManualEntryRequest request{};
  std::array<unsigned char, 512> result{};
  int length = -1;
  request.result = result.data();
  request.resultLength = &length;
  request.mode = 1;
  request.entryKind = 3;
  request.upperBound = 19;
  request.lowerBound = 12;
  auto entry = std::async(std::launch::async, [&] { return MSR_ManualInputCardData(request); });
  ASSERT_TRUE(
      page().WaitFor("vtermPage.state.manual.pending && "
                     "!document.getElementById('manual-answer').disabled",
                     5s));
  const std::string keyed = "5413330089010608=2812";
  page().Evaluate("document.getElementById('manual-data').value = " + json(keyed).dump());
  page().Click("#manual-answer");
  ASSERT_EQ(entry.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(entry.get(), 1);
  // The whole message: STX, length, ACK, the data, check bytes, ETX.
  const vterm::Bytes expected = vterm::AckFrame(vterm::Bytes(keyed.begin(), keyed.end()));
  ASSERT_EQ(length, static_cast<int>(expected.size()));
  EXPECT_TRUE(vterm::Bytes(result.begin(), result.begin() + length) == expected);
}

// Drawing commands show on the page's canvas with the pixels of the framebuffer's PNG,
// within about 100 ms; the frame log shows the command decoded.
TEST_P(BrowserView, DrawingAppearsOnTheCanvas) {
  ASSERT_EQ(Zelto_BrushColor(20, 40, 90), 1);
  ASSERT_EQ(Zelto_FillRectangle(0, 0, 319, 239), 1);
  ASSERT_EQ(Zelto_SetPenColor(250, 200, 0, 3, 0, 0, 0), 1);
  ASSERT_EQ(Zelto_DrawLine(10, 10, 300, 220), 1);
  ASSERT_EQ(Zelto_DrawArc(160, 120, 80, 0, 270), 1);
  ASSERT_EQ(Zelto_SetTextColor(255, 255, 255), 1);
  ASSERT_EQ(Zelto_SetFont(2, 1, 0, 0, 0, 0), 1);
  ASSERT_EQ(Zelto_DrawString(20, 200, 13, "Total 12.50 ?"), 1);
  const auto drawn = std::chrono::steady_clock::now();
  ASSERT_EQ(Zelto_BrushColor(200, 30, 30), 1);  // the last drawing command's reply is back:
  ASSERT_EQ(Zelto_FillRectangle(250, 10, 300, 40), 1);
  const auto last = std::chrono::steady_clock::now();
  const std::uint64_t version = pad().DisplayVersion();
  ASSERT_TRUE(page().WaitFor("vtermPage.shownVersion >= " + std::to_string(version), 5s));
  const long late = support::ElapsedMs(last);
  // Live: the page follows within about 100 ms (generous here for a loaded machine).
  EXPECT_LT(late, 600) << "the page showed the display " << late << " ms after the command";
  (void)drawn;

  const auto png = OutDir() / ("display-" + support::TransportLabel(GetParam()) + ".png");
  ASSERT_TRUE(pad().WritePng(png.string()));
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_NE(png_image_begin_read_from_file(&image, png.c_str()), 0);
  image.format = PNG_FORMAT_RGBA;
  std::vector<std::uint8_t> fromPng(PNG_IMAGE_SIZE(image));
  ASSERT_NE(png_image_finish_read(&image, nullptr, fromPng.data(), 0, nullptr), 0);
  ASSERT_EQ(image.width, 320u);
  ASSERT_EQ(image.height, 240u);

  const json canvas = page().Evaluate(
      "(() => { const d = document.getElementById('actual').getContext('2d')"
      ".getImageData(0, 0, 320, 240).data; let s = ''; for (let i = 0; i < d.length; i += 32768)"
      " s += String.fromCharCode.apply(null, d.subarray(i, i + 32768)); return btoa(s); })()");
  const auto fromCanvas = browser::FromBase64(canvas.get<std::string>());
  ASSERT_EQ(fromCanvas.size(), fromPng.size());
  std::size_t differing = 0;
  for (std::size_t i = 0; i < fromPng.size(); ++i) differing += fromPng[i] != fromCanvas[i];
  EXPECT_EQ(differing, 0u);

  // The frame log: the last fill, decoded.
  ASSERT_TRUE(page().WaitFor(
      "[...document.querySelectorAll('#log tbody tr')].some(r => r.cells[4].textContent === '8A'"
      " && r.cells[6].textContent === '22' && r.cells[8].textContent === 'FA 00 0A 00 2C 01 28 "
      "00')",
      5s));
  Screenshot("browser-view-" + support::TransportLabel(GetParam()) + ".png");
}

// The misbehaviour switches act on the next command.
TEST_P(BrowserView, MisbehaviourSwitches) {
  char buffer[64];
  int length = 0;
  page().Click("[data-fault='silent']");
  ASSERT_TRUE(page().WaitFor("vtermPage.state.misbehaviourLeft === 1", 5s));
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), 0);
  page().Evaluate("document.getElementById('refuse-status').value = 'E1'");
  page().Click("[data-fault='refuse']");
  ASSERT_TRUE(page().WaitFor("vtermPage.state.misbehaviourLeft === 1", 5s));
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), 99);  // E1: a parameter the terminal refused
  EXPECT_EQ(Brixa_GetVersion(buffer, &length), 1);
}

VANTOREL_ON_BOTH_TRANSPORTS(BrowserView);

}  // namespace
