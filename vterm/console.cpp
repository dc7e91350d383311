#include "vterm/console.h"

#include <algorithm>
#include <charconv>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "vterm/console_words.h"
#include "vterm/device.h"

namespace vterm {

namespace {

using std::chrono::milliseconds;

const char* ErrorName(FrameError e) {
  switch (e) {
    case FrameError::kNone:
      return "ok";
    case FrameError::kBadEtx:
      return "bad-etx";
    case FrameError::kBadXor:
      return "bad-xor";
    case FrameError::kBadSum:
      return "bad-sum";
    case FrameError::kIncomplete:
      return "incomplete";
  }
  return "?";
}

// A command the terminal may wait for: its class, function, sub-command (any when absent)
// and the first parameter bytes.
struct CommandPattern {
  std::uint8_t cls = 0;
  std::uint8_t fn = 0;
  std::optional<std::uint8_t> sub;
  Bytes params;

  bool Matches(const Command& c) const {
    if (!c.HasHeader() || c.Class() != cls || c.Function() != fn) return false;
    if (sub && c.Sub() != *sub) return false;
    const auto p = c.Params();
    return p.size() >= params.size() && std::equal(params.begin(), params.end(), p.begin());
  }
};

struct NamedCommand {
  const char* name;
  CommandPattern pattern;
};

// The commands an application sends, by the names scripts wait for.
const std::vector<NamedCommand>& CommandNames() {
  static const std::vector<NamedCommand> names = {
      // Device.
      {"version", {0x78, 0x46, 0x01, {}}},
      {"serial", {0x78, 0x46, 0x02, {}}},
      {"set-serial", {0x78, 0x46, 0x03, {}}},
      {"model", {0x78, 0x46, 0x20, {}}},
      {"reset", {0x78, 0x46, 0x0A, {}}},
      {"led", {0x76, 0x46, 0x01, {}}},
      {"audio", {0x7B, 0x46, 0x01, {}}},
      {"tone", {0x7B, 0x46, 0x02, {}}},
      {"secure-on", {0x73, 0x46, 0xE1, {0x01, '1'}}},
      {"secure-off", {0x73, 0x46, 0xE1, {0x01, '0'}}},
      // Display and pictures.
      {"pen-colour", {0x8A, 0x46, 0x10, {}}},
      {"line", {0x8A, 0x46, 0x11, {}}},
      {"rectangle", {0x8A, 0x46, 0x12, {}}},
      {"arc", {0x8A, 0x46, 0x13, {}}},
      {"brush", {0x8A, 0x46, 0x20, {}}},
      {"fill-rectangle", {0x8A, 0x46, 0x22, {}}},
      {"fill-arc", {0x8A, 0x46, 0x23, {}}},
      {"font", {0x8A, 0x46, 0x40, {}}},
      {"text-colour", {0x8A, 0x46, 0x41, {}}},
      {"background-colour", {0x8A, 0x46, 0x42, {}}},
      {"background-mode", {0x8A, 0x46, 0x43, {}}},
      {"string", {0x8A, 0x46, 0x4F, {}}},
      {"string-in-rectangle", {0x8A, 0x46, 0x4E, {}}},
      {"backlight", {0x8A, 0x53, 0x80, {}}},
      {"backlight-read", {0x8A, 0x52, 0x80, {}}},
      {"get-picture", {0x8A, 0x46, 0x60, {}}},
      {"show-picture", {0x8A, 0x46, 0x61, {}}},
      {"store-picture", {0x8A, 0x46, 0x70, {}}},
      {"show-stored-picture", {0x8A, 0x46, 0x71, {}}},
      {"stored-pictures", {0x8A, 0x46, 0x72, {}}},
      {"clip-area", {0x7A, 0x46, 0x03, {}}},
      {"region", {0x7A, 0x46, 0x04, {}}},
      // Signature capture.
      {"calibrate", {0x7A, 0x46, 0x01, {}}},
      {"capture-start", {0x7A, 0x46, 0x10, {}}},
      {"capture-continue", {0x7A, 0x46, 0x11, {}}},
      {"capture-pause", {0x7A, 0x46, 0x12, {}}},
      {"point-count", {0x7A, 0x46, 0x17, {}}},
      {"capture-clear", {0x7A, 0x46, 0x19, {}}},
      {"capture-exit", {0x7A, 0x46, 0x1F, {}}},
      // Card reader.
      {"setting-read", {0x73, 0x52, std::nullopt, {}}},
      {"setting-write", {0x73, 0x53, std::nullopt, {}}},
      {"manual-entry", {0x75, 0x46, 0x40, {}}},
      // PIN pad.
      {"key-poll", {0x75, 0x46, 0x81, {}}},
      {"key-clear", {0x75, 0x46, 0x82, {}}},
      {"pin-entry", {0x75, 0x46, 0x07, {}}},
      {"numeric-entry", {0x75, 0x46, 0x22, {}}},
      {"amount-entry", {0x75, 0x46, 0x23, {}}},
      {"account-entry", {0x75, 0x46, 0x24, {}}},
      {"data-entry", {0x75, 0x46, 0x25, {}}},
      {"pin-cancel", {0x75, 0x46, 0x09, {}}},
      {"invalidate-keys", {0x75, 0x46, 0x84, {}}},
  };
  return names;
}

std::uint8_t HexByte(const std::string& s) {
  unsigned v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 16);
  if (s.empty() || s.size() > 2 || ec != std::errc() || p != s.data() + s.size()) {
    throw std::invalid_argument("not a hex byte: " + s);
  }
  return static_cast<std::uint8_t>(v);
}

// "any", a name from CommandNames, or class/function[/sub-command[/parameter bytes]] in hex.
std::optional<CommandPattern> ParsePattern(const std::string& text) {
  if (text == "any") return std::nullopt;
  for (const auto& n : CommandNames()) {
    if (text == n.name) return n.pattern;
  }
  if (text.find('/') == std::string::npos) {
    throw std::invalid_argument("unknown command name " + text +
                                " (a name from docs/vterm.md, or class/function/sub in hex)");
  }
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, '/');) parts.push_back(part);
  if (parts.size() < 2 || parts.size() > 4) {
    throw std::invalid_argument("expected class/function[/sub[/parameters]]: " + text);
  }
  CommandPattern p{HexByte(parts[0]), HexByte(parts[1]), std::nullopt, {}};
  if (parts.size() >= 3 && parts[2] != "*") p.sub = HexByte(parts[2]);
  if (parts.size() == 4) {
    auto bytes = ParseHex(parts[3]);
    if (!bytes) throw std::invalid_argument("not hex bytes: " + parts[3]);
    p.params = *bytes;
  }
  return p;
}

}  // namespace

