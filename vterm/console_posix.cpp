// The console's input loop: the script, standard input lines, SIGINT and SIGTERM.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

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

  // The script runs beside standard input, so a person (or a test rig) can still look and
  // steer while it waits. Each reply is written whole by one call, which stdio keeps in
  // one piece between the two threads.
  std::atomic<int> scriptResult{0};
  std::thread scriptThread;
  const bool scripted = !script.empty();
  if (scripted) {
    scriptThread = std::thread([&] {
      scriptResult = RunScript(console, scriptName, script, std::cout, std::cerr);
      // Wake the loop when the script ended the program.
      if (scriptResult != 0 || console.QuitRequested()) OnSignal(0);
    });
  }

  std::string line;
  char buffer[1024];
  bool inputOpen = readStdin;
  while (!console.QuitRequested()) {
    pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (::poll(fds, inputOpen ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents & POLLIN) break;
    if (!inputOpen || !(fds[1].revents & (POLLIN | POLLHUP))) continue;
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      // End of input ends the program, unless a script set it up to serve on.
      if (!scripted) break;
      inputOpen = false;
      continue;
    }
    line.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = line.find('\n')) != std::string::npos;) {
      const Console::Outcome out = console.Run(std::string_view(line).substr(0, nl));
      line.erase(0, nl + 1);
      std::fwrite(out.text.data(), 1, out.text.size(), stdout);
      std::fflush(stdout);
      if (console.QuitRequested()) break;
    }
  }
  if (scriptThread.joinable()) {
    // A script still waiting ends here, without counting as failed.
    const int failedBefore = scriptResult;
    if (failedBefore == 0) console.Interrupt();
    scriptThread.join();
  }
  return scriptResult;
}

}  // namespace vterm
