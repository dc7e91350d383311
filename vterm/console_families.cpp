// The console's commands for the device families: what a person or a script does at the
// terminal (writes with the pen, touches the pad, swipes a card, presses a PIN-pad key) and
// how the terminal answers the entries.
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "vterm/card_reader.h"
#include "vterm/console.h"
#include "vterm/console_words.h"
#include "vterm/device.h"
#include "vterm/pin_pad.h"
#include "vterm/pin_pad_keys.h"
#include "vterm/signpad.h"

namespace vterm {

namespace {

using words::Arg;
using words::HexArgs;
using words::HexByteArg;
using words::Number;

constexpr int kPadMax = 1023;

// Points "x,y" or "x y", strokes separated by "/": the words of `sign` or one line of a
// stroke file (where a line is a stroke of its own).
std::vector<Stroke> ParseStrokes(const std::vector<std::string>& args, std::size_t from) {
  std::string text;
  for (std::size_t i = from; i < args.size(); ++i) text += args[i] + " ";
  for (char& c : text) {
    if (c == ',') c = ' ';
  }
  std::vector<Stroke> strokes(1);
  std::vector<std::string> numbers;
  auto endStroke = [&] {
    if (numbers.size() % 2 != 0) throw std::invalid_argument("a point lacks its y");
    for (std::size_t i = 0; i < numbers.size(); i += 2) {
      const int x = Number(numbers, i);
      const int y = Number(numbers, i + 1);
      if (x > kPadMax || y > kPadMax) {
        throw std::invalid_argument("point outside the pad (0-1023): " + numbers[i] + "," +
                                    numbers[i + 1]);
      }
      strokes.back().push_back({x, y});
    }
    numbers.clear();
    if (!strokes.back().empty()) strokes.emplace_back();
  };
  for (const auto& w : words::Split(text)) {
    if (w == "/") {
      endStroke();
    } else {
      numbers.push_back(w);
    }
  }
  endStroke();
  strokes.pop_back();
  return strokes;
}

std::vector<Stroke> ReadStrokeFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<Stroke> strokes;
  int lineNo = 0;
  for (std::string line; std::getline(in, line);) {
    ++lineNo;
    const auto w = words::Split(line);
    if (w.empty() || (!w[0].empty() && w[0].front() == '#')) continue;
    try {
      for (auto& s : ParseStrokes(w, 0)) strokes.push_back(std::move(s));
    } catch (const std::invalid_argument& e) {
      throw std::runtime_error(path + ":" + std::to_string(lineNo) + ": " + e.what());
    }
  }
  if (strokes.empty()) throw std::runtime_error(path + " holds no points");
  return strokes;
}

char KeyLetter(const std::string& name) {
  if (name == "cancel") return 'C';
  if (name == "back") return 'B';
  if (name == "enter") return 'E';
  throw std::invalid_argument("not a key: " + name + " (cancel, back or enter)");
}

std::string OnOff(bool on) {
  return on ? "on" : "off";
}

// Takes a trailing delay in milliseconds off `args` when they hold more than `minWords`
// words; returns it, or `fallback` when there is none.
int TakeDelay(std::vector<std::string>& args, std::size_t minWords, int fallback) {
  if (args.size() > minWords) {
    const int ms = Number(args, args.size() - 1);
    args.pop_back();
    return ms;
  }
  return fallback;
}

}  // namespace

