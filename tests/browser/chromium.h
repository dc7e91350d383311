// A headless Chromium driven over its DevTools protocol through a pipe
// (--remote-debugging-pipe: commands on the child's fd 3, answers and events on its fd 4,
// each message a JSON text closed by a NUL byte). Enough for the browser tests: open a page,
// evaluate script, send mouse, pen and touch input, take screenshots.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace browser {

using nlohmann::json;

// The browser to run: $VANTOREL_CHROMIUM, else Debian's chromium; empty when none exists.
std::string FindChromium();

class Chromium {
 public:
  // Starts the browser with a fresh profile under `profileDir`; its own output goes to
  // `logPath`. Throws std::runtime_error when it does not come up.
  Chromium(const std::string& executable, const std::string& profileDir,
           const std::string& logPath);
  ~Chromium();
  Chromium(const Chromium&) = delete;
  Chromium& operator=(const Chromium&) = delete;

  // Opens a tab at `url` with a viewport of width x height and makes it the page that the
  // calls below act on.
  void Open(const std::string& url, int width, int height);

  // One protocol command on the page's session; throws on an error answer or a time-out.
  json Page(const std::string& method, json params = json::object());
  // Evaluates `expression` in the page (awaiting a promise) and returns its value.
  json Evaluate(const std::string& expression);
  // Evaluates until the value is true; false on time-out.
  bool WaitFor(const std::string& expression, std::chrono::milliseconds timeout);

  // Mouse or pen input ("mouse" / "pen") along `points` (CSS pixels): press, moves, release.
  void Drag(const std::vector<std::pair<double, double>>& points, const std::string& pointerType);
  // A finger along `points`.
  void Touch(const std::vector<std::pair<double, double>>& points);
  // A mouse click on the centre of the element `selector`.
  void Click(const std::string& selector);
  // The whole page as PNG bytes.
  std::vector<std::uint8_t> Screenshot();

 private:
  json Send(const std::string& method, json params, const std::string& session);
  void ReadLoop();

  pid_t pid_ = -1;
  int toBrowser_ = -1;
  int fromBrowser_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::map<std::int64_t, json> answers_;
  std::int64_t nextId_ = 1;
  bool closed_ = false;
  std::string session_;
};

// Base64 in and out (screenshots and canvas pixels travel as base64).
std::vector<std::uint8_t> FromBase64(const std::string& text);

}  // namespace browser
