#include "vterm/web/web_view.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <thread>

#include "vterm/card_reader.h"
#include "vterm/device.h"
#include "vterm/pin_pad.h"
#include "vterm/signpad.h"
#include "vterm/web/frame_log.h"
#include "vterm/web/web_assets.h"

namespace vterm {
namespace {

using nlohmann::json;

constexpr std::size_t kMaxEvents = 4096;    // frame-log entries kept for the pages
constexpr std::size_t kReplayEvents = 500;  // what a page that connects gets of them
constexpr int kMaxStreams = 8;              // event streams served at once
constexpr std::size_t kMaxPenPoints = 20000;
constexpr auto kHeartbeat = std::chrono::seconds(10);

// What the pages follow: the frame-log entries in order, the latest state and the latest
// display version. The terminal's side only appends under a short lock of its own.
class Hub {
 public:
  struct Cursor {
    bool started = false;
    std::uint64_t frame = 0;
    std::uint64_t state = 0;
    std::uint64_t display = 0;
  };

  void AddFrame(std::string text) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(text));
    ++last_;
    if (events_.size() > kMaxEvents) events_.pop_front();
    cv_.notify_all();
  }
  void SetState(std::string text) {
    std::lock_guard lock(mutex_);
    if (text == state_) return;
    state_ = std::move(text);
    ++stateVersion_;
    cv_.notify_all();
  }
  void SetDisplay(std::uint64_t version) {
    std::lock_guard lock(mutex_);
    if (version == display_) return;
    display_ = version;
    cv_.notify_all();
  }
  void Stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    cv_.notify_all();
  }

  // Waits up to `timeout` for news after `cursor` and returns it as event-stream text
  // (empty: nothing new), or nullopt once stopped.
  std::optional<std::string> Next(Cursor& c, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!c.started) {
      c.started = true;
      c.frame = last_ - std::min<std::uint64_t>(events_.size(), kReplayEvents);
    }
    cv_.wait_for(lock, timeout, [&] {
      return stopped_ || last_ > c.frame || stateVersion_ != c.state || display_ != c.display;
    });
    if (stopped_) return std::nullopt;
    std::string out;
    const std::uint64_t first = last_ - events_.size();  // events_[i] has number first + 1 + i
    if (c.frame < first) {
      out += "event: reset\ndata: {}\n\n";
      c.frame = first;
    }
    for (; c.frame < last_; ++c.frame) {
      out += "event: frame\ndata: ";
      out += events_[static_cast<std::size_t>(c.frame - first)];
      out += "\n\n";
    }
    if (stateVersion_ != c.state && !state_.empty()) {
      out += "event: state\ndata: " + state_ + "\n\n";
      c.state = stateVersion_;
    }
    if (display_ != c.display) {
      out += "event: display\ndata: {\"version\":" + std::to_string(display_) + "}\n\n";
      c.display = display_;
    }
    return out;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::string> events_;
  std::uint64_t last_ = 0;
  std::string state_;
  std::uint64_t stateVersion_ = 0;
  std::uint64_t display_ = 0;
  bool stopped_ = false;
};

std::string HexByte(std::uint8_t b) {
  return Hex(std::span<const std::uint8_t>(&b, 1));
}

int IntField(const json& j, const char* name, int fallback, int least, int most) {
  const auto it = j.find(name);
  if (it == j.end()) return fallback;
  if (!it->is_number_integer()) throw std::invalid_argument(std::string(name) + ": not a number");
  const long long v = it->get<long long>();
  if (v < least || v > most) throw std::invalid_argument(std::string(name) + ": out of range");
  return static_cast<int>(v);
}

std::string StringField(const json& j, const char* name) {
  const auto it = j.find(name);
  if (it == j.end() || !it->is_string()) {
    throw std::invalid_argument(std::string(name) + ": text expected");
  }
  return it->get<std::string>();
}

}  // namespace

std::optional<WebAddress> ParseWebAddress(std::string_view text) {
  WebAddress address;
  const auto colon = text.rfind(':');
  std::string_view port = text;
  if (colon != std::string_view::npos) {
    address.host = std::string(text.substr(0, colon));
    port = text.substr(colon + 1);
    // "[::1]:8080"
    if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']') {
      address.host = address.host.substr(1, address.host.size() - 2);
    }
    if (address.host.empty()) return std::nullopt;
  }
  int value = -1;
  const auto [p, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (port.empty() || ec != std::errc() || p != port.data() + port.size() || value < 0 ||
      value > 65535) {
    return std::nullopt;
  }
  address.port = value;
  return address;
}

