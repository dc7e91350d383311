// The Windows suite's view of the virtual terminal. The terminal runs on the Linux side
// (vantorel-vterm on a pseudo-terminal that the wine prefix maps to COM3); its console
// is reached through two files the harness sets up: lines appended to the command file
// are fed to the console, whose replies the harness collects in the reply file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wintest {

using Bytes = std::vector<std::uint8_t>;

// The COM port the harness maps to the terminal's pseudo-terminal.
inline constexpr int kPort = 3;

struct Frame {
  bool valid = false;  // checked STX, length, XOR, sum and ETX
  Bytes raw;
};

class VtermConsole {
 public:
  // The two file paths come from VANTOREL_VTERM_COMMANDS and VANTOREL_VTERM_REPLIES.
  static VtermConsole& Instance();
  bool Available() const { return !commandsPath_.empty() && !repliesPath_.empty(); }

  // Runs one console line and returns what the console printed for it. Fails the current
  // test (and returns "") when the terminal does not answer within a few seconds.
  std::string Execute(const std::string& line);

  // Frames received since the last Clear, and the content bytes of the valid ones.
  std::vector<Frame> Frames();
  std::vector<Bytes> Commands();
  // Forgets frames and sent messages, and ends any misbehaviour still armed.
  void Clear();
  // A value from the "state" command ("version", "serial", ...).
  std::string State(const std::string& key);
  // Waits until `count` commands starting with `prefix` were received since the last
  // Clear; false after `timeoutMs`.
  bool WaitForCommands(const Bytes& prefix, std::size_t count, int timeoutMs = 10000);

 private:
  VtermConsole();
  std::string commandsPath_;
  std::string repliesPath_;
  unsigned marker_ = 0;
};

// Parses "02 03 00 ..." into bytes.
Bytes ParseHex(const std::string& text);
// Builds the short frame a command's content bytes travel in.
Bytes Framed(const Bytes& content);

}  // namespace wintest
