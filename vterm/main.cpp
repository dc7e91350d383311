// vantorel-vterm: the virtual terminal on a pseudo-terminal. Prints the device path on
// the first line of standard output, then takes console commands on standard input.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "vterm/console.h"
#include "vterm/device.h"
#include "vterm/pty_front_end.h"
#include "vterm/terminal.h"

int main(int argc, char** argv) {
  CLI::App app{"Virtual payment terminal on a pseudo-terminal"};
  std::string link;
  std::string serial;
  bool noStdin = false;
  app.add_option("--link", link, "Also make this symbolic link to the device");
  app.add_option("--serial", serial, "Serial number to start with (8 characters)")
      ->check([](const std::string& s) {
        return s.size() == 8 ? std::string() : std::string("must be 8 characters");
      });
  app.add_flag("--no-stdin", noStdin, "Ignore standard input; run until SIGINT/SIGTERM");
  CLI11_PARSE(app, argc, argv);

  try {
    vterm::Terminal terminal;
    if (!serial.empty()) terminal.Device().SetSerialNumber(serial);
    vterm::PtyFrontEnd pty(terminal);
    if (!link.empty()) {
      std::error_code ec;
      std::filesystem::remove(link, ec);
      std::filesystem::create_symlink(pty.Path(), link, ec);
      if (ec) {
        std::cerr << "vantorel-vterm: cannot create " << link << ": " << ec.message() << "\n";
        return 1;
      }
    }
    std::cout << pty.Path() << std::endl;
    vterm::Console console(terminal);
    const int rc = vterm::RunConsole(console, !noStdin);
    if (!link.empty()) {
      std::error_code ec;
      std::filesystem::remove(link, ec);
    }
    return rc;
  } catch (const std::exception& e) {
    std::cerr << "vantorel-vterm: " << e.what() << "\n";
    return 1;
  }
}
