// vantorel-vterm: the virtual terminal on a pseudo-terminal. Prints the device path on
// the first line of standard output, then takes console commands on standard input.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "vterm/console.h"
#include "vterm/device.h"
#include "vterm/modules.h"
#include "vterm/pty_front_end.h"
#include "vterm/terminal.h"
#ifdef VTERM_WITH_WEB
#include "vterm/web/web_view.h"
#endif

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
  std::string web;
  app.add_option("--web", web,
                 "Serve the browser view at [ADDR:]PORT (loopback unless ADDR is given; "
                 "PORT 0 picks a free one)");
  CLI11_PARSE(app, argc, argv);

  try {
    vterm::Terminal terminal;
    vterm::InstallAllModules(terminal);
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
#ifdef VTERM_WITH_WEB
    std::unique_ptr<vterm::WebView> view;
    if (!web.empty()) {
      const auto address = vterm::ParseWebAddress(web);
      if (!address) {
        std::cerr << "vantorel-vterm: --web takes [ADDR:]PORT, not " << web << "\n";
        return 1;
      }
      // A browser that goes away must not end the program.
      std::signal(SIGPIPE, SIG_IGN);
      view = std::make_unique<vterm::WebView>(terminal, *address, "serial " + pty.Path());
      std::cout << "web " << view->Url() << std::endl;
    }
#else
    if (!web.empty()) {
      std::cerr << "vantorel-vterm: built without the browser view (needs cpp-httplib and "
                   "nlohmann-json)\n";
      return 1;
    }
#endif
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
