#include "vterm/console.h"

#include <charconv>
#include <sstream>
#include <stdexcept>

#include "vterm/device.h"

namespace vterm {

namespace {

std::vector<std::string> Split(std::string_view line) {
  std::vector<std::string> words;
  std::istringstream in{std::string(line)};
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

long Number(const std::vector<std::string>& args, std::size_t i, int base = 10) {
  if (i >= args.size()) throw std::invalid_argument("missing argument");
  long v = 0;
  const std::string& s = args[i];
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (ec != std::errc() || p != s.data() + s.size() || v < 0) {
    throw std::invalid_argument("not a number: " + s);
  }
  return v;
}

Bytes HexArgs(const std::vector<std::string>& args, std::size_t from) {
  std::string joined;
  for (std::size_t i = from; i < args.size(); ++i) joined += args[i];
  auto bytes = ParseHex(joined);
  if (!bytes || bytes->empty()) throw std::invalid_argument("expected hex bytes");
  return *bytes;
}

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

}  // namespace

Console::Console(Terminal& terminal) : terminal_(terminal) {
  Add("push", "push <hex>", [this](const auto& a) {
    terminal_.Push(HexArgs(a, 0));
    return std::string();
  });
  Add("pushafter", "pushafter <ms> <hex>", [this](const auto& a) {
    const int ms = static_cast<int>(Number(a, 0));
    terminal_.PushAfter(ms, HexArgs(a, 1));
    return std::string();
  });
  Add("frames", "frames", [this](const auto&) {
    std::string out;
    for (const auto& f : terminal_.Frames()) {
      out += std::to_string(f.seq) + " " + ErrorName(f.error) + (f.longLayout ? " long " : " ") +
             Hex(f.raw) + "\n";
    }
    return out;
  });
  Add("sent", "sent", [this](const auto&) {
    std::string out;
    for (const auto& s : terminal_.Sent()) {
      out += std::to_string(s.frameSeq) + " " + Hex(s.bytes) + "\n";
    }
    return out;
  });
  Add("clear", "clear", [this](const auto&) {
    terminal_.ClearFrames();
    terminal_.ClearSent();
    return std::string();
  });
  Add("refuse", "refuse <n> <status-hex>", [this](const auto& a) {
    terminal_.RefuseNext(static_cast<int>(Number(a, 0)),
                         static_cast<std::uint8_t>(Number(a, 1, 16) & 0xFF));
    return std::string();
  });
  Add("silent", "silent <n>", [this](const auto& a) {
    terminal_.SilenceNext(static_cast<int>(Number(a, 0)));
    return std::string();
  });
  Add("late", "late <n> <ms>", [this](const auto& a) {
    terminal_.DelayNext(static_cast<int>(Number(a, 0)), static_cast<int>(Number(a, 1)));
    return std::string();
  });
  Add("short", "short <n> <bytes>", [this](const auto& a) {
    terminal_.TruncateNext(static_cast<int>(Number(a, 0)), static_cast<std::size_t>(Number(a, 1)));
    return std::string();
  });
  Add("garbage", "garbage <n> <length>", [this](const auto& a) {
    terminal_.GarbleNext(static_cast<int>(Number(a, 0)), static_cast<std::size_t>(Number(a, 1)));
    return std::string();
  });
  Add("normal", "normal", [this](const auto&) {
    terminal_.BehaveNormally();
    return std::string();
  });
  Add("restart", "restart", [this](const auto&) {
    terminal_.Restart();
    return std::string();
  });
  Add("restart-reply", "restart-reply ack [<ms>] | restart-reply silent", [this](const auto& a) {
    if (a.empty() || (a[0] != "ack" && a[0] != "silent")) {
      throw std::invalid_argument("expected ack or silent");
    }
    const int ms = a.size() > 1 ? static_cast<int>(Number(a, 1)) : kRestartAfterAckMs;
    terminal_.Device().SetRestartReply(a[0] == "ack", ms);
    return std::string();
  });
  Add("state", "state", [this](const auto&) {
    const DeviceModule& d = terminal_.Device();
    std::ostringstream out;
    out << "version " << d.Version() << "\nserial " << d.SerialNumber() << "\nmodel " << d.Model()
        << "\nled " << Hex(Bytes{d.Led()}) << "\naudio " << Hex(Bytes{d.Audio()})
        << "\nsecure-head " << (d.SecureHeadOn() ? "on" : "off") << "\nrestarts "
        << terminal_.RestartCount() << "\nrestart-reply "
        << (d.RestartAcknowledged() ? "ack" : "silent") << "\n";
    if (auto t = d.LastTone()) out << "tone " << t->frequency << " " << t->duration << "\n";
    return out.str();
  });
  Add("help", "help", [this](const auto&) {
    std::string out;
    for (const auto& [name, e] : commands_) out += e.usage + "\n";
    return out;
  });
  Add("quit", "quit", [this](const auto&) {
    quit_ = true;
    return std::string();
  });
}

void Console::Add(std::string name, std::string usage, Action action) {
  commands_[std::move(name)] = Entry{std::move(usage), std::move(action)};
}

std::string Console::Execute(std::string_view line) {
  std::vector<std::string> words = Split(line);
  if (words.empty()) return {};
  auto it = commands_.find(words[0]);
  if (it == commands_.end()) return "error: unknown command " + words[0] + " (try help)\n";
  words.erase(words.begin());
  try {
    return it->second.action(words);
  } catch (const std::exception& e) {
    return std::string("error: ") + e.what() + " (usage: " + it->second.usage + ")\n";
  }
}

}  // namespace vterm
