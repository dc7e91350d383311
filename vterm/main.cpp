// vantorel-vterm: the whole virtual terminal (device, signature pad, card reader, PIN pad)
// on a pseudo-terminal. Prints the device path on the first line of standard output, then
// takes console commands on standard input.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>

#include "vterm/console.h"
#include "vterm/device.h"
#include "vterm/modules.h"
#include "vterm/pty_front_end.h"
#include "vterm/terminal.h"

namespace {

struct Options {
  std::string link;
  std::string serial;
  bool noStdin = false;
};

void AddOptions(CLI::App& app, Options& o) {
  app.add_option("--link", o.link, "Also make this symbolic link to the device");
  app.add_option("--serial", o.serial, "Serial number to start with (8 characters)")
      ->check([](const std::string& s) {
        return s.size() == 8 ? std::string() : std::string("must be 8 characters");
      });
  app.add_flag("--no-stdin", o.noStdin, "Ignore standard input; run until SIGINT/SIGTERM");
}

int Run(const Options& o) {
  vterm::Terminal terminal;
  vterm::InstallAllModules(terminal);
  if (!o.serial.empty()) terminal.Device().SetSerialNumber(o.serial);
  vterm::PtyFrontEnd pty(terminal);
  if (!o.link.empty()) {
    std::error_code ec;
    std::filesystem::remove(o.link, ec);
    std::filesystem::create_symlink(pty.Path(), o.link, ec);
    if (ec) {
      std::cerr << "vantorel-vterm: cannot create " << o.link << ": " << ec.message() << "\n";
      return 1;
    }
  }
  std::cout << pty.Path() << std::endl;
  vterm::Console console(terminal);
  const int rc = vterm::RunConsole(console, !o.noStdin);
  if (!o.link.empty()) {
    std::error_code ec;
    std::filesystem::remove(o.link, ec);
  }
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Virtual payment terminal: every device family, on a pseudo-terminal"};
  Options options;
  AddOptions(app, options);
  CLI11_PARSE(app, argc, argv);
  try {
    return Run(options);
  } catch (const std::exception& e) {
    std::cerr << "vantorel-vterm: " << e.what() << "\n";
    return 1;
  }
}