Console::Console(Terminal& terminal) : terminal_(terminal) {
  AddTerminalCommands();
  AddFamilyCommands();
  Add("wait", "wait <command> [ms]",
      "wait for the next such command (name, cls/fn/sub or any); fail after ms (30000)",
      [this](const auto& a) { return Wait(a); });
  Add("sleep", "sleep <ms>", "do nothing for ms milliseconds", [this](const auto& a) {
    if (!Pause(static_cast<int>(words::Number(a, 0)))) throw std::runtime_error("interrupted");
    return std::string();
  });
  Add("echo", "echo <text>", "print the text (a script's progress)", [](const auto& a) {
    std::string out;
    for (const auto& w : a) out += (out.empty() ? "" : " ") + w;
    return out + "\n";
  });
  Add("help", "help", "this list", [this](const auto&) {
    std::size_t width = 0;
    for (const auto& [name, e] : commands_) width = std::max(width, e.usage.size());
    std::string out;
    for (const auto& [name, e] : commands_) {
      out += e.usage + std::string(width + 2 - e.usage.size(), ' ') + e.meaning + "\n";
    }
    return out;
  });
  Add("quit", "quit", "end the program", [this](const auto&) {
    quit_ = true;
    return std::string();
  });
}

void Console::AddTerminalCommands() {
  using words::HexArgs;
  using words::Number;
  Add("push", "push <hex>", "send these bytes to the host now", [this](const auto& a) {
    terminal_.Push(HexArgs(a, 0));
    return std::string();
  });
  Add("pushafter", "pushafter <ms> <hex>", "send these bytes after ms milliseconds",
      [this](const auto& a) {
        const int ms = static_cast<int>(Number(a, 0));
        terminal_.PushAfter(ms, HexArgs(a, 1));
        return std::string();
      });
  Add("frames", "frames", "the frames received: number, state, bytes", [this](const auto&) {
    std::string out;
    for (const auto& f : terminal_.Frames()) {
      out += std::to_string(f.seq) + " " + ErrorName(f.error) + (f.longLayout ? " long " : " ") +
             Hex(f.raw) + "\n";
    }
    return out;
  });
  Add("sent", "sent", "the messages sent: frame answered (0: unasked), bytes", [this](const auto&) {
    std::string out;
    for (const auto& s : terminal_.Sent()) {
      out += std::to_string(s.frameSeq) + " " + Hex(s.bytes) + "\n";
    }
    return out;
  });
  Add("clear", "clear", "forget frames and messages so far; waits start afresh",
      [this](const auto&) {
        if (auto last = terminal_.Frames(); !last.empty()) AdvanceWaitCursor(last.back().seq);
        terminal_.ClearFrames();
        terminal_.ClearSent();
        return std::string();
      });
  Add("refuse", "refuse <n> <status-hex>", "refuse the next n commands with a NAK and the status",
      [this](const auto& a) {
        terminal_.RefuseNext(static_cast<int>(Number(a, 0)), words::HexByteArg(a, 1));
        return std::string();
      });
  Add("silent", "silent <n>", "lose the next n commands: not carried out, no reply",
      [this](const auto& a) {
        terminal_.SilenceNext(static_cast<int>(Number(a, 0)));
        return std::string();
      });
  Add("late", "late <n> <ms>", "answer the next n commands ms milliseconds late",
      [this](const auto& a) {
        terminal_.DelayNext(static_cast<int>(Number(a, 0)), static_cast<int>(Number(a, 1)));
        return std::string();
      });
  Add("short", "short <n> <bytes>", "send only the first bytes of the next n replies",
      [this](const auto& a) {
        terminal_.TruncateNext(static_cast<int>(Number(a, 0)),
                               static_cast<std::size_t>(Number(a, 1)));
        return std::string();
      });
  Add("garbage", "garbage <n> <length>", "answer the next n commands with random bytes",
      [this](const auto& a) {
        terminal_.GarbleNext(static_cast<int>(Number(a, 0)),
                             static_cast<std::size_t>(Number(a, 1)));
        return std::string();
      });
  Add("delay", "delay <ms>", "take ms milliseconds to carry out every command (0: at once)",
      [this](const auto& a) {
        terminal_.SetProcessingDelay(static_cast<int>(Number(a, 0)));
        return std::string();
      });
  Add("normal", "normal", "stop misbehaving", [this](const auto&) {
    terminal_.BehaveNormally();
    return std::string();
  });
  Add("restart", "restart", "restart the terminal (it is away for a moment)", [this](const auto&) {
    terminal_.Restart();
    return std::string();
  });
  Add("restart-reply", "restart-reply ack [<ms>] | restart-reply silent",
      "answer the restart command with an ACK and restart <ms> later, or stay silent",
      [this](const auto& a) {
        if (a.empty() || (a[0] != "ack" && a[0] != "silent")) {
          throw std::invalid_argument("expected ack or silent");
        }
        const int ms = a.size() > 1 ? static_cast<int>(Number(a, 1)) : kRestartAfterAckMs;
        terminal_.Device().SetRestartReply(a[0] == "ack", ms);
        return std::string();
      });
}

