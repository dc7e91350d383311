// The browser view's HTTP side without a browser: the page's files, the actions, the live
// stream, and a page that stops reading, which must not hold the terminal up.
#include "vterm/web/web_view.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "vterm/card_reader.h"
#include "vterm/modules.h"
#include "vterm/pin_pad.h"
#include "vterm/signpad.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

TEST(WebAddress, Parses) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    int port;
  };
  const std::vector<Case> cases = {
      {"8080", true, "127.0.0.1", 8080},
      {"0", true, "127.0.0.1", 0},
      {"0.0.0.0:80", true, "0.0.0.0", 80},
      {"[::1]:9000", true, "::1", 9000},
      {"localhost:1", true, "localhost", 1},
      {":80", false, "", 0},
      {"host:", false, "", 0},
      {"65536", false, "", 0},
      {"-1", false, "", 0},
      {"80x", false, "", 0},
      {"", false, "", 0},
  };
  for (const Case& c : cases) {
    const auto a = vterm::ParseWebAddress(c.text);
    ASSERT_EQ(a.has_value(), c.ok) << c.text;
    if (!a) continue;
    EXPECT_EQ(a->host, c.host) << c.text;
    EXPECT_EQ(a->port, c.port) << c.text;
  }
}

class WebViewHttp : public ::testing::Test {
 protected:
  WebViewHttp() { vterm::InstallAllModules(terminal); }
  void SetUp() override {
    view = std::make_unique<vterm::WebView>(terminal, vterm::WebAddress{}, "test");
    client = std::make_unique<httplib::Client>("127.0.0.1", view->Port());
    client->set_read_timeout(5, 0);
  }
  json Post(const std::string& action, const std::string& body, int status = 200) {
    const auto r = client->Post(("/api/" + action).c_str(), body, "application/json");
    EXPECT_TRUE(r);
    if (!r) return json();
    EXPECT_EQ(r->status, status) << action << " " << body;
    return json::parse(r->body, nullptr, false);
  }

  vterm::Terminal terminal;
  std::unique_ptr<vterm::WebView> view;
  std::unique_ptr<httplib::Client> client;
};

TEST_F(WebViewHttp, ServesThePageFromTheProgram) {
  struct Case {
    const char* path;
    int status;
    const char* type;
    const char* contains;
  };
  const std::vector<Case> cases = {
      {"/", 200, "text/html", "/app.js"},
      {"/app.js", 200, "text/javascript", "EventSource"},
      {"/style.css", 200, "text/css", "canvas"},
      {"/nothing", 404, "", ""},
  };
  for (const Case& c : cases) {
    const auto r = client->Get(c.path);
    ASSERT_TRUE(r) << c.path;
    EXPECT_EQ(r->status, c.status) << c.path;
    if (c.status != 200) continue;
    EXPECT_EQ(r->get_header_value("Content-Type").rfind(c.type, 0), 0u) << c.path;
    EXPECT_NE(r->body.find(c.contains), std::string::npos) << c.path;
    // Nothing from elsewhere: the page works without a network.
    EXPECT_EQ(r->body.find("http://"), std::string::npos) << c.path;
    EXPECT_EQ(r->body.find("https://"), std::string::npos) << c.path;
  }
  EXPECT_NE(view->Url().find("http://127.0.0.1:"), std::string::npos);
}

TEST_F(WebViewHttp, DisplayIsTheFramebuffer) {
  auto& pad = terminal.Get<vterm::SignpadModule>();
  pad.Fill({1, 2, 3});
  const auto r = client->Get("/api/display");
  ASSERT_TRUE(r);
  ASSERT_EQ(r->body.size(), 320u * 240 * 3);
  EXPECT_EQ(r->get_header_value("X-Display-Version"), std::to_string(pad.DisplayVersion()));
  const auto pixels = pad.Pixels();
  std::size_t differing = 0;
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    differing += static_cast<std::uint8_t>(r->body[3 * i]) != pixels[i].r ||
                 static_cast<std::uint8_t>(r->body[3 * i + 1]) != pixels[i].g ||
                 static_cast<std::uint8_t>(r->body[3 * i + 2]) != pixels[i].b;
  }
  EXPECT_EQ(differing, 0u);
}

