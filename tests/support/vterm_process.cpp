#include "support/vterm_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace support {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

void MakePipe(int fds[2]) {
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

}  // namespace

VtermProcess::VtermProcess(const std::string& program, const std::vector<std::string>& args) {
  int in[2], out[2], err[2];
  MakePipe(in);
  MakePipe(out);
  MakePipe(err);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  if (pid_ < 0) throw std::runtime_error("fork failed");
  // A console that is gone must not end the test with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
}

VtermProcess::~VtermProcess() {
  if (!status_ && pid_ > 0) {
    if (!Terminate(milliseconds(3000))) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  for (int fd : {in_, out_, err_}) {
    if (fd >= 0) ::close(fd);
  }
}

void VtermProcess::Pump(int fd, std::string& into, milliseconds timeout) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return;
  char buffer[4096];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n > 0) into.append(buffer, static_cast<std::size_t>(n));
  if (n == 0) std::this_thread::sleep_for(milliseconds(5));  // end of output: do not spin
}

std::optional<std::string> VtermProcess::ReadLine(milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (true) {
    if (const auto nl = outBuffer_.find('\n'); nl != std::string::npos) {
      std::string line = outBuffer_.substr(0, nl);
      outBuffer_.erase(0, nl + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    if (left <= milliseconds(0)) return std::nullopt;
    Pump(out_, outBuffer_, left);
  }
}

bool VtermProcess::WaitForLine(const std::string& line, milliseconds timeout,
                               std::vector<std::string>* skipped) {
  const auto deadline = Clock::now() + timeout;
  while (true) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    auto got = ReadLine(std::max(left, milliseconds(0)));
    if (!got) return false;
    if (*got == line) return true;
    if (skipped) skipped->push_back(*got);
  }
}

void VtermProcess::Write(const std::string& text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const ssize_t n = ::write(in_, text.data() + at, text.size() - at);
    if (n <= 0) return;
    at += static_cast<std::size_t>(n);
  }
}

std::string VtermProcess::Execute(const std::string& command) {
  const std::string marker = "end-of-reply-" + std::to_string(++marker_);
  Write(command + "\necho " + marker + "\n");
  std::vector<std::string> lines;
  if (!WaitForLine(marker, milliseconds(30000), &lines)) return "(no reply)";
  std::string reply;
  for (const auto& l : lines) reply += l + "\n";
  return reply;
}

std::optional<int> VtermProcess::WaitForExit(milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!status_) {
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      break;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    Pump(err_, errBuffer_, milliseconds(10));
  }
  return status_;
}

std::optional<int> VtermProcess::Terminate(milliseconds timeout) {
  if (!status_) ::kill(pid_, SIGTERM);
  return WaitForExit(timeout);
}

std::string VtermProcess::Errors() {
  // Take what is there (all of it once the program ended and closed its end).
  for (int i = 0; i < 100; ++i) {
    const std::size_t before = errBuffer_.size();
    Pump(err_, errBuffer_, milliseconds(status_ ? 50 : 0));
    if (errBuffer_.size() == before) break;
  }
  return errBuffer_;
}

}  // namespace support