struct WebView::Impl {
  Impl(Terminal& t, std::string linkName)
      : terminal(t),
        link(std::move(linkName)),
        pad(t.Get<SignpadModule>()),
        reader(t.Get<CardReaderModule>()),
        pinPad(t.Get<PinPadModule>()) {}

  Terminal& terminal;
  std::string link;
  SignpadModule& pad;
  CardReaderModule& reader;
  PinPadModule& pinPad;
  Clock::time_point start = Clock::now();

  Hub hub;
  web::FrameLog log;  // used under the terminal's lock only
  int listener = 0;
  httplib::Server server;
  std::string host;
  int port = 0;
  std::thread serverThread;
  std::thread poller;
  std::mutex stopMutex;
  std::condition_variable stopCv;
  bool stopping = false;
  std::atomic<int> streams{0};

  long long Ms(Clock::time_point at) const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(at - start).count();
  }

  // Under the terminal's lock: what the page shows besides the display and the log.
  json StateLocked() const {
    const DeviceModule& d = terminal.Device();
    json s;
    s["link"] = link;
    s["device"] = {{"version", d.Version()},      {"serial", d.SerialNumber()},
                   {"model", d.Model()},          {"led", HexByte(d.Led())},
                   {"audio", HexByte(d.Audio())}, {"secureHead", d.SecureHeadOn()},
                   {"tones", d.ToneCount()}};
    s["restarts"] = terminal.RestartCount();
    s["restarting"] = terminal.Restarting();
    s["misbehaviourLeft"] = terminal.MisbehaviourLeft();
    s["backlight"] = pad.Backlight();
    s["capture"] = {{"active", pad.Capturing()},
                    {"paused", pad.Paused()},
                    {"format", pad.Format()},
                    {"points", pad.PointCount()},
                    {"pending", pad.PendingPackets()}};
    json regions = json::array();
    for (const auto& [id, r] : pad.Regions()) {
      regions.push_back({{"id", id},
                         {"kind", r.kind},
                         {"left", r.rect.left},
                         {"top", r.rect.top},
                         {"right", r.rect.right},
                         {"bottom", r.rect.bottom}});
    }
    s["regions"] = regions;
    json entry = {{"pending", pinPad.EntryPending()},
                  {"keyed", pinPad.KeyedEntryPending()},
                  {"digits", pinPad.KeyedDigitCount()},
                  {"count", pinPad.EntryCount()}};
    if (const auto last = pinPad.LastEntry(); last && pinPad.EntryPending()) {
      entry["sub"] = HexByte(last->sub);
      entry["lower"] = last->lowerBound;
      entry["upper"] = last->upperBound;
      json lines = json::array();
      for (const auto& line : last->lines) {
        lines.push_back({{"x", line.x}, {"y", line.y}, {"text", line.text}});
      }
      entry["lines"] = lines;
    }
    s["entry"] = entry;
    json manual = {{"pending", reader.ManualEntryPending()}, {"count", reader.ManualEntryCount()}};
    if (const auto last = reader.LastManualEntry(); last && reader.ManualEntryPending()) {
      manual["dataReturning"] = last->mode == 1 || last->entryKind == 3;
      json lines = json::array();
      for (const auto& line : last->lines) lines.push_back(line.text);
      manual["lines"] = lines;
    }
    s["manual"] = manual;
    s["reader"] = {{"pending", reader.Pending()}, {"keyPolls", reader.KeyPolls()}};
    return s;
  }

  void Poll() {
    std::unique_lock lock(stopMutex);
    while (!stopping) {
      std::string state;
      std::uint64_t display = 0;
      {
        auto terminalLock = terminal.Lock();
        display = pad.DisplayVersion();
        state = StateLocked().dump();
      }
      hub.SetDisplay(display);
      hub.SetState(std::move(state));
      stopCv.wait_for(lock, std::chrono::milliseconds(kPollMs), [&] { return stopping; });
    }
  }

  // A key of the pad: a waiting keyed entry takes it; otherwise Cancel ends a waiting manual
  // entry, and the function keys go out as pad events over HID during a capture, or into
  // the key buffer that PIN_GetKey and secure reading poll.
  bool PressKey(char key) {
    auto lock = terminal.Lock();
    if (pinPad.KeyedEntryPending()) return pinPad.Key(key);
    if (key == 'C' && reader.ManualEntryPending()) {
      return reader.RefuseManualEntry(kStatusEntryCancelled);
    }
    if (key != 'C' && key != 'B' && key != 'E') return false;
    if (pad.PressKey(key)) return true;
    reader.PressKey(static_cast<PadKey>(key));
    return true;
  }

  json Act(const std::string& path, const json& body) {
    if (path == "pen") {
      const auto& strokes = body.at("strokes");
      std::vector<Stroke> out;
      std::size_t total = 0;
      for (const auto& stroke : strokes) {
        Stroke s;
        for (const auto& point : stroke) {
          const int x = point.at(0).get<int>();
          const int y = point.at(1).get<int>();
          if (x < 0 || x > 1023 || y < 0 || y > 1023)
            throw std::invalid_argument("point off the pad");
          s.push_back({x, y});
        }
        total += s.size();
        if (!s.empty()) out.push_back(std::move(s));
      }
      if (out.empty() || total > kMaxPenPoints) throw std::invalid_argument("no strokes");
      auto lock = terminal.Lock();
      if (!pad.Capturing()) return {{"ok", false}, {"why", "no capture running"}};
      pad.Write(std::move(out));
      return {{"ok", true}, {"points", total}};
    }
    if (path == "touch") {
      const int id = IntField(body, "id", -1, 0, 255);
      const bool ok = pad.TouchRegion(static_cast<std::uint8_t>(id));
      return {{"ok", ok}};
    }
    if (path == "key") {
      const std::string key = StringField(body, "key");
      if (key.size() != 1) throw std::invalid_argument("one key");
      return {{"ok", PressKey(key[0])}};
    }
    if (path == "swipe") {
      Bytes message;
      if (body.value("bad", false)) {
        // A card the head could not read: each track reports its error.
        message = CardReaderModule::TrackText({"%E?", ";E?", "+E?"});
      } else {
        std::vector<std::string> tracks;
        for (const auto& t : body.at("tracks")) {
          std::string track = t.get<std::string>();
          if (!track.empty()) tracks.push_back(std::move(track));
        }
        if (tracks.empty()) throw std::invalid_argument("no track data");
        std::vector<std::string_view> views(tracks.begin(), tracks.end());
        message = CardReaderModule::TrackText(views);
        if (message.size() > 500) throw std::invalid_argument("track data too long");
      }
      reader.Swipe(std::move(message));
      return {{"ok", true}};
    }
    if (path == "manual") {
      const std::string action = StringField(body, "action");
      if (action == "refuse") {
        return {{"ok", reader.RefuseManualEntry(static_cast<std::uint8_t>(
                           IntField(body, "status", kStatusEntryCancelled, 0, 255)))}};
      }
      const std::string data = StringField(body, "data");
      if (data.size() > 400) throw std::invalid_argument("card data too long");
      return {{"ok", reader.AnswerManualEntry(Bytes(data.begin(), data.end()))}};
    }
    if (path == "misbehave") {
      const std::string fault = StringField(body, "fault");
      const int count = IntField(body, "count", 1, 1, 1000);
      if (fault == "refuse") {
        terminal.RefuseNext(count,
                            static_cast<std::uint8_t>(IntField(body, "status", 0xE8, 0, 255)));
      } else if (fault == "silent") {
        terminal.SilenceNext(count);
      } else if (fault == "late") {
        terminal.DelayNext(count, IntField(body, "ms", 1000, 0, 60000));
      } else if (fault == "short") {
        terminal.TruncateNext(count, static_cast<std::size_t>(IntField(body, "bytes", 3, 0, 4096)));
      } else if (fault == "garbage") {
        terminal.GarbleNext(count, static_cast<std::size_t>(IntField(body, "length", 8, 1, 4096)));
      } else if (fault == "normal") {
        terminal.BehaveNormally();
      } else if (fault == "restart") {
        terminal.Restart();
      } else {
        throw std::invalid_argument("unknown fault");
      }
      return {{"ok", true}};
    }
    throw std::invalid_argument("unknown action");
  }

  void Routes() {
    for (const Asset& asset : Assets()) {
      server.Get(asset.path, [&asset](const httplib::Request&, httplib::Response& res) {
        res.set_content(reinterpret_cast<const char*>(asset.data), asset.size, asset.type);
        res.set_header("Cache-Control", "no-store");
      });
    }
    server.Get("/api/display", [this](const httplib::Request&, httplib::Response& res) {
      std::vector<Rgb> pixels;
      std::uint64_t version = 0;
      {
        auto lock = terminal.Lock();
        version = pad.DisplayVersion();
        pixels = pad.Pixels();
      }
      std::string body;
      body.reserve(pixels.size() * 3);
      for (const Rgb& p : pixels) {
        body.push_back(static_cast<char>(p.r));
        body.push_back(static_cast<char>(p.g));
        body.push_back(static_cast<char>(p.b));
      }
      res.set_header("X-Display-Version", std::to_string(version));
      res.set_header("Cache-Control", "no-store");
      res.set_content(body, "application/octet-stream");
    });
    server.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
      if (streams.fetch_add(1) >= kMaxStreams) {
        streams.fetch_sub(1);
        res.status = 503;
        res.set_content("too many pages\n", "text/plain");
        return;
      }
      auto cursor = std::make_shared<Hub::Cursor>();
      res.set_header("Cache-Control", "no-store");
      res.set_chunked_content_provider(
          "text/event-stream",
          [this, cursor](std::size_t, httplib::DataSink& sink) {
            const auto text = hub.Next(*cursor, kHeartbeat);
            if (!text) return false;
            const std::string out = text->empty() ? std::string(": idle\n\n") : *text;
            return sink.write(out.data(), out.size());
          },
          [this](bool) { streams.fetch_sub(1); });
    });
    server.Post(R"(/api/(\w+))", [this](const httplib::Request& req, httplib::Response& res) {
      json reply;
      try {
        const json body = json::parse(req.body);
        reply = Act(req.matches[1].str(), body);
      } catch (const std::exception& e) {
        res.status = 400;
        reply = {{"ok", false}, {"why", e.what()}};
      }
      res.set_content(reply.dump(), "application/json");
    });
  }
};

