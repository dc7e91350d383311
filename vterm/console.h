// vterm::Console: the line commands of the vantorel-vterm program, kept apart from the
// program so tests can drive them and device families can add their own (swipe a card,
// draw a pen stroke, press a key).
//
// Built in:
//   push <hex>              send an unsolicited message now
//   pushafter <ms> <hex>    send one after a delay
//   frames                  received frames, one per line: seq, state, hex
//   sent                    messages sent, one per line: seq of the frame answered, hex
//   clear                   forget frames and sent messages
//   refuse <n> <status-hex> | silent <n> | late <n> <ms> | short <n> <bytes> |
//   garbage <n> <length> | normal          misbehave for the next n commands / stop
//   restart                 restart the terminal
//   state                   the device state
//   help                    the command list
//   quit                    end the program
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "vterm/terminal.h"

namespace vterm {

class Console {
 public:
  // Gets the words after the command name; returns the text to print (may be empty).
  // Throws std::invalid_argument for bad arguments (printed as "error: ...").
  using Action = std::function<std::string(const std::vector<std::string>& args)>;

  explicit Console(Terminal& terminal);

  void Add(std::string name, std::string usage, Action action);
  // Runs one line; returns what to print ("error: ..." for a failure).
  std::string Execute(std::string_view line);
  bool QuitRequested() const { return quit_; }

 private:
  struct Entry {
    std::string usage;
    Action action;
  };
  Terminal& terminal_;
  std::map<std::string, Entry, std::less<>> commands_;
  bool quit_ = false;
};

// Runs the console on standard input (when `readStdin`) until "quit", end of input or
// SIGINT/SIGTERM; replies go to standard output.
int RunConsole(Console& console, bool readStdin);

}  // namespace vterm
