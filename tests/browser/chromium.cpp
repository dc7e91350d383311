#include "browser/chromium.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace browser {
namespace {

constexpr auto kAnswerTimeout = std::chrono::seconds(20);

bool Executable(const std::string& path) {
  return !path.empty() && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string FindChromium() {
  if (const char* own = std::getenv("VANTOREL_CHROMIUM"); own && Executable(own)) return own;
  // The binary itself: Debian's /usr/bin/chromium is a shell wrapper around it.
  for (const char* path : {"/usr/lib/chromium/chromium", "/usr/bin/chromium"}) {
    if (Executable(path)) return path;
  }
  return {};
}

Chromium::Chromium(const std::string& executable, const std::string& profileDir,
                   const std::string& logPath) {
  int commands[2];
  int answers[2];
  if (::pipe2(commands, O_CLOEXEC) != 0 || ::pipe2(answers, O_CLOEXEC) != 0) {
    throw std::runtime_error("chromium: no pipes");
  }
  const std::vector<std::string> args = {
      executable,
      "--headless",
      "--remote-debugging-pipe",
      "--no-sandbox",
      "--disable-gpu",
      "--disable-quic",
      "--no-first-run",
      "--no-default-browser-check",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
      "--disable-extensions",
      "--disable-dev-shm-usage",
      "--metrics-recording-only",
      "--password-store=basic",
      "--use-mock-keychain",
      "--user-data-dir=" + profileDir,
      "about:blank",
  };
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("chromium: fork failed");
  if (pid_ == 0) {
    ::setpgid(0, 0);
    // Out of the way of 3 and 4 first, then into place (dup2 leaves them inheritable).
    const int in = ::fcntl(commands[0], F_DUPFD, 10);
    const int out = ::fcntl(answers[1], F_DUPFD, 10);
    ::dup2(in, 3);
    ::dup2(out, 4);
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = ::open("/dev/null", O_RDONLY);
    if (log >= 0) {
      ::dup2(log, 1);
      ::dup2(log, 2);
    }
    if (null >= 0) ::dup2(null, 0);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(executable.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(commands[0]);
  ::close(answers[1]);
  toBrowser_ = commands[1];
  fromBrowser_ = answers[0];
  reader_ = std::thread([this] { ReadLoop(); });
  Send("Target.setDiscoverTargets", {{"discover", false}}, "");
}

Chromium::~Chromium() {
  try {
    Send("Browser.close", json::object(), "");
  } catch (const std::exception&) {
    // Killed below.
  }
  int status = 0;
  bool ended = false;
  for (int i = 0; i < 50 && !ended; ++i) {
    ended = ::waitpid(pid_, &status, WNOHANG) == pid_;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // The browser's own helpers are in its process group.
  ::kill(-pid_, SIGKILL);
  if (!ended) ::waitpid(pid_, &status, 0);
  ::close(toBrowser_);
  if (reader_.joinable()) reader_.join();
  ::close(fromBrowser_);
}

void Chromium::ReadLoop() {
  std::string pending;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fromBrowser_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending.find('\0')) != std::string::npos;) {
      json message = json::parse(pending.substr(0, end), nullptr, false);
      pending.erase(0, end + 1);
      if (message.is_object() && message.contains("id") && message["id"].is_number_integer()) {
        const auto id = message["id"].get<std::int64_t>();
        std::lock_guard lock(mutex_);
        answers_[id] = std::move(message);
        cv_.notify_all();
      }
    }
  }
  std::lock_guard lock(mutex_);
  closed_ = true;
  cv_.notify_all();
}

json Chromium::Send(const std::string& method, json params, const std::string& session) {
  std::int64_t id = 0;
  {
    std::lock_guard lock(mutex_);
    id = nextId_++;
  }
  json message = {{"id", id}, {"method", method}, {"params", std::move(params)}};
  if (!session.empty()) message["sessionId"] = session;
  std::string text = message.dump();
  text.push_back('\0');
  for (std::size_t at = 0; at < text.size();) {
    const ssize_t n = ::write(toBrowser_, text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("chromium: pipe closed while sending " + method);
    at += static_cast<std::size_t>(n);
  }
  std::unique_lock lock(mutex_);
  if (!cv_.wait_for(lock, kAnswerTimeout, [&] { return closed_ || answers_.count(id) > 0; }) ||
      answers_.count(id) == 0) {
    throw std::runtime_error("chromium: no answer to " + method);
  }
  json answer = std::move(answers_[id]);
  answers_.erase(id);
  if (answer.contains("error")) {
    throw std::runtime_error("chromium: " + method + ": " + answer["error"].dump());
  }
  return answer.value("result", json::object());
}

void Chromium::Open(const std::string& url, int width, int height) {
  const json target = Send("Target.createTarget", {{"url", "about:blank"}}, "");
  const json attached =
      Send("Target.attachToTarget", {{"targetId", target.at("targetId")}, {"flatten", true}}, "");
  session_ = attached.at("sessionId").get<std::string>();
  Page("Emulation.setDeviceMetricsOverride",
       {{"width", width}, {"height", height}, {"deviceScaleFactor", 1}, {"mobile", false}});
  Page("Page.navigate", {{"url", url}});
}

json Chromium::Page(const std::string& method, json params) {
  return Send(method, std::move(params), session_);
}

json Chromium::Evaluate(const std::string& expression) {
  const json r =
      Page("Runtime.evaluate",
           {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}});
  if (r.contains("exceptionDetails")) {
    throw std::runtime_error("page: " + r["exceptionDetails"].dump());
  }
  return r.at("result").value("value", json());
}

bool Chromium::WaitFor(const std::string& expression, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    try {
      if (Evaluate("!!(" + expression + ")") == true) return true;
    } catch (const std::runtime_error&) {
      // The page may still be loading.
    }
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void Chromium::Drag(const std::vector<std::pair<double, double>>& points,
                    const std::string& pointerType) {
  if (points.empty()) return;
  const auto event = [&](const char* type, std::pair<double, double> p, int buttons) {
    json params = {{"type", type},
                   {"x", p.first},
                   {"y", p.second},
                   {"button", "left"},
                   {"buttons", buttons},
                   {"clickCount", 1},
                   {"pointerType", pointerType}};
    if (std::string(type) == "mouseMoved" && buttons == 0) params["button"] = "none";
    Page("Input.dispatchMouseEvent", params);
  };
  event("mouseMoved", points.front(), 0);
  event("mousePressed", points.front(), 1);
  for (std::size_t i = 1; i < points.size(); ++i) event("mouseMoved", points[i], 1);
  event("mouseReleased", points.back(), 0);
}

void Chromium::Touch(const std::vector<std::pair<double, double>>& points) {
  if (points.empty()) return;
  Page("Emulation.setTouchEmulationEnabled", {{"enabled", true}, {"maxTouchPoints", 1}});
  const auto event = [&](const char* type, std::pair<double, double> p, bool withPoint) {
    json touchPoints = json::array();
    if (withPoint) touchPoints.push_back({{"x", p.first}, {"y", p.second}, {"id", 1}});
    Page("Input.dispatchTouchEvent", {{"type", type}, {"touchPoints", touchPoints}});
  };
  event("touchStart", points.front(), true);
  for (std::size_t i = 1; i < points.size(); ++i) event("touchMove", points[i], true);
  event("touchEnd", points.back(), false);
  Page("Emulation.setTouchEmulationEnabled", {{"enabled", false}});
}

void Chromium::Click(const std::string& selector) {
  const json box =
      Evaluate("(() => { const r = document.querySelector(" + json(selector).dump() +
               ").getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })()");
  const std::pair<double, double> at{box.at(0).get<double>(), box.at(1).get<double>()};
  Drag({at}, "mouse");
}

std::vector<std::uint8_t> Chromium::Screenshot() {
  const json shot = Page("Page.captureScreenshot", {{"format", "png"}});
  return FromBase64(shot.at("data").get<std::string>());
}

std::vector<std::uint8_t> FromBase64(const std::string& text) {
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+')
      v = 62;
    else if (c == '/')
      v = 63;
    else
      continue;  // padding, line breaks
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    if (++count == 4) {
      out.push_back(static_cast<std::uint8_t>(bits >> 16));
      out.push_back(static_cast<std::uint8_t>(bits >> 8));
      out.push_back(static_cast<std::uint8_t>(bits));
      bits = 0;
      count = 0;
    }
  }
  if (count == 3) {
    out.push_back(static_cast<std::uint8_t>(bits >> 10));
    out.push_back(static_cast<std::uint8_t>(bits >> 2));
  } else if (count == 2) {
    out.push_back(static_cast<std::uint8_t>(bits >> 4));
  }
  return out;
}

}  // namespace browser