WebView::WebView(Terminal& terminal, const WebAddress& address, std::string link)
    : impl_(std::make_unique<Impl>(terminal, std::move(link))) {
  Impl& m = *impl_;
  m.pinPad.SetKeyedEntries(true);
  m.reader.SetKeyedManualEntry(true);
  m.server.new_task_queue = [] { return new httplib::ThreadPool(kMaxStreams + 4); };
  m.server.set_payload_max_length(1 << 20);
  m.server.set_write_timeout(2, 0);
  m.Routes();
  m.host = address.host;
  m.port = address.port == 0
               ? m.server.bind_to_any_port(address.host)
               : (m.server.bind_to_port(address.host, address.port) ? address.port : -1);
  if (m.port <= 0) {
    throw std::runtime_error("cannot listen on " + address.host + ":" +
                             std::to_string(address.port));
  }
  m.listener = terminal.AddTrafficListener(
      [&m](const ReceivedFrame& f) {
        json entry = m.log.Frame(f);
        entry["t"] = m.Ms(f.at);
        m.hub.AddFrame(entry.dump());
      },
      [&m](const SentMessage& s) {
        json entry = m.log.Sent(s);
        entry["t"] = m.Ms(s.at);
        m.hub.AddFrame(entry.dump());
      });
  m.serverThread = std::thread([&m] { m.server.listen_after_bind(); });
  m.poller = std::thread([&m] { m.Poll(); });
}

WebView::~WebView() {
  Impl& m = *impl_;
  m.terminal.RemoveTrafficListener(m.listener);
  {
    std::lock_guard lock(m.stopMutex);
    m.stopping = true;
  }
  m.stopCv.notify_all();
  m.hub.Stop();
  m.server.stop();
  if (m.serverThread.joinable()) m.serverThread.join();
  if (m.poller.joinable()) m.poller.join();
  m.pinPad.SetKeyedEntries(false);
  m.reader.SetKeyedManualEntry(false);
}

int WebView::Port() const {
  return impl_->port;
}

std::string WebView::Url() const {
  const std::string& h = impl_->host;
  const std::string shown = h == "0.0.0.0" ? "127.0.0.1" : h == "::" ? "[::1]" : h;
  const bool v6 = shown.find(':') != std::string::npos && shown.front() != '[';
  return "http://" + (v6 ? "[" + shown + "]" : shown) + ":" + std::to_string(impl_->port) + "/";
}

}  // namespace vterm
