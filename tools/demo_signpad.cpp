// The signature pad: a small screen drawn on the virtual display, a signature written by the
// virtual pen and captured through the point handler, both saved for a person to look at.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/demo.h"
#include "vantorel.h"
#include "vterm/signpad.h"

namespace demo {
namespace {

using namespace std::chrono_literals;

struct Collected {
  std::mutex mutex;
  std::vector<int> values;
  int calls = 0;
};

void VANTOREL_CALL OnPoints(const int* values, int count, void* context) {
  auto* collected = static_cast<Collected*>(context);
  std::lock_guard lock(collected->mutex);
  collected->values.insert(collected->values.end(), values, values + count);
  ++collected->calls;
}

// A name in three strokes, in pad coordinates (0-1023).
std::vector<vterm::Stroke> Signature() {
  std::vector<vterm::Stroke> strokes;
  vterm::Stroke flourish;
  for (int i = 0; i <= 60; ++i) {
    const double t = i / 60.0;
    flourish.push_back({static_cast<int>(120 + 520 * t),
                        static_cast<int>(560 - 260 * std::sin(t * 9.0) * (1.0 - 0.5 * t))});
  }
  strokes.push_back(flourish);
  vterm::Stroke loop;
  for (int i = 0; i <= 40; ++i) {
    const double a = i / 40.0 * 6.283;
    loop.push_back(
        {static_cast<int>(760 + 110 * std::cos(a)), static_cast<int>(520 + 170 * std::sin(a))});
  }
  strokes.push_back(loop);
  strokes.push_back({{100, 820}, {300, 800}, {500, 810}, {700, 790}, {900, 800}});
  return strokes;
}

void WriteSvg(const std::filesystem::path& path, const std::vector<int>& values) {
  std::ofstream svg(path);
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1024 1024\" "
         "width=\"512\" height=\"512\">\n<rect width=\"1024\" height=\"1024\" fill=\"white\"/>\n";
  std::string points;
  const auto flush = [&] {
    if (!points.empty()) {
      svg << "<polyline fill=\"none\" stroke=\"navy\" stroke-width=\"6\" "
             "stroke-linecap=\"round\" stroke-linejoin=\"round\" points=\""
          << points << "\"/>\n";
    }
    points.clear();
  };
  for (std::size_t i = 0; i + 1 < values.size(); i += 2) {
    if (values[i] < 0) {
      flush();
    } else {
      points += std::to_string(values[i]) + "," + std::to_string(values[i + 1]) + " ";
    }
  }
  flush();
  svg << "</svg>\n";
}

}  // namespace

void RunSignpad(Demo& demo) {
  demo.Say("Signature pad");
  auto& pad = demo.terminal.Get<vterm::SignpadModule>();

  demo.Call("Zelto_SetBackLight(160)", Zelto_SetBackLight(160));
  demo.Call("Zelto_BrushColor(20, 60, 140)", Zelto_BrushColor(20, 60, 140));
  demo.Call("Zelto_FillRectangle(0, 0, 319, 29)", Zelto_FillRectangle(0, 0, 319, 29));
  demo.Call("Zelto_SetTextColor(255, 255, 255)", Zelto_SetTextColor(255, 255, 255));
  demo.Call("Zelto_SetFont(2, 1, 0, 0, 0, 0)", Zelto_SetFont(2, 1, 0, 0, 0, 0));
  demo.Call("Zelto_DrawString(12, 7, 12, \"Total: 42.00\")",
            Zelto_DrawString(12, 7, 12, "Total: 42.00"));
  demo.Call("Zelto_SetFont(1, 0, 0, 0, 0, 0)", Zelto_SetFont(1, 0, 0, 0, 0, 0));
  demo.Call("Zelto_SetTextColor(40, 40, 40)", Zelto_SetTextColor(40, 40, 40));
  static constexpr char kPrompt[] = "Please sign in the box below, then press OK.";
  demo.Call("Zelto_DrawStringInRectangle(10, 40, 310, 58, ...)",
            Zelto_DrawStringInRectangle(10, 40, 310, 58, sizeof kPrompt - 1, kPrompt));
  demo.Call("Zelto_SetPenColor(20, 60, 140, 2, 0, 0, 0)",
            Zelto_SetPenColor(20, 60, 140, 2, 0, 0, 0));
  demo.Call("Zelto_CreateRegion(1, 2, 0, 10, 62, 309, 199, 0, null)  (signature box)",
            Zelto_CreateRegion(1, 2, 0, 10, 62, 309, 199, 0, nullptr));
  demo.Call("Zelto_BrushColor(220, 230, 245)", Zelto_BrushColor(220, 230, 245));
  demo.Call("Zelto_CreateRegion(2, 1, 0, 230, 206, 309, 233, 2, \"OK\")  (button)",
            Zelto_CreateRegion(2, 1, 0, 230, 206, 309, 233, 2,
                               reinterpret_cast<const unsigned char*>("OK")));
  demo.Call("Zelto_BrushColor(240, 180, 40)", Zelto_BrushColor(240, 180, 40));
  demo.Call("Zelto_FillArc(24, 219, 12, 0, 0)", Zelto_FillArc(24, 219, 12, 0, 0));
  demo.Call("Zelto_DrawArc(24, 219, 15, 180, 360)", Zelto_DrawArc(24, 219, 15, 180, 360));

  Collected collected;
  demo.Call("Zelto_AddPointHandle(OnPoints, &collected)",
            Zelto_AddPointHandle(&OnPoints, &collected));
  pad.Write(Signature());
  demo.Say("  the virtual pen signs while Zelto_StartCapture(1, ...) runs on its own thread");
  unsigned char startRc = 0;
  std::thread capture([&] { startRc = Zelto_StartCapture(1, 0, 0, 0, 0, 0, 0, 0); });
  // The pen needs a while for its strokes; then, with the pen still, end the capture.
  for (int i = 0; i < 1000 && (!pad.Capturing() || pad.PendingPackets() > 0); ++i) {
    std::this_thread::sleep_for(10ms);
  }
  std::this_thread::sleep_for(500ms);
  unsigned int count = 0;
  demo.Call("Zelto_GetPointCount(&count)", Zelto_GetPointCount(&count));
  demo.Say("    the pad counted " + std::to_string(count) + " points");
  demo.Call("Zelto_ExitCapture()", Zelto_ExitCapture());
  capture.join();
  demo.Call("Zelto_StartCapture(1, 0, 0, 0, 0, 0, 0, 0)  (returned)", startRc);
  Zelto_AddPointHandle(nullptr, nullptr);

  std::lock_guard lock(collected.mutex);
  demo.Say("    the handler received " + std::to_string(collected.values.size() / 2) +
           " pairs in " + std::to_string(collected.calls) + " calls");
  const auto svg = demo.outDir / "signature.svg";
  WriteSvg(svg, collected.values);
  demo.Say("    signature drawn from those points: " + svg.string());
  const auto png = demo.outDir / "signpad_display.png";
  if (pad.WritePng(png.string())) {
    demo.Say("    the pad's display: " + png.string());
  } else {
    demo.Say("    (no PNG support in this build: the display was not saved)");
  }
}

}  // namespace demo
