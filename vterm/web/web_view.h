// vterm::WebView: the terminal in a browser. One page (built into the program) shows the
// display live, takes signatures with a mouse, a touch screen or a pen, has the PIN pad's
// keys, the card slot, the manual-entry answer, the misbehaviour switches, the terminal's
// state and the frame log.
//
// Threads. The HTTP server runs on threads of its own; it never holds the terminal's lock
// while it touches a socket: what a page needs is copied under the lock, then sent. Frames
// and messages reach the page through a traffic listener that only appends to a bounded
// queue; a poller copies the state and the display version every kPollMs. A slow page falls
// behind and is told to start over; a closed one is dropped at its next write. Nothing the
// browser does can make the terminal wait.
//
// With the view on, PIN-pad and manual entries that no test scripted wait for the person at
// the page (PinPadModule::SetKeyedEntries, CardReaderModule::SetKeyedManualEntry).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "vterm/terminal.h"

namespace vterm {

struct WebAddress {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: any free port
};

// "PORT" (loopback) or "ADDR:PORT"; nullopt when it is neither.
std::optional<WebAddress> ParseWebAddress(std::string_view text);

class WebView {
 public:
  static constexpr int kPollMs = 25;

  // Serves `terminal` at `address` (throws std::runtime_error when it cannot listen).
  // `link` names the transport on the page ("serial /dev/pts/3", "HID").
  WebView(Terminal& terminal, const WebAddress& address, std::string link);
  ~WebView();
  WebView(const WebView&) = delete;
  WebView& operator=(const WebView&) = delete;

  int Port() const;
  std::string Url() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vterm
