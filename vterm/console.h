// vterm::Console: the line commands of the vantorel-vterm program, kept apart from the
// program so tests and scripts can drive them. docs/vterm.md describes the language; `help`
// prints one line per command.
//
// Every device family has its commands: the pen (sign, signfile), the pad's regions and keys
// (touch, padkey), the card slot (swipe, swiperecord, badswipe), the PIN pad (pinkey, entry,
// pubkey), manual entry (manual); next to the terminal's own (push, frames, state, the
// misbehaviour switches, restart) and the script helpers (wait, sleep, echo).
//
// A command that fails prints one line "error: ..."; Failed() tells a script so.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "vterm/terminal.h"

namespace vterm {

class Console {
 public:
  // Gets the words after the command name; returns the text to print (may be empty).
  // Throws std::invalid_argument for bad arguments (printed as "error: ... (usage: ...)")
  // and std::runtime_error for a failure that is not the arguments' fault.
  using Action = std::function<std::string(const std::vector<std::string>& args)>;

  // How long `wait` waits when no time-out is given.
  static constexpr int kDefaultWaitMs = 30000;

  explicit Console(Terminal& terminal);

  // `usage` is the command with its arguments; `meaning` one line on what it does.
  void Add(std::string name, std::string usage, std::string meaning, Action action);
  void Add(std::string name, std::string usage, Action action) {
    Add(std::move(name), std::move(usage), std::string(), std::move(action));
  }
  // Runs one line; returns what to print ("error: ..." for a failure). Blank lines and
  // lines starting with '#' do nothing.
  std::string Execute(std::string_view line);
  // Whether the last Execute failed (unknown command, bad arguments, a wait that ran out).
  bool Failed() const { return failed_; }
  bool QuitRequested() const { return quit_; }
  // Ends a running wait or sleep early (as failed); safe from a signal handler. Later
  // waits and sleeps end at once too.
  void Interrupt() { interrupted_.store(true); }
  bool Interrupted() const { return interrupted_.load(); }
  Terminal& terminal() const { return terminal_; }

 private:
  struct Entry {
    std::string usage;
    std::string meaning;
    Action action;
  };
  void AddTerminalCommands();
  void AddFamilyCommands();
  std::string Wait(const std::vector<std::string>& args);
  // Sleeps up to `ms`, in slices, so Interrupt ends it; false when interrupted.
  bool Pause(int ms) const;

  Terminal& terminal_;
  std::map<std::string, Entry, std::less<>> commands_;
  std::uint64_t waitCursor_ = 0;  // the frame the last wait matched
  bool quit_ = false;
  bool failed_ = false;
  static_assert(std::atomic<bool>::is_always_lock_free);
  std::atomic<bool> interrupted_{false};
};

// Runs the lines of a script in order, printing their output to `out`. Stops at the first
// line that fails, with "<name>:<line>: <the error>" on `err`, and returns 1; returns 0
// when every line ran (or a line said quit).
int RunScript(Console& console, const std::string& name, const std::vector<std::string>& lines,
              std::ostream& out, std::ostream& err);

// Runs the console: first the script lines (when any; a failing script ends the program
// with 1), then standard input (when `readStdin`) until "quit", end of input or
// SIGINT/SIGTERM; replies go to standard output. Without standard input it runs until
// "quit" in the script or a signal.
int RunConsole(Console& console, bool readStdin, const std::string& scriptName = {},
               const std::vector<std::string>& script = {});

}  // namespace vterm
