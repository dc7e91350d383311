// Captures a signature and saves it as a PBM picture (the pad's 1024 x 1024 points scaled
// to 512 x 512 pixels), drawn here without any image library.
//
//   sign PORT [signature.pbm]
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>
#include <vector>

#include "example.hpp"

using namespace std::chrono_literals;

namespace {

constexpr int kPad = 1024;  // the pad reports 0-1023 each way
constexpr int kSide = 512;

void Plot(std::vector<bool>& image, int x, int y) {
  x = std::clamp(x * kSide / kPad, 0, kSide - 1);
  y = std::clamp(y * kSide / kPad, 0, kSide - 1);
  image[static_cast<std::size_t>(y * kSide + x)] = true;
}

// Draws the strokes: consecutive points of a stroke joined by straight lines.
std::vector<bool> Render(const std::vector<vantorel::point>& points) {
  std::vector<bool> image(kSide * kSide);
  const vantorel::point* previous = nullptr;
  for (const auto& p : points) {
    if (p.pen_up()) {
      previous = nullptr;
      continue;
    }
    if (previous) {
      const int steps = std::max({std::abs(p.x - previous->x), std::abs(p.y - previous->y), 1});
      for (int i = 0; i <= steps; ++i) {
        Plot(image, previous->x + (p.x - previous->x) * i / steps,
             previous->y + (p.y - previous->y) * i / steps);
      }
    }
    Plot(image, p.x, p.y);
    previous = &p;
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) try {
  const std::string path = argc > 2 ? argv[2] : "signature.pbm";
  auto terminal = example::open(argc, argv);

  std::mutex mutex;
  std::vector<vantorel::point> points;
  auto last = std::chrono::steady_clock::now();
  const auto on_points = [&](std::span<const vantorel::point> batch) {
    // Over USB the pad's events come as one pair of their own: (122, region), (123, key).
    const bool event = batch.size() == 1 && (batch[0].x == VANTOREL_POINT_EVENT_REGION ||
                                             batch[0].x == VANTOREL_POINT_EVENT_KEY);
    if (event) return;
    std::lock_guard lock(mutex);
    points.insert(points.end(), batch.begin(), batch.end());
    last = std::chrono::steady_clock::now();
  };
  // Absolute points; the seven capture bytes are the pad's (zeros here).
  vantorel::capture capture({.format = VANTOREL_POINT_FORMAT_ABSOLUTE, .bytes = {}}, on_points);

  // Up to 30 s for the first point, then until the pen has rested for 1.5 s.
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    std::this_thread::sleep_for(100ms);
    std::lock_guard lock(mutex);
    const auto now = std::chrono::steady_clock::now();
    if ((!points.empty() && now - last > 1500ms) || now - start > 30s) break;
  }
  capture.stop();

  std::lock_guard lock(mutex);
  if (points.empty()) {
    std::cerr << "no signature\n";
    return 1;
  }
  const auto image = Render(points);
  std::ofstream out(path);
  out << "P1\n" << kSide << ' ' << kSide << '\n';
  for (int y = 0; y < kSide; ++y) {
    for (int x = 0; x < kSide; ++x)
      out << (image[static_cast<std::size_t>(y * kSide + x)] ? '1' : '0');
    out << '\n';
  }
  if (!out.flush()) {
    std::cerr << path << ": cannot write\n";
    return 1;
  }
  std::cout << "signature: " << points.size() << " points saved to " << path << '\n';
  return 0;
} catch (const std::exception& e) {
  std::cerr << e.what() << '\n';
  return 1;
}