void Console::AddFamilyCommands() {
  // --- The signature pad -----------------------------------------------------------------
  Add("sign", "sign <x,y>... [/ <x,y>...]", "write strokes with the pen (0-1023; / lifts it)",
      [this](const auto& a) {
        auto strokes = ParseStrokes(a, 0);
        if (strokes.empty()) throw std::invalid_argument("no points");
        terminal_.Get<SignpadModule>().Write(std::move(strokes));
        return std::string();
      });
  Add("signfile", "signfile <file>", "write the strokes of a file with the pen (a stroke per line)",
      [this](const auto& a) {
        terminal_.Get<SignpadModule>().Write(ReadStrokeFile(Arg(a, 0)));
        return std::string();
      });
  Add("touch", "touch <region-id>", "touch a pad region (sent during a capture over USB HID)",
      [this](const auto& a) {
        const int id = Number(a, 0);
        if (id > 254) throw std::invalid_argument("region ids are 0-254");
        if (!terminal_.Get<SignpadModule>().TouchRegion(static_cast<std::uint8_t>(id))) {
          throw std::runtime_error("not sent: needs a capture over USB HID and that region");
        }
        return std::string();
      });
  Add("padkey", "padkey <cancel|back|enter>",
      "press a pad key (sent during a capture over USB HID)", [this](const auto& a) {
        if (!terminal_.Get<SignpadModule>().PressKey(KeyLetter(Arg(a, 0)))) {
          throw std::runtime_error("not sent: needs a capture over USB HID");
        }
        return std::string();
      });
  Add("png", "png <file>", "save the display as a PNG picture", [this](const auto& a) {
    if (!terminal_.Get<SignpadModule>().WritePng(Arg(a, 0))) {
      throw std::runtime_error("cannot write " + a[0]);
    }
    return std::string();
  });

  // --- The card reader -------------------------------------------------------------------
  Add("swipe", "swipe <track>...", "swipe a card with these tracks (plain text, up to 3)",
      [this](const auto& a) {
        if (a.empty() || a.size() > 3) throw std::invalid_argument("one to three tracks");
        std::vector<std::string_view> tracks(a.begin(), a.end());
        terminal_.Get<CardReaderModule>().Swipe(CardReaderModule::TrackText(tracks));
        return std::string();
      });
  Add("swiperecord", "swiperecord <hex>", "swipe a card read as a framed record of these bytes",
      [this](const auto& a) {
        terminal_.Get<CardReaderModule>().Swipe(CardReaderModule::EncryptedRecord(HexArgs(a, 0)));
        return std::string();
      });
  Add("badswipe", "badswipe", "swipe a card the head cannot read (error tracks only)",
      [this](const auto&) {
        terminal_.Get<CardReaderModule>().Swipe(CardReaderModule::TrackText({"%E?", ";E?"}));
        return std::string();
      });
  Add("manual", "manual <outcome>",
      "the next manual entry's end: default|card T|data H|ack|refuse S|refusecommand S|silent",
      [this](const auto& a) {
        const std::string& kind = Arg(a, 0);
        using K = ManualEntryOutcome::Kind;
        ManualEntryOutcome o;
        if (kind == "default") {
          o = ManualEntryOutcome::Of(K::kDefault);
        } else if (kind == "card") {
          const std::string text = words::Rest(a, 1);
          if (text.empty()) throw std::invalid_argument("missing card data");
          o = ManualEntryOutcome::Data(Bytes(text.begin(), text.end()));
        } else if (kind == "data") {
          o = ManualEntryOutcome::Data(HexArgs(a, 1));
        } else if (kind == "ack") {
          o = ManualEntryOutcome::Ack();
        } else if (kind == "refuse") {
          o = ManualEntryOutcome::Refuse(HexByteArg(a, 1));
        } else if (kind == "refusecommand") {
          o = ManualEntryOutcome::RefuseCommand(HexByteArg(a, 1));
        } else if (kind == "silent") {
          o = ManualEntryOutcome::Silent();
        } else {
          throw std::invalid_argument("unknown outcome " + kind);
        }
        terminal_.Get<CardReaderModule>().ScriptManualEntry(std::move(o));
        return std::string();
      });

  // --- The PIN pad -----------------------------------------------------------------------
  Add("pinkey", "pinkey <cancel|back|enter> [push]",
      "press a PIN-pad key: the next key poll's answer, or sent unasked", [this](const auto& a) {
        const auto key = static_cast<PadKey>(KeyLetter(Arg(a, 0)));
        Via via = Via::kKeyPoll;
        if (a.size() > 1) {
          if (a[1] != "push") throw std::invalid_argument("expected push: " + a[1]);
          via = Via::kUnsolicited;
        }
        terminal_.Get<CardReaderModule>().PressKey(key, via);
        return std::string();
      });
  Add("entry", "entry <answer> [ms]",
      "the next PIN-pad entry's end: default|digits D|account N|data H|refuse S|hold|forget",
      [this](const auto& a) {
        std::vector<std::string> args = a;
        const std::string kind = Arg(args, 0);
        PinPadModule& pad = terminal_.Get<PinPadModule>();
        if (kind == "forget") {
          pad.ClearScripts();
          return std::string();
        }
        EntryScript s;
        if (kind == "default" || kind == "hold") {
          s.delayMs = TakeDelay(args, 1, kDefaultEntryDelayMs);
          if (kind == "hold") s.kind = EntryScript::Kind::kHold;
        } else if (kind == "digits") {
          s.delayMs = TakeDelay(args, 2, kDefaultEntryDelayMs);
          const std::string& d = Arg(args, 1);
          if (d.find_first_not_of("0123456789") != std::string::npos) {
            throw std::invalid_argument("digits only: " + d);
          }
          s.data = PinPadModule::NumericAnswer(d);
        } else if (kind == "account") {
          s.delayMs = TakeDelay(args, 2, kDefaultEntryDelayMs);
          const std::string& n = Arg(args, 1);
          s.data = PinPadModule::TwoByteAnswer(Bytes(n.begin(), n.end()));
        } else if (kind == "data") {
          if (args.size() > 2) s.delayMs = TakeDelay(args, 2, kDefaultEntryDelayMs);
          s.data = HexArgs(args, 1);
        } else if (kind == "refuse") {
          s.delayMs = TakeDelay(args, 2, kDefaultEntryDelayMs);
          s.kind = EntryScript::Kind::kRefuse;
          s.status = HexByteArg(args, 1);
        } else {
          throw std::invalid_argument("unknown answer " + kind);
        }
        if (args.size() > (kind == "default" || kind == "hold" ? 1u : 2u)) {
          throw std::invalid_argument("too many arguments");
        }
        pad.ScriptNextEntry(std::move(s));
        return std::string();
      });
  Add("pubkey", "pubkey <file.pem|modulus-hex [exp]>",
      "the application's public key, for the numeric entry's prompt", [this](const auto& a) {
        const std::string& first = Arg(a, 0);
        Bytes modulus;
        Bytes exponent{0x01, 0x00, 0x01};
        if (first.size() > 4 && first.substr(first.size() - 4) == ".pem") {
          if (!ReadPublicKeyPem(first, modulus, exponent)) {
            throw std::runtime_error("no RSA public key in " + first);
          }
        } else {
          modulus = HexArgs({first}, 0);
          if (a.size() > 1) exponent = HexArgs(a, 1);
        }
        terminal_.Get<PinPadModule>().SetPublicKey(std::move(modulus), std::move(exponent));
        return std::string();
      });

  // --- What the terminal is doing ----------------------------------------------------------
  Add("state", "state", "the terminal's state, one 'name value' per line", [this](const auto&) {
    const DeviceModule& d = terminal_.Device();
    std::ostringstream out;
    out << "version " << d.Version() << "\nserial " << d.SerialNumber() << "\nmodel " << d.Model()
        << "\nled " << Hex(Bytes{d.Led()}) << "\naudio " << Hex(Bytes{d.Audio()})
        << "\nsecure-head " << OnOff(d.SecureHeadOn()) << "\nrestarts " << terminal_.RestartCount()
        << "\nrestart-reply " << (d.RestartAcknowledged() ? "ack" : "silent") << "\n";
    if (auto t = d.LastTone()) out << "tone " << t->frequency << " " << t->duration << "\n";
    try {
      const SignpadModule& pad = terminal_.Get<SignpadModule>();
      out << "backlight " << pad.Backlight() << "\ncapture " << OnOff(pad.Capturing())
          << "\npaused " << (pad.Paused() ? "yes" : "no") << "\ncapture-format " << pad.Format()
          << "\npoints " << pad.PointCount() << "\npen-queue " << pad.PendingPackets() << "\n";
    } catch (const std::logic_error&) {
    }
    try {
      const CardReaderModule& reader = terminal_.Get<CardReaderModule>();
      out << "key-polls " << reader.KeyPolls() << "\nreader-queue " << reader.Pending()
          << "\nmanual-entries " << reader.ManualEntryCount() << "\n";
    } catch (const std::logic_error&) {
    }
    try {
      const PinPadModule& pin = terminal_.Get<PinPadModule>();
      out << "entry " << (pin.EntryPending() ? "pending" : "none") << "\nentries "
          << pin.EntryCount() << "\nentry-cancels " << pin.CancelCount() << "\n";
    } catch (const std::logic_error&) {
    }
    return out.str();
  });
}

}  // namespace vterm