TEST_F(WebViewHttp, Actions) {
  auto& reader = terminal.Get<vterm::CardReaderModule>();
  // A function key with no entry waiting goes to the key buffer.
  EXPECT_EQ(Post("key", R"({"key":"E"})")["ok"], true);
  EXPECT_EQ(reader.Pending(), 1u);
  // Digits and Clear mean nothing without an entry.
  EXPECT_EQ(Post("key", R"({"key":"5"})")["ok"], false);
  EXPECT_EQ(Post("swipe", R"({"tracks":[";123=45?",""]})")["ok"], true);
  EXPECT_EQ(Post("swipe", R"({"bad":true})")["ok"], true);
  EXPECT_EQ(reader.Pending(), 3u);
  // Strokes only while a capture runs.
  EXPECT_EQ(Post("pen", R"({"strokes":[[[1,2],[3,4]]]})")["ok"], false);
  EXPECT_EQ(terminal.Get<vterm::SignpadModule>().PendingPackets(), 0u);
  EXPECT_EQ(Post("manual", R"({"action":"answer","data":"1"})")["ok"], false);

  EXPECT_EQ(Post("misbehave", R"({"fault":"refuse","count":2,"status":232})")["ok"], true);
  EXPECT_EQ(terminal.MisbehaviourLeft(), 2);
  EXPECT_EQ(Post("misbehave", R"({"fault":"normal"})")["ok"], true);
  EXPECT_EQ(terminal.MisbehaviourLeft(), 0);
  EXPECT_EQ(Post("misbehave", R"({"fault":"restart"})")["ok"], true);
  EXPECT_EQ(terminal.RestartCount(), 1);

  // Refused requests change nothing.
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"key", "not json"},
      {"key", R"({"key":"12"})"},
      {"pen", R"({"strokes":[[[1,2000]]]})"},
      {"pen", R"({"strokes":[]})"},
      {"swipe", R"({"tracks":[]})"},
      {"misbehave", R"({"fault":"late","ms":-5})"},
      {"misbehave", R"({"fault":"explode"})"},
      {"nothing", "{}"},
  };
  for (const auto& [action, body] : bad) {
    EXPECT_EQ(Post(action, body, 400)["ok"], false) << action << " " << body;
  }
  EXPECT_EQ(terminal.MisbehaviourLeft(), 0);
}

// A raw connection to the event stream, read or left alone as a test wishes.
class Stream {
 public:
  explicit Stream(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // A small receive buffer fills quickly when nobody reads.
    const int small = 4096;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const std::string request = "GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n";
    EXPECT_EQ(::send(fd_, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
  }
  ~Stream() { ::close(fd_); }
  // Reads until `text` arrived or `timeout` passed.
  bool ReadUntil(const std::string& text, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (received_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      received_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }

 private:
  int fd_ = -1;
  std::string received_;
};

TEST_F(WebViewHttp, StreamCarriesStateDisplayAndFrames) {
  Stream stream(view->Port());
  EXPECT_TRUE(stream.ReadUntil("event: state", 2s));
  EXPECT_TRUE(stream.ReadUntil("event: display", 2s));
  terminal.Push(vterm::Bytes{0x7A, 0x05, 0x00, 0x00});
  EXPECT_TRUE(stream.ReadUntil("\"data\":\"7A 05 00 00\"", 2s));
  const auto before = terminal.Get<vterm::SignpadModule>().DisplayVersion();
  terminal.Get<vterm::SignpadModule>().Fill({9, 9, 9});
  EXPECT_TRUE(stream.ReadUntil("{\"version\":" + std::to_string(before + 1) + "}", 2s));
}

// Pages that never read their stream: the terminal goes on sending at full speed, and a
// page that connects later still gets the news.
TEST_F(WebViewHttp, StalledPagesDoNotHoldTheTerminal) {
  std::vector<std::unique_ptr<Stream>> stalled;
  for (int i = 0; i < 3; ++i) stalled.push_back(std::make_unique<Stream>(view->Port()));
  std::this_thread::sleep_for(100ms);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5000; ++i) terminal.Push(vterm::Bytes{0x7A, 0x01, 0x00, 0x00});
  // Blocking on a page would stall here for the socket's write time-out at least; this is
  // a bound for a loaded machine, not a speed goal.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  Stream fresh(view->Port());
  terminal.Push(vterm::Bytes{0x7A, 0x02, 0x00, 0x00});
  EXPECT_TRUE(fresh.ReadUntil("\"data\":\"7A 02 00 00\"", 3s));
}

}  // namespace
