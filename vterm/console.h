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
  // What running a line gave: the text to print and whether it failed (unknown command,
  // bad arguments, a wait that ran out, an interrupted wait or sleep).
  struct Outcome {
    std::string text;
    bool failed = false;
  };
  // Runs one line. Blank lines and lines starting with '#' do nothing. Safe from several
  // threads at once (a script, standard input, a browser view): the commands only touch
  // the terminal, which has its own lock.
  Outcome Run(std::string_view line);
  // Run for one caller at a time: returns the text ("error: ..." for a failure) and keeps
  // whether it failed for Failed().
  std::string Execute(std::string_view line);
  bool Failed() const { return failed_; }
  bool QuitRequested() const { return quit_.load(); }
  // Ends a running wait or sleep early (as failed); safe from a signal handler. Later
  // waits and sleeps end at once too.
  void Interrupt() { interrupted_.store(true); }
  bool Interrupted() const { return interrupted_.load(); }
  Terminal& terminal() const { return terminal_; }
  // The command names, and the names `wait` knows for the application's commands.
  std::vector<std::string> Names() const;
  static std::vector<std::string> WaitNames();

 private:
  struct Entry {
    std::string usage;
    std::string meaning;
    Action action;
  };
  void AddTerminalCommands();
  void AddFamilyCommands();
  std::string Wait(const std::vector<std::string>& args);
  void AdvanceWaitCursor(std::uint64_t seq);
  // Sleeps up to `ms`, in slices, so Interrupt ends it; false when interrupted.
  bool Pause(int ms) const;

  Terminal& terminal_;
  std::map<std::string, Entry, std::less<>> commands_;
  std::atomic<std::uint64_t> waitCursor_{0};  // the frame the last wait matched
  std::atomic<bool> quit_{false};
  bool failed_ = false;
  static_assert(std::atomic<bool>::is_always_lock_free);
  std::atomic<bool> interrupted_{false};
};

// Runs the lines of a script in order, printing their output to `out`. Stops at the first
// line that fails, with "<name>:<line>: <the error>" on `err`, and returns 1; returns 0
// when every line ran, a line said quit, or the console was interrupted.
int RunScript(Console& console, const std::string& name, const std::vector<std::string>& lines,
              std::ostream& out, std::ostream& err);

// Runs the console until "quit", SIGINT/SIGTERM, or the end of standard input when there
// is no script: the script's lines on a thread of their own (a failing script ends the
// program with 1) and, at the same time, standard input (when `readStdin`). Replies go to
// standard output, script failures to standard error.
int RunConsole(Console& console, bool readStdin, const std::string& scriptName = {},
               const std::vector<std::string>& script = {});

}  // namespace vterm
