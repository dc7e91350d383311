// The console's input loop: the script, standard input lines, SIGINT and SIGTERM.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <string>

#include "vterm/console.h"

namespace vterm {

namespace {

int signalPipe[2] = {-1, -1};
Console* signalled = nullptr;

extern "C" void OnSignal(int) {
  const char b = 1;
  [[maybe_unused]] const auto r = ::write(signalPipe[1], &b, 1);
  // Ends a wait or sleep the script is in (the flag is a lock-free atomic).
  if (signalled != nullptr) signalled->Interrupt();
}

}  // namespace

int RunConsole(Console& console, bool readStdin, const std::string& scriptName,
               const std::vector<std::string>& script) {
  if (::pipe(signalPipe) != 0) return 1;
  signalled = &console;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  ::sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);

  if (!script.empty()) {
    const int rc = RunScript(console, scriptName, script, std::cout, std::cerr);
    // A signal during the script ends the program like one afterwards, not as a failure.
    if (console.Interrupted()) return 0;
    if (rc != 0) return rc;
  }

  std::string line;
  char buffer[1024];
  bool inputOpen = readStdin;
  while (!console.QuitRequested()) {
    pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (::poll(fds, inputOpen ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    if (fds[0].revents & POLLIN) break;
    if (!inputOpen || !(fds[1].revents & (POLLIN | POLLHUP))) continue;
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      // End of input ends the program, unless a script set it up to serve on.
      if (script.empty()) break;
      inputOpen = false;
      continue;
    }
    line.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = line.find('\n')) != std::string::npos;) {
      const std::string out = console.Execute(std::string_view(line).substr(0, nl));
      line.erase(0, nl + 1);
      std::fputs(out.c_str(), stdout);
      std::fflush(stdout);
      if (console.QuitRequested()) break;
    }
  }
  return 0;
}

}  // namespace vterm