void Console::Add(std::string name, std::string usage, std::string meaning, Action action) {
  commands_[std::move(name)] = Entry{std::move(usage), std::move(meaning), std::move(action)};
}

std::vector<std::string> Console::Names() const {
  std::vector<std::string> names;
  for (const auto& [name, e] : commands_) names.push_back(name);
  return names;
}

std::vector<std::string> Console::WaitNames() {
  std::vector<std::string> names;
  for (const auto& n : CommandNames()) names.emplace_back(n.name);
  return names;
}

Console::Outcome Console::Run(std::string_view line) {
  std::vector<std::string> args = words::Split(line);
  if (args.empty() || (!args[0].empty() && args[0].front() == '#')) return {};
  auto it = commands_.find(args[0]);
  if (it == commands_.end()) return {"error: unknown command " + args[0] + " (try help)\n", true};
  args.erase(args.begin());
  try {
    return {it->second.action(args), false};
  } catch (const std::invalid_argument& e) {
    return {std::string("error: ") + e.what() + " (usage: " + it->second.usage + ")\n", true};
  } catch (const std::exception& e) {
    return {std::string("error: ") + it->first + ": " + e.what() + "\n", true};
  }
}

std::string Console::Execute(std::string_view line) {
  Outcome o = Run(line);
  failed_ = o.failed;
  return std::move(o.text);
}

void Console::AdvanceWaitCursor(std::uint64_t seq) {
  // Only forward: a wait on one thread must not undo a clear on another.
  std::uint64_t cursor = waitCursor_.load();
  while (cursor < seq && !waitCursor_.compare_exchange_weak(cursor, seq)) {
  }
}

bool Console::Pause(int ms) const {
  const auto deadline = Clock::now() + milliseconds(ms);
  while (!Interrupted()) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return true;
    std::this_thread::sleep_for(std::min<Clock::duration>(left, milliseconds(50)));
  }
  return false;
}

std::string Console::Wait(const std::vector<std::string>& args) {
  if (args.empty()) throw std::invalid_argument("missing argument");
  const std::optional<CommandPattern> pattern = ParsePattern(args[0]);
  const int timeoutMs = args.size() > 1 ? static_cast<int>(words::Number(args, 1)) : kDefaultWaitMs;
  if (args.size() > 2) throw std::invalid_argument("too many arguments");
  const auto deadline = Clock::now() + milliseconds(timeoutMs);
  while (!Interrupted()) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    const auto frame = terminal_.NextFrame(waitCursor_.load(),
                                           std::clamp(left, milliseconds(0), milliseconds(50)));
    if (frame) {
      AdvanceWaitCursor(frame->seq);
      if (frame->valid() && (!pattern || pattern->Matches(frame->command))) return {};
      continue;
    }
    if (left <= milliseconds(0)) {
      throw std::runtime_error(args[0] + " did not come within " + std::to_string(timeoutMs) +
                               " ms");
    }
  }
  throw std::runtime_error("interrupted");
}

int RunScript(Console& console, const std::string& name, const std::vector<std::string>& lines,
              std::ostream& out, std::ostream& err) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    Console::Outcome o = console.Run(lines[i]);
    if (console.Interrupted()) return 0;
    if (o.failed) {
      if (o.text.rfind("error: ", 0) == 0) o.text.erase(0, 7);
      err << name << ":" << (i + 1) << ": " << o.text << std::flush;
      return 1;
    }
    out << o.text << std::flush;
    if (console.QuitRequested()) break;
  }
  return 0;
}

}  // namespace vterm
