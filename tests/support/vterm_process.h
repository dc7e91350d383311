// The vantorel-vterm program as a child process: its console on a pipe, its first output
// line (the device path) read back, its end observed. What an application's own test rig
// does with the installed program.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace support {

class VtermProcess {
 public:
  // Starts `program` with `args`; standard input, output and error go to pipes.
  VtermProcess(const std::string& program, const std::vector<std::string>& args);
  // Ends the program (SIGTERM, then SIGKILL) if it still runs.
  ~VtermProcess();
  VtermProcess(const VtermProcess&) = delete;
  VtermProcess& operator=(const VtermProcess&) = delete;

  // The next whole line of standard output (without its LF); none after `timeout` or at
  // the end of output.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
  // Reads standard output until a line equal to `line` (which is consumed); false after
  // `timeout`. Lines before it are kept in `skipped` when given.
  bool WaitForLine(const std::string& line, std::chrono::milliseconds timeout,
                   std::vector<std::string>* skipped = nullptr);
  // Runs one console command and returns what it printed: the command is followed by an
  // echo of a marker that ends its reply.
  std::string Execute(const std::string& command);
  // Writes raw text to the console.
  void Write(const std::string& text);

  // The exit status once the program ended within `timeout` (-1 for a signal).
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
  // Sends SIGTERM and waits for the end.
  std::optional<int> Terminate(std::chrono::milliseconds timeout);
  // Everything written to standard error so far (once it ended: all of it).
  std::string Errors();

 private:
  void Pump(int fd, std::string& into, std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string outBuffer_;
  std::string errBuffer_;
  std::optional<int> status_;
  int marker_ = 0;
};

}  // namespace support
