// The two timing profiles side by side, in one run: the real exports against the virtual
// terminal in this process, over a pseudo-terminal and over the HID test backend (and, with
// --uhid where /dev/uhid is usable, through the kernel's HID driver). Prints one table:
// milliseconds per command (or per sequence) under each profile and the speed-up.
//
//   build/dev/bench/timing_bench            every case (about half a minute)
//   build/dev/bench/timing_bench --quick    fewer standard runs
//   build/dev/bench/timing_bench --uhid     also the kernel HID device (root, uhid loaded)
//
// A bench program, not Google Benchmark: a standard command takes 650 ms, so a handful of
// runs is all the time allows, and the point is the two columns next to each other.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/hid_device.h"
#include "vantorel.h"
#include "vterm/hid_front_end.h"
#include "vterm/modules.h"
#include "vterm/pty_front_end.h"
#include "vterm/terminal.h"
#include "vterm/uhid_front_end.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPort = 7;

struct Row {
  std::string name;
  double standardMs;
  double promptMs;
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "timing_bench: %s\n", what.c_str());
  std::exit(1);
}

void Expect(const char* call, unsigned char rc) {
  if (rc != VANTOREL_SUCCESS) Fail(std::string(call) + " returned " + std::to_string(rc));
}

// The milliseconds one run of `body` takes, the mean of `runs` runs under `profile`.
double Time(int profile, int runs, const std::function<void()>& body) {
  Expect("Brixa_SetTiming", Brixa_SetTiming(profile, 0));
  const auto start = Clock::now();
  for (int i = 0; i < runs; ++i) body();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / runs;
}

void GetVersion() {
  char text[512];
  int length = 0;
  Expect("Brixa_GetVersion", Brixa_GetVersion(text, &length));
}

// Every drawing command the demo sends for its screen, in its order.
constexpr int kDrawingCommands = 16;
void DemoDrawing() {
  static constexpr char kTotal[] = "Total: 42.00";
  static constexpr char kPrompt[] = "Please sign in the box below, then press OK.";
  static constexpr char kOk[] = "OK";
  Expect("Zelto_SetBackLight", Zelto_SetBackLight(160));
  Expect("Zelto_BrushColor", Zelto_BrushColor(20, 60, 140));
  Expect("Zelto_FillRectangle", Zelto_FillRectangle(0, 0, 319, 29));
  Expect("Zelto_SetTextColor", Zelto_SetTextColor(255, 255, 255));
  Expect("Zelto_SetFont", Zelto_SetFont(2, 1, 0, 0, 0, 0));
  Expect("Zelto_DrawString", Zelto_DrawString(12, 7, sizeof kTotal - 1, kTotal));
  Expect("Zelto_SetFont", Zelto_SetFont(1, 0, 0, 0, 0, 0));
  Expect("Zelto_SetTextColor", Zelto_SetTextColor(40, 40, 40));
  Expect("Zelto_DrawStringInRectangle",
         Zelto_DrawStringInRectangle(10, 40, 310, 58, sizeof kPrompt - 1, kPrompt));
  Expect("Zelto_SetPenColor", Zelto_SetPenColor(20, 60, 140, 2, 0, 0, 0));
  Expect("Zelto_CreateRegion", Zelto_CreateRegion(1, 2, 0, 10, 62, 309, 199, 0, nullptr));
  Expect("Zelto_BrushColor", Zelto_BrushColor(220, 230, 245));
  Expect("Zelto_CreateRegion", Zelto_CreateRegion(2, 1, 0, 230, 206, 309, 233, 2,
                                                  reinterpret_cast<const unsigned char*>(kOk)));
  Expect("Zelto_BrushColor", Zelto_BrushColor(240, 180, 40));
  Expect("Zelto_FillArc", Zelto_FillArc(24, 219, 12, 0, 0));
  Expect("Zelto_DrawArc", Zelto_DrawArc(24, 219, 15, 180, 360));
}

struct Runs {
  int standard;
  int prompt;
};

Row Both(const std::string& name, Runs runs, const std::function<void()>& body) {
  std::fprintf(stderr, "timing_bench: %s\n", name.c_str());
  Row row{name, Time(VANTOREL_TIMING_STANDARD, runs.standard, body),
          Time(VANTOREL_TIMING_PROMPT, runs.prompt, body)};
  Brixa_SetTiming(VANTOREL_TIMING_STANDARD, 0);
  return row;
}

