// vantorel: bring-up tool for the terminal, over a serial port or USB HID.
//
// Exit status: 0 success, 1 a failure (one line on standard error naming the cause), 2 a
// usage error.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/cli/cli.h"

namespace {

// The library reads VANTOREL_TRACE once, when it is loaded: --trace sets it and starts the
// program again, so the trace covers the whole run.
void ApplyTraceFlag(int argc, char** argv) {
  bool wanted = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) break;
    if (std::strcmp(argv[i], "--trace") == 0) wanted = true;
  }
  if (!wanted) return;
  const char* current = std::getenv("VANTOREL_TRACE");
  if (current != nullptr && *current != '\0') return;  // set already (by us, or by the user)
  ::setenv("VANTOREL_TRACE", "stderr", 1);
  ::execv("/proc/self/exe", argv);
  std::fprintf(stderr, "vantorel: cannot restart with tracing on: %s\n", std::strerror(errno));
  std::exit(1);
}

// The line for a command line without a known command: the word given in its place (the
// first that is neither an option nor an option's value) and the commands there are.
std::string CommandMissing(const CLI::App& app, int argc, char** argv) {
  std::string given;
  for (int i = 1; i < argc && given.empty(); ++i) {
    const std::string word = argv[i];
    if (word.rfind("-", 0) != 0) {
      given = word;
    } else if (word.find('=') == std::string::npos) {
      for (const char* withValue : {"--port", "--baud", "--line", "--vid", "--pid"}) {
        if (word == withValue) ++i;
      }
    }
  }
  std::string names;
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
    names += (names.empty() ? "" : ", ") + sub->get_name();
  }
  return (given.empty() ? "no command given" : "unknown command " + given) + "; the commands are " +
         names;
}

}  // namespace

int main(int argc, char** argv) {
  ApplyTraceFlag(argc, argv);

  CLI::App app{"Bring-up tool for the payment terminal (serial or USB HID)", "vantorel"};
  app.require_subcommand(1);
  app.fallthrough();
  cli::Target target;
  bool trace = false;
  app.add_flag("--trace", trace,
               "Trace every frame, OS error and return code to standard error "
               "(same as VANTOREL_TRACE=stderr; VANTOREL_TRACE=/path/file writes to a file)");
  app.add_option("--port", target.port,
                 "Serial port: COM3 (= /dev/ttyS2) or a path such as /dev/ttyUSB0");
  app.add_option("--baud", target.baud, "Baud rate (default 9600)");
  app.add_option("--line", target.line, "Data bits, parity, stop bits (default 8N1)");
  app.add_flag("--hid", target.hid, "Use the USB HID terminal instead of a serial port");
  app.add_option("--vid", target.vendorId, "USB vendor id for --hid (default 0x0ACD)");
  app.add_option("--pid", target.productId, "USB product id for --hid (default 0x3910)");

  std::string devRoot = "/dev";
  std::string sysRoot = "/sys";
  auto* list = app.add_subcommand(
      "list", "Serial ports and hidraw nodes, and whether this user may open them");
  list->add_option("--dev-root", devRoot)->group("");
  list->add_option("--sys-root", sysRoot)->group("");

  app.add_subcommand("info", "Versions, model, serial numbers, secure-head firmware and KSN");
  app.add_subcommand("screen", "Draw a test screen on the display");

  int format = 1;
  std::string out;
  double signTimeout = 60;
  auto* sign = app.add_subcommand("sign", "Capture a signature until the pad's OK or a time-out");
  sign->add_option("--format", format, "Point format 1, 2 or 4 (default 1)");
  sign->add_option("--out", out, "Write the signature here (.svg or .png)")->required();
  sign->add_option("--timeout", signTimeout, "Seconds to wait (default 60)");

  double cardTimeout = 60;
  auto* card = app.add_subcommand(
      "card", "Secure reading: wait for a swipe, print it with the account number masked");
  card->add_option("--timeout", cardTimeout, "Seconds to wait (default 60)");

  bool clear = false;
  bool invalidate = false;
  double keyWait = 0;
  auto* keys =
      app.add_subcommand("keys", "The PIN pad's last function key (CANCEL, BACKSPACE, ENTER)");
  keys->add_flag("--clear", clear, "Clear the key buffer first");
  keys->add_flag("--invalidate", invalidate, "Invalidate the key first");
  keys->add_option("--wait", keyWait, "Wait up to this many seconds for a key");

  int rounds = 3;
  int gap = 0;
  auto* bench = app.add_subcommand(
      "bench", "Time harmless queries under the standard and the prompt timing, compare answers");
  bench->add_option("--rounds", rounds, "Rounds of three queries per profile (default 3)");
  bench->add_option("--gap", gap, "Minimum gap between commands under prompt, ms (default 0)");

  auto* settings = app.add_subcommand("settings", "The card reader's settings by name");
  settings->require_subcommand(1);
  settings->add_subcommand("list", "Names, the exports behind them and the value forms");
  std::string name;
  std::string value;
  auto* get = settings->add_subcommand("get", "Read one setting");
  get->add_option("NAME", name, "Setting name")->required();
  auto* set = settings->add_subcommand("set", "Write one setting");
  set->add_option("NAME", name, "Setting name")->required();
  set->add_option("VALUE", value, "Value")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    if (app.get_subcommands().empty()) {
      std::fprintf(stderr, "vantorel: %s (see vantorel --help)\n",
                   CommandMissing(app, argc, argv).c_str());
    } else {
      std::fprintf(stderr, "vantorel: %s (see vantorel --help)\n", e.what());
    }
    return 2;
  }

  try {
    if (*list) return cli::ListDevices(devRoot, sysRoot);
    if (app.got_subcommand("info")) return cli::Info(target);
    if (app.got_subcommand("screen")) return cli::Screen(target);
    if (*sign) return cli::Sign(target, format, out, signTimeout);
    if (*card) return cli::Card(target, cardTimeout);
    if (*keys) return cli::Keys(target, clear, invalidate, keyWait);
    if (*bench) return cli::Bench(target, rounds, gap);
    if (*get) return cli::SettingsGet(target, name);
    if (*set) return cli::SettingsSet(target, name, value);
    return cli::SettingsList();
  } catch (const cli::UsageError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "vantorel: %s (see vantorel --help)\n", e.what());
    return 2;
  } catch (const cli::Failure& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "vantorel: %s\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "vantorel: %s\n", e.what());
    return 1;
  }
}
