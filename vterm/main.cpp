// vantorel-vterm: the whole virtual terminal (device, signature pad, card reader, PIN pad)
// on a pseudo-terminal, or with --uhid as a USB HID device of the running kernel. Prints the
// device path on the first line of standard output, then runs the script given with
// --script and takes console commands on standard input (docs/vterm.md).
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "vterm/console.h"
#include "vterm/device.h"
#include "vterm/modules.h"
#include "vterm/pty_front_end.h"
#include "vterm/signpad.h"
#include "vterm/terminal.h"
#include "vterm/uhid_front_end.h"
#ifdef VTERM_WITH_WEB
#include "vterm/web/web_view.h"
#endif

namespace {

constexpr char kUhidPath[] = "/dev/uhid";

struct Options {
  std::string link;
  std::string serial;
  bool noStdin = false;
  bool uhid = false;
  std::string script;
  std::string web;
  int delayMs = 0;
};

void AddOptions(CLI::App& app, Options& o) {
  auto* link = app.add_option("--link", o.link, "Also make this symbolic link to the device");
  app.add_option("--serial", o.serial, "Serial number to start with (8 characters)")
      ->check([](const std::string& s) {
        return s.size() == 8 ? std::string() : std::string("must be 8 characters");
      });
  app.add_option("--delay", o.delayMs,
                 "Take this many milliseconds to carry out every command (a slow terminal)")
      ->check(CLI::Range(0, 60000));
  app.add_flag("--no-stdin", o.noStdin, "Ignore standard input; run until SIGINT/SIGTERM");
  app.add_flag("--uhid", o.uhid,
               "Be a USB HID device of this machine (through /dev/uhid) instead of a "
               "pseudo-terminal")
      ->excludes(link);
  app.add_option("--web", o.web,
                 "Serve the browser view at [ADDR:]PORT: loopback unless ADDR is given, "
                 "PORT 0 picks a free one; prints \"web <url>\" on the second line");
  app.add_option("--script", o.script,
                 "Run the console commands in this file first (docs/vterm.md); a failing "
                 "line, or a wait that runs out, ends the program with status 1");
}

// Why /dev/uhid cannot be used, in one line with the fix; empty when it can.
std::string UhidProblem() {
  const int fd = ::open(kUhidPath, O_RDWR | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return {};
  }
  const int e = errno;
  if (e == ENOENT || e == ENODEV || e == ENXIO) {
    return std::string(kUhidPath) + " is missing: load the kernel module with `sudo modprobe uhid`";
  }
  if (e == EACCES || e == EPERM) {
    return std::string("no write access to ") + kUhidPath +
           ": run as root, or give your group access (e.g. a udev rule KERNEL==\"uhid\", "
           "GROUP=\"plugdev\", MODE=\"0660\")";
  }
  return std::string("cannot open ") + kUhidPath + ": " + std::strerror(e);
}

bool ReadScript(const std::string& path, std::vector<std::string>& lines) {
  std::ifstream in(path);
  if (!in) return false;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return true;
}

// How long the end of the program waits for the host to read what was answered.
constexpr std::chrono::milliseconds kDrainLimit{2000};

// Makes `link` point at `target`. A path that is already there is left alone (another
// terminal's link, or a file of the user's), except a dangling symbolic link: what a
// terminal that was killed left behind. Returns the problem, or "".
std::string MakeLink(const std::string& link, const std::string& target) {
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(link, ec);
  if (std::filesystem::is_symlink(status) && !std::filesystem::exists(link, ec)) {
    std::filesystem::remove(link, ec);
  }
  // Creating fails on an existing path, so two terminals started together cannot both win.
  std::filesystem::create_symlink(target, link, ec);
  if (ec == std::errc::file_exists) {
    return link +
           " already exists (another virtual terminal's link, or not a link at all); "
           "choose another --link or remove it";
  }
  if (ec) return "cannot create " + link + ": " + ec.message();
  return {};
}

// Removes `link` only while it still points at `target`: never another terminal's link.
void RemoveOwnLink(const std::string& link, const std::string& target) {
  std::error_code ec;
  if (std::filesystem::read_symlink(link, ec) == target && !ec) std::filesystem::remove(link, ec);
}

int Run(const Options& o) {
  std::vector<std::string> script;
  if (!o.script.empty() && !ReadScript(o.script, script)) {
    std::cerr << "vantorel-vterm: cannot read the script " << o.script << "\n";
    return 1;
  }
  if (o.uhid) {
    if (std::string problem = UhidProblem(); !problem.empty()) {
      std::cerr << "vantorel-vterm: " << problem << "\n";
      return 2;
    }
  }

  vterm::Terminal terminal;
  vterm::InstallAllModules(terminal);
  if (!o.serial.empty()) terminal.Device().SetSerialNumber(o.serial);
  terminal.SetProcessingDelay(o.delayMs);
  // A script that is only comments still needs something to wait for.
  if (script.empty() && !o.script.empty()) script.push_back("# empty");

  std::unique_ptr<vterm::PtyFrontEnd> pty;
  std::unique_ptr<vterm::UhidFrontEnd> uhid;
  if (o.uhid) {
    terminal.Get<vterm::SignpadModule>().SetHidLink(true);
    uhid = std::make_unique<vterm::UhidFrontEnd>(terminal);
    std::cout << uhid->NodePath() << std::endl;
  } else {
    pty = std::make_unique<vterm::PtyFrontEnd>(terminal);
    if (!o.link.empty()) {
      if (std::string problem = MakeLink(o.link, pty->Path()); !problem.empty()) {
        std::cerr << "vantorel-vterm: " << problem << "\n";
        return 1;
      }
    }
    std::cout << pty->Path() << std::endl;
  }

#ifdef VTERM_WITH_WEB
  std::unique_ptr<vterm::WebView> view;
  if (!o.web.empty()) {
    const auto address = vterm::ParseWebAddress(o.web);
    if (!address) {
      std::cerr << "vantorel-vterm: --web takes [ADDR:]PORT, not " << o.web << "\n";
      return 1;
    }
    // A browser that goes away must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    view = std::make_unique<vterm::WebView>(
        terminal, *address, o.uhid ? "USB HID " + uhid->NodePath() : "serial " + pty->Path());
    std::cout << "web " << view->Url() << std::endl;
  }
#else
  if (!o.web.empty()) {
    std::cerr << "vantorel-vterm: built without the browser view (it needs cpp-httplib and "
                 "nlohmann-json; scripts/deps.sh installs them)\n";
    return 1;
  }
#endif

  vterm::Console console(terminal);
  const int rc = vterm::RunConsole(console, !o.noStdin, o.script, script);
  // What the terminal answered before a `quit` (a script's last `wait`, then `quit`) reaches
  // the host: closing the port would drop what it has not read yet. A signal ends at once.
  if (pty && console.QuitRequested()) pty->Drain(kDrainLimit);
  if (!o.link.empty()) RemoveOwnLink(o.link, pty->Path());
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Virtual payment terminal (device, signature pad, card reader, PIN pad) on a "
      "pseudo-terminal or as a USB HID device"};
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