void OpenPort(int baud) {
  Expect("Brixa_OpenPort", Brixa_OpenPort(kPort, baud, 'N', 1, 8));
}

std::vector<Row> SerialRows(bool quick) {
  vterm::Terminal terminal;
  vterm::InstallAllModules(terminal);
  vterm::PtyFrontEnd pty(terminal);
  Expect("Brixa_MapPort", Brixa_MapPort(kPort, pty.Path().c_str()));
  const int few = quick ? 2 : 5;
  std::vector<Row> rows;
  for (int baud : {9600, 115200}) {
    OpenPort(baud);
    rows.push_back(
        Both("Brixa_GetVersion, pty " + std::to_string(baud) + " baud", {few, 200}, GetVersion));
    Brixa_Close();
  }
  OpenPort(9600);
  Row drawing = Both(
      "demo drawing sequence (" + std::to_string(kDrawingCommands) + " commands), pty 9600 baud",
      {1, 20}, DemoDrawing);
  rows.push_back(drawing);
  rows.push_back({"  the same, per drawing command", drawing.standardMs / kDrawingCommands,
                  drawing.promptMs / kDrawingCommands});
  Brixa_Close();
  // The open alone: both handshakes; the close is outside the time.
  const auto open = [](int profile, int runs) {
    Expect("Brixa_SetTiming", Brixa_SetTiming(profile, 0));
    double total = 0;
    for (int i = 0; i < runs; ++i) {
      const auto start = Clock::now();
      OpenPort(9600);
      total += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
      Brixa_Close();
    }
    return total / runs;
  };
  std::fprintf(stderr, "timing_bench: open\n");
  rows.push_back({"open (both handshakes), pty 9600 baud", open(VANTOREL_TIMING_STANDARD, few),
                  open(VANTOREL_TIMING_PROMPT, 50)});
  Brixa_SetTiming(VANTOREL_TIMING_STANDARD, 0);
  Brixa_MapPort(kPort, nullptr);
  return rows;
}

std::vector<Row> HidRows(bool quick, bool kernel) {
  vterm::Terminal terminal;
  vterm::InstallAllModules(terminal);
  std::unique_ptr<vterm::HidFrontEnd> backend;
  std::unique_ptr<vterm::UhidFrontEnd> device;
  if (kernel) {
    device = std::make_unique<vterm::UhidFrontEnd>(terminal);
  } else {
    backend = std::make_unique<vterm::HidFrontEnd>(terminal);
    vantorel::link::TheHidDevice().UseBackend(backend.get());
  }
  Expect("Brixa_OpenHid", Brixa_OpenHid(vterm::kVendorId, vterm::kProductId));
  std::vector<Row> rows;
  rows.push_back(Both(
      kernel ? "Brixa_GetVersion, kernel HID (uhid, hidraw)" : "Brixa_GetVersion, HID test backend",
      {quick ? 5 : 20, 500}, GetVersion));
  Brixa_Close();
  if (backend) vantorel::link::TheHidDevice().UseBackend(nullptr);
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  bool uhid = false;
  bool onlyUhid = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else if (std::strcmp(argv[i], "--uhid") == 0) {
      uhid = true;
    } else if (std::strcmp(argv[i], "--only-uhid") == 0) {
      uhid = onlyUhid = true;
    } else {
      std::fprintf(stderr, "usage: timing_bench [--quick] [--uhid | --only-uhid]\n");
      return 2;
    }
  }
  std::vector<Row> rows;
  if (!onlyUhid) {
    for (auto& r : SerialRows(quick)) rows.push_back(r);
    for (auto& r : HidRows(quick, false)) rows.push_back(r);
  }
  if (uhid) {
    if (!vterm::UhidFrontEnd::Available()) Fail("/dev/uhid cannot be opened (root, modprobe uhid)");
    for (auto& r : HidRows(quick, true)) rows.push_back(r);
  }
  std::printf("| %-58s | %12s | %10s | %9s |\n", "case", "standard ms", "prompt ms", "speed-up");
  std::printf("|%s|%s|%s|%s|\n", std::string(60, '-').c_str(), std::string(13, '-').c_str(),
              std::string(11, '-').c_str(), std::string(10, '-').c_str());
  for (const Row& r : rows) {
    std::printf("| %-58s | %12.1f | %10.2f | %8.0fx |\n", r.name.c_str(), r.standardMs, r.promptMs,
                r.promptMs > 0 ? r.standardMs / r.promptMs : 0.0);
  }
  return 0;
}
